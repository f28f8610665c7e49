#include "fake_platform.h"
#include "jpeg_reference.h"
#include "test_files.h"

#include <random>
#include <set>

namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};

Bytes Segment(uint8_t marker, size_t payload, uint8_t fill = 0x11)
{
    Bytes bytes = {0xFF, marker};
    Bytes length = Be16(uint32_t(payload + 2));
    bytes.insert(bytes.end(), length.begin(), length.end());
    bytes.insert(bytes.end(), payload, fill);
    return bytes;
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
        uint8_t b = uint8_t(i * 37 + 11);
        bytes.push_back(b);
        if (b == 0xFF)
            bytes.push_back(0);
    }
    return bytes;
}

const Bytes kSos = Cat({Segment(0xDA, 10), Entropy(500), {0xFF, 0xD9}});
const Bytes kTables = Cat({Segment(0xDB, 67), Segment(0xC4, 31), Segment(0xFE, 5)});

struct JpegCase {
    const char* label;
    const char* fileName;
    Bytes bytes;
    int result;
    int32_t width, height;
    uint32_t depth;
};

const JpegCase kCases[] = {
    {"baseline colour", "a.jpg", Cat({kSoi, kApp0, kTables, Frame(0xC0, 480, 640, 3), kSos}), 1, 640, 480, 24},
    {"baseline grey", "a.JPG", Cat({kSoi, kApp0, Frame(0xC0, 480, 640, 1), kSos}), 1, 640, 480, 8},
    {"baseline four components", "a.Jpeg", Cat({kSoi, kApp0, Frame(0xC0, 2, 65535, 4), kSos}), 1, 65535, 2, 8},
    {"no dot before jpg", "photojpg", Cat({kSoi, kApp0, Frame(0xC0, 7, 9, 3)}), 1, 9, 7, 24},
    {"jpe is no jpeg name", "a.jpe", Cat({kSoi, kApp0, Frame(0xC0, 7, 9, 3)}), 0, 0, 0, 0},
    {"zero lines", "a.jpg", Cat({kSoi, kApp0, Frame(0xC0, 0, 300, 3), kSos}), 1, 300, 0, 24},
    {"progressive gives zeros", "a.jpg", Cat({kSoi, kApp0, kTables, Frame(0xC2, 480, 640, 3), kSos}), 1, 0, 0, 0},
    {"extended sequential gives zeros", "a.jpg", Cat({kSoi, kApp0, Frame(0xC1, 480, 640, 3), kSos}), 1, 0, 0, 0},
    {"exif first", "a.jpg", Cat({kSoi, {0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0}, Bytes(10, 0), Frame(0xC0, 1, 1, 3)}), 0, 0, 0, 0},
    {"no start of image", "a.jpg", Bytes(kApp0.begin(), kApp0.begin() + 8), 0, 0, 0, 0},
    {"nine bytes", "a.jpg", Cat({kSoi, Bytes(kApp0.begin(), kApp0.begin() + 7)}), 0, 0, 0, 0},
    {"ten bytes", "a.jpg", Cat({kSoi, Bytes(kApp0.begin(), kApp0.begin() + 8)}), 1, 0, 0, 0},
    {"identifier terminator unchecked", "a.jpg", Cat({kSoi, Bytes(kApp0.begin(), kApp0.begin() + 8), {0x7A}, Bytes(kApp0.begin() + 9, kApp0.end()), Frame(0xC0, 3, 4, 3)}), 1, 4, 3, 24},
    // Length 0: the next head starts 2 bytes on, inside this one.
    {"segment length 0", "a.jpg", Cat({kSoi, kApp0, {0xAA, 0xBB, 0x00, 0x00, 0x00, 0x04, 0x55, 0x55}, Frame(0xC0, 16, 32, 3)}), 1, 32, 16, 24},
    // Length 1: the next head starts 3 bytes on.
    {"segment length 1", "a.jpg", Cat({kSoi, kApp0, {0xAA, 0xBB, 0x00, 0x01, 0x77, 0x00, 0x03, 0x55}, Frame(0xC0, 16, 32, 1)}), 1, 32, 16, 8},
    // After the scan header the walk takes lengths from the entropy-coded bytes.
    {"walk runs through entropy data", "a.jpg", Cat({kSoi, kApp0, Frame(0xC2, 9, 9, 3), Segment(0xDA, 6), {0x12, 0x34, 0x00, 0x02}, Frame(0xC0, 5, 7, 1)}), 1, 7, 5, 8},
    {"frame header cut short", "a.jpg", Cat({kSoi, kApp0, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}}), 1, 0, 0x0100, 8},
};

void PrintTo(const JpegCase& c, std::ostream* os) { *os << c.label; }

class JpegTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(JpegTest, WalksToTheBaselineFrameHeader)
{
    const JpegCase& c = GetParam();
    TempDir dir;
    std::string path = dir.Write(c.fileName, c.bytes);
    ImageInfo info = MarkedRecord();
    const ImageInfo before = info;
    ASSERT_EQ(ProbeJpeg(&info, path.c_str()), c.result);
    if (c.result == 0) {
        EXPECT_EQ(memcmp(&info, &before, sizeof info), 0);
        return;
    }
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.depth, c.depth);
    EXPECT_EQ(info.flags, before.flags);
    // The table's expectations agree with the plain walk.
    if (HasExtension(c.fileName, "jpg") || HasExtension(c.fileName, "jpeg")) {
        JpegReference reference = WalkJpegReference(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(reference.width, c.width);
        EXPECT_EQ(reference.height, c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(Walk, JpegTest, ::testing::ValuesIn(kCases), CaseName<JpegCase>);

// Inputs that stress the shortcuts of the detector's walk: runs of zeros of every length and
// parity, ending just before, on or after the window's edges, heads with lengths 0 and 1, and
// frame headers at arbitrary places.
Bytes RandomJpeg(std::mt19937& random)
{
    Bytes bytes = Cat({kSoi, kApp0});
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
        for (size_t run : {size_t(1), size_t(2), size_t(3), size_t(4), size_t(5), size_t(6), size_t(7), size_t(255), size_t(256), size_t(65531), size_t(65536), size_t(65537), size_t(131075)}) {
            // Landing 3 bytes before 0A 0B reads length 0x0A, 2 bytes before reads 0x0A0B.
            Bytes tail = Cat({{0x0A, 0x0B}, Bytes(7, 0x55), Frame(0xC0, 11, 13, 3)});
            tail.resize(2571, 0x55);
            Bytes bytes = Cat({kSoi, kApp0, Segment(0xE1, pad), Bytes(run, 0), tail, Frame(0xC0, 17, 19, 1)});
            std::string path = dir.Write("z.jpg", bytes);
            JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
            ImageInfo info{};
            ASSERT_EQ(ProbeJpeg(&info, path.c_str()), 1);
            EXPECT_EQ(info.width, expected.width) << "pad " << pad << " run " << run;
            EXPECT_EQ(info.height, expected.height) << "pad " << pad << " run " << run;
            EXPECT_EQ(info.depth, expected.depth) << "pad " << pad << " run " << run;
            widths.insert(expected.width);
        }
    }
    EXPECT_TRUE(widths.count(13) && widths.count(19)) << "both landing spots must be exercised";
}

} // namespace
