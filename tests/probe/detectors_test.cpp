#include "fake_platform.h"
#include "jpeg_reference.h"
#include "test_files.h"

#include <random>
#include <set>

namespace {

using Detector = int (*)(ImageInfo*, const char*);
const Detector kDetectors[] = {ProbeBmp, ProbeGif, ProbePng, ProbeMng, ProbeJpeg, ProbePixia, ProbeRif};

Bytes Truncated(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
const Bytes kJfif = Cat({kSoi, kApp0});
const Bytes kJfif8 = Cat({kSoi, Bytes(kApp0.begin(), kApp0.begin() + 8)}); // the 10 bytes tested

Bytes Segment(uint8_t marker, size_t payload, uint8_t fill = 0x11)
{
    return Cat({{0xFF, marker}, Be16(uint32_t(payload + 2)), Bytes(payload, fill)});
}

Bytes Frame(uint8_t marker, uint16_t lines, uint16_t samples, uint8_t components)
{
    Bytes bytes = Cat({{0xFF, marker}, Be16(8u + 3u * components), {8}, Be16(lines), Be16(samples), {components}});
    for (uint8_t i = 0; i < components; ++i)
        bytes.insert(bytes.end(), {uint8_t(i + 1), 0x11, 0x00});
    return bytes;
}

// Entropy-coded bytes as an encoder writes them: any 0xFF is followed by a stuffed zero.
Bytes Entropy(size_t count)
{
    Bytes bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(uint8_t(i * 37 + 11));
        if (bytes.back() == 0xFF)
            bytes.push_back(0);
    }
    return bytes;
}

const Bytes kSos = Cat({Segment(0xDA, 10), Entropy(500), {0xFF, 0xD9}});
const Bytes kTables = Cat({Segment(0xDB, 67), Segment(0xC4, 31), Segment(0xFE, 5)});

struct DetectorCase {
    const char* label;
    Detector detect;
    const char* fileName;
    Bytes bytes;
    int result;
    int32_t width, height;
    uint32_t depth;
};

const DetectorCase kCases[] = {
    {"bmp named in capitals", ProbeBmp, "A.BMP", Bmp(640, 480, 24), 1, 640, 480, 24},
    {"bmp top-down, no dot before bmp", ProbeBmp, "topdownbmp", Bmp(640, uint32_t(-480), 8), 1, 640, -480, 8},
    // The old 12-byte core header has unsigned 16-bit fields at other offsets; every other size
    // (the 16-byte short form of its successor included) has signed 32-bit fields.
    {"bmp 12-byte core header", ProbeBmp, "core.bmp",
     Header(26, {{0, {'B', 'M'}}, {14, Le32(12)}, {18, Le16(65535)}, {20, Le16(40000)}, {22, Le16(1)}, {24, Le16(8)}}), 1, 65535, 40000, 8},
    {"bmp 16-byte header", ProbeBmp, "short.bmp",
     Header(30, {{0, {'B', 'M'}}, {14, Le32(16)}, {18, Le32(70000)}, {22, Le32(uint32_t(-5))}, {26, Le16(1)}, {28, Le16(4)}}), 1, 70000, -5, 4},
    {"bmp of ten bytes", ProbeBmp, "short.bmp", Truncated(Bmp(640, 480, 24), 10), 1, 0, 0, 0},
    {"bmp cut inside the height", ProbeBmp, "cut.bmp", Truncated(Bmp(640, 0x01020304, 24), 24), 1, 640, 0x0304, 0},
    {"bmp holding a png", ProbeBmp, "png.bmp", Png(1, 1), 0, 0, 0, 0},
    {"bmp shorter than its signature", ProbeBmp, "b.bmp", {'B'}, 0, 0, 0, 0},
    {"gif", ProbeGif, "a.gif", Gif(320, 200), 1, 320, 200, 8},
    {"gif version unchecked", ProbeGif, "a.gif", Header(13, {{0, {'G', 'I', 'F', 'x', 'x', 'x'}}, {6, Le16(65535)}, {10, {0xB3}}}), 1, 65535, 0, 4},
    {"gif cut after the signature", ProbeGif, "a.gif", {'G', 'I', 'F'}, 1, 0, 0, 8},
    {"gif signature", ProbeGif, "a.gif", {'G', 'I', 'E', '8', '9', 'a', 1, 0, 1, 0, 0}, 0, 0, 0, 0},
    {"png", ProbePng, "a.png", Png(800, 600, 8, 6), 1, 800, 600, 24},
    {"png cut inside the width", ProbePng, "a.png", Truncated(Png(0x01020304, 9), 18), 1, 0x01020000, 0, 0},
    {"png signature's zero bytes count", ProbePng, "a.png", Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}}}), 0, 0, 0, 0},
    {"png shorter than its signature", ProbePng, "a.png", Truncated(Png(1, 1), 7), 0, 0, 0, 0},
    {"png named mng", ProbeMng, "a.mng", Png(1, 1), 0, 0, 0, 0},
    {"mng", ProbeMng, "a.MNG", Header(28, {{0, {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(1024)}, {20, Be32(768)}}), 1, 1024, 768, 0},
    {"pixia", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(123)}, {232, Le32(45)}}), 1, 123, 45, 24},
    {"pixia cut short", ProbePixia, "a.pxa", {'P', 'i', 'x', 'i', 'a'}, 1, 0, 0, 24},
    {"pixia signature", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'A'}}}), 0, 0, 0, 0},
    {"rif stores height first", ProbeRif, "a.rif", {0x00, 0x02, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 1, 640, 480, 24},
    {"rif signature 00 03 00 01", ProbeRif, "a.rif", {0x00, 0x03, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
    {"rif signature of zeros", ProbeRif, "a.rif", {0, 0, 0, 0, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
    {"jpeg baseline colour", ProbeJpeg, "a.jpg", Cat({kJfif, kTables, Frame(0xC0, 480, 640, 3), kSos}), 1, 640, 480, 24},
    {"jpeg grey, upper-case, no dot", ProbeJpeg, "greyJPG", Cat({kJfif, Frame(0xC0, 480, 640, 1), kSos}), 1, 640, 480, 8},
    {"jpeg four components", ProbeJpeg, "a.Jpeg", Cat({kJfif, Frame(0xC0, 2, 65535, 4), kSos}), 1, 65535, 2, 8},
    {"jpe is no jpeg name", ProbeJpeg, "a.jpe", Cat({kJfif, Frame(0xC0, 7, 9, 3)}), 0, 0, 0, 0},
    {"jpeg zero lines", ProbeJpeg, "a.jpg", Cat({kJfif, Frame(0xC0, 0, 300, 3), kSos}), 1, 300, 0, 24},
    {"jpeg progressive gives zeros", ProbeJpeg, "a.jpg", Cat({kJfif, kTables, Frame(0xC2, 480, 640, 3), kSos}), 1, 0, 0, 0},
    {"jpeg exif first", ProbeJpeg, "a.jpg", Cat({kSoi, {0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0}, Bytes(10, 0), Frame(0xC0, 1, 1, 3)}), 0, 0, 0, 0},
    {"jpeg without start of image", ProbeJpeg, "a.jpg", Bytes(kApp0.begin(), kApp0.begin() + 8), 0, 0, 0, 0},
    {"jpeg of nine bytes", ProbeJpeg, "a.jpg", Truncated(kJfif8, 9), 0, 0, 0, 0},
    {"jpeg of ten bytes", ProbeJpeg, "a.jpg", kJfif8, 1, 0, 0, 0},
    {"jpeg identifier terminator unchecked", ProbeJpeg, "a.jpg", Cat({kJfif8, {0x7A}, Bytes(kApp0.begin() + 9, kApp0.end()), Frame(0xC0, 3, 4, 3)}), 1, 4, 3, 24},
    // Length 0: the next head starts 2 bytes on, inside this one; length 1: 3 bytes on.
    {"jpeg segment length 0", ProbeJpeg, "a.jpg", Cat({kJfif, {0xAA, 0xBB, 0x00, 0x00, 0x00, 0x04, 0x55, 0x55}, Frame(0xC0, 16, 32, 3)}), 1, 32, 16, 24},
    {"jpeg segment length 1", ProbeJpeg, "a.jpg", Cat({kJfif, {0xAA, 0xBB, 0x00, 0x01, 0x77, 0x00, 0x03, 0x55}, Frame(0xC0, 16, 32, 1)}), 1, 32, 16, 8},
    // After the scan header the walk takes lengths from the entropy-coded bytes.
    {"jpeg walk runs through entropy data", ProbeJpeg, "a.jpg", Cat({kJfif, Frame(0xC2, 9, 9, 3), Segment(0xDA, 6), {0x12, 0x34, 0x00, 0x02}, Frame(0xC0, 5, 7, 1)}), 1, 7, 5, 8},
    {"jpeg frame header cut short", ProbeJpeg, "a.jpg", Cat({kJfif, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}}), 1, 0, 0x0100, 8},
};

void PrintTo(const DetectorCase& c, std::ostream* os) { *os << c.label; }

class DetectorTest : public ::testing::TestWithParam<DetectorCase> {};

TEST_P(DetectorTest, StoresHeaderFieldsOrLeavesRecordUnchanged)
{
    const DetectorCase& c = GetParam();
    TempDir dir;
    std::string path = dir.Write(c.fileName, c.bytes);
    ImageInfo info = MarkedRecord();
    const ImageInfo before = info;

    ASSERT_EQ(c.detect(&info, path.c_str()), c.result);
    if (c.result == 0) {
        EXPECT_EQ(memcmp(&info, &before, sizeof info), 0) << "a failing detector changed the record";
        return;
    }
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    bool mng = c.detect == ProbeMng;
    EXPECT_EQ(info.depth, mng ? before.depth : c.depth);
    EXPECT_EQ(info.flags, before.flags | (mng ? uint32_t(INFO_COLORS_UNSUPPORTED) : 0u));
    EXPECT_EQ(info.icon, before.icon);
    EXPECT_EQ(info.fileSize, before.fileSize);
    EXPECT_EQ(memcmp(info.name, before.name, sizeof info.name), 0);
    EXPECT_EQ(memcmp(info.typeName, before.typeName, sizeof info.typeName), 0);
    if (c.detect == ProbeJpeg) { // the table agrees with the plain walk
        JpegReference reference = WalkJpegReference(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(reference.width, c.width);
        EXPECT_EQ(reference.height, c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DetectorTest, ::testing::ValuesIn(kCases), CaseName<DetectorCase>);

// GIF: colour resolution 3 (bits 6-4 of the packed byte) gives 4, any other 8. PNG: colour types
// with bit 1 set and bit 0 clear (truecolour, with or without alpha) count three samples.
TEST(Depth, GifColourResolutionAndPngColourType)
{
    const struct { Detector detect; Bytes bytes; uint32_t depth; } table[] = {
        {ProbeGif, Gif(1, 1, 0xB3), 4}, {ProbeGif, Gif(1, 1, 0x38), 4}, {ProbeGif, Gif(1, 1, 0x70), 8},
        {ProbeGif, Gif(1, 1, 0x20), 8}, {ProbeGif, Gif(1, 1, 0x40), 8}, {ProbeGif, Gif(1, 1, 0x00), 8},
        {ProbePng, Png(1, 1, 16, 6), 48}, {ProbePng, Png(1, 1, 4, 3), 4}, {ProbePng, Png(1, 1, 8, 4), 8},
        {ProbePng, Png(1, 1, 8, 7), 8}, {ProbePng, Png(1, 1, 8, 0xFE), 24},
    };
    TempDir dir;
    for (const auto& row : table) {
        ImageInfo info{};
        ASSERT_EQ(row.detect(&info, dir.Write(row.detect == ProbeGif ? "d.gif" : "d.png", row.bytes).c_str()), 1);
        EXPECT_EQ(info.depth, row.depth) << int(row.bytes[row.detect == ProbeGif ? 10 : 25]);
    }
}

// A wrong ending never opens the file; a file that cannot be opened gives 0 and an untouched record.
TEST(Detectors, WrongExtensionOrUnopenableFileGivesZero)
{
    TempDir dir;
    std::string wrongName = dir.Write("image.txt", Bmp(1, 1, 1));
    int opens = g_fake.opens;
    for (Detector detect : kDetectors) {
        ImageInfo info = MarkedRecord();
        const ImageInfo before = info;
        EXPECT_EQ(detect(&info, wrongName.c_str()), 0);
        EXPECT_EQ(g_fake.opens, opens);
        for (const char* name : {"gone.bmp", "gone.gif", "gone.png", "gone.mng", "gone.jpg", "gone.pxa", "gone.rif"})
            EXPECT_EQ(detect(&info, (dir.path / name).c_str()), 0) << name;
        EXPECT_EQ(memcmp(&info, &before, sizeof info), 0);
        opens = g_fake.opens;
    }
    ImageInfo info{};
    EXPECT_EQ(ProbeBmp(&info, "mp"), 0);
}

TEST(HasExtension, ComparesBytesFoldingAsciiOnly)
{
    struct { const char* path; const char* extension; bool expected; } table[] = {
        {"a.JPEG", "jpeg", true}, {"xjpg", "jpg", true}, {"jpg", "jpg", true}, {"a.jpe", "jpg", false},
        {"jp", "jpg", false}, {"", "bmp", false}, {"a.jpg", "jpeg", false},
        // Bytes from 0x80 up are never folded: 0xC1 is not 0xE1.
        {"a.\xC1", "\xE1", false}, {"a.\xC1", "\xC1", true},
        // The last bytes may be a double-byte character's trail byte.
        {"\x83\x42MP", "bmp", true}, {"\x83\xC2mp", "bmp", false},
    };
    for (const auto& row : table)
        EXPECT_EQ(HasExtension(row.path, row.extension), row.expected) << row.path << " " << row.extension;
}

// Inputs that stress the shortcuts of the detector's walk: runs of zeros of every length and
// parity, ending just before, on or after the window's edges, heads with lengths 0 and 1, and
// frame headers at arbitrary places.
Bytes RandomJpeg(std::mt19937& random)
{
    Bytes bytes = kJfif;
    size_t target = random() % 4 == 0 ? 60000 + random() % 200000 : random() % 3000;
    while (bytes.size() < target) {
        switch (random() % 7) {
        case 0: bytes.insert(bytes.end(), random() % 40, 0); break;
        case 1: bytes.insert(bytes.end(), random() % 140000, 0); break;
        case 2: bytes.insert(bytes.end(), {0xFF, 0xC0}); break;
        case 3: bytes.insert(bytes.end(), {uint8_t(random() % 256), uint8_t(random() % 256), 0x00, uint8_t(random() % 3)}); break;
        case 4: bytes.push_back(uint8_t(random() % 4 == 0 ? 0 : random() % 256)); break;
        case 5: { Bytes s = Segment(uint8_t(random() % 256), random() % 300, uint8_t(random() % 2 ? 0 : 0x5A)); bytes.insert(bytes.end(), s.begin(), s.end()); break; }
        default: bytes.insert(bytes.end(), {0x00, 0x00, 0x00, 0x01}); break;
        }
    }
    if (random() % 3 == 0)
        bytes.resize(bytes.size() - random() % std::min<size_t>(bytes.size(), 12));
    return bytes;
}

TEST(JpegWalkEquivalence, SameResultsAsThePlainWalkOverRandomInputs)
{
    std::mt19937 random(20260);
    TempDir dir;
    int found = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = RandomJpeg(random);
        std::string path = dir.Write("r.jpg", bytes);
        JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
        ImageInfo info{};
        ASSERT_EQ(ProbeJpeg(&info, path.c_str()), expected.result) << "round " << round;
        ASSERT_EQ(info.width, expected.width) << "round " << round << ", size " << bytes.size();
        ASSERT_EQ(info.height, expected.height) << "round " << round;
        ASSERT_EQ(info.depth, expected.depth) << "round " << round;
        found += expected.depth != 0;
    }
    // The inputs must reach frame headers as well as the end of the file.
    EXPECT_GT(found, 40);
    EXPECT_LT(found, 360);
}

// Zero runs of every length from every start parity. The head that the walk reads where the
// run ends leads to one frame header from an odd landing spot and to another from an even one.
TEST(JpegWalkEquivalence, ZeroRunsKeepTheWalksParity)
{
    TempDir dir;
    std::set<int32_t> widths;
    for (size_t pad = 0; pad < 4; ++pad) {
        for (size_t run : {1, 2, 3, 4, 5, 6, 7, 255, 256, 65531, 65536, 65537, 131075}) {
            // Landing 3 bytes before 0A 0B reads length 0x0A, 2 bytes before reads 0x0A0B.
            Bytes tail = Cat({{0x0A, 0x0B}, Bytes(7, 0x55), Frame(0xC0, 11, 13, 3)});
            tail.resize(2571, 0x55);
            Bytes bytes = Cat({kJfif, Segment(0xE1, pad), Bytes(run, 0), tail, Frame(0xC0, 17, 19, 1)});
            JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
            ImageInfo info{};
            ASSERT_EQ(ProbeJpeg(&info, dir.Write("z.jpg", bytes).c_str()), 1);
            EXPECT_EQ(info.width, expected.width) << "pad " << pad << " run " << run;
            EXPECT_EQ(info.height, expected.height) << "pad " << pad << " run " << run;
            EXPECT_EQ(info.depth, expected.depth) << "pad " << pad << " run " << run;
            widths.insert(expected.width);
        }
    }
    EXPECT_TRUE(widths.count(13) && widths.count(19)) << "both landing spots must be exercised";
}

} // namespace
