#include "fake_platform.h"
#include "test_files.h"

namespace {

using Detector = int (*)(ImageInfo*, const char*);

struct DetectorCase {
    const char* label;
    Detector detect;
    const char* fileName;
    Bytes bytes;
    int result;
    int32_t width, height;
    uint32_t depth;
};

const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
const Bytes kMng = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

Bytes Bmp(uint32_t width, uint32_t height, uint32_t bits)
{
    return Header(54, {{0, {'B', 'M'}}, {14, Le32(40)}, {18, Le32(width)}, {22, Le32(height)},
                       {26, Le16(1)}, {28, Le16(bits)}});
}

Bytes Png(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType)
{
    return Header(33, {{0, kPng}, {8, {0, 0, 0, 13, 'I', 'H', 'D', 'R'}}, {16, Be32(width)},
                       {20, Be32(height)}, {24, {bitDepth, colourType}}});
}

Bytes Truncated(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

const DetectorCase kCases[] = {
    {"bmp 24-bit", ProbeBmp, "a.bmp", Bmp(640, 480, 24), 1, 640, 480, 24},
    {"bmp top-down keeps negative height", ProbeBmp, "a.bmp", Bmp(640, uint32_t(-480), 8), 1, 640, -480, 8},
    {"bmp upper-case extension", ProbeBmp, "A.BMP", Bmp(2, 3, 1), 1, 2, 3, 1},
    {"bmp mixed-case extension", ProbeBmp, "A.Bmp", Bmp(2, 3, 4), 1, 2, 3, 4},
    {"bmp without a dot", ProbeBmp, "picturebmp", Bmp(5, 6, 32), 1, 5, 6, 32},
    {"bmp 12-byte core header", ProbeBmp, "core.bmp",
     Header(26, {{0, {'B', 'M'}}, {14, Le32(12)}, {18, Le16(70)}, {20, Le16(46)}, {22, Le16(1)}, {24, Le16(8)}}),
     1, 70, 46, 8},
    {"bmp of ten bytes", ProbeBmp, "short.bmp", Truncated(Bmp(640, 480, 24), 10), 1, 0, 0, 0},
    {"bmp cut inside the height", ProbeBmp, "cut.bmp", Truncated(Bmp(640, 0x01020304, 24), 24), 1, 640, 0x0304, 0},
    {"bmp holding a png", ProbeBmp, "png.bmp", Png(1, 1, 8, 2), 0, 0, 0, 0},
    {"bmp shorter than its signature", ProbeBmp, "b.bmp", {'B'}, 0, 0, 0, 0},
    {"bmp extension only", ProbeBmp, "a.bmpx", Bmp(1, 1, 1), 0, 0, 0, 0},
    {"gif", ProbeGif, "a.gif", Header(13, {{0, {'G', 'I', 'F', '8', '9', 'a'}}, {6, Le16(320)}, {8, Le16(200)}, {10, {0xF7}}}), 1, 320, 200, 8},
    {"gif version unchecked", ProbeGif, "a.gif", Header(13, {{0, {'G', 'I', 'F', 'x', 'x', 'x'}}, {6, Le16(65535)}, {10, {0xB3}}}), 1, 65535, 0, 4},
    {"gif cut after the signature", ProbeGif, "a.gif", {'G', 'I', 'F'}, 1, 0, 0, 8},
    {"gif signature", ProbeGif, "a.gif", {'G', 'I', 'E', '8', '9', 'a', 1, 0, 1, 0, 0}, 0, 0, 0, 0},
    {"png", ProbePng, "a.png", Png(800, 600, 8, 6), 1, 800, 600, 24},
    {"png cut inside the width", ProbePng, "a.png", Truncated(Png(0x01020304, 9, 8, 2), 18), 1, 0x01020000, 0, 0},
    {"png signature's zero bytes count", ProbePng, "a.png", Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}}}), 0, 0, 0, 0},
    {"png shorter than its signature", ProbePng, "a.png", Truncated(kPng, 7), 0, 0, 0, 0},
    {"png named mng", ProbeMng, "a.mng", Png(1, 1, 8, 2), 0, 0, 0, 0},
    {"mng", ProbeMng, "a.MNG", Header(28, {{0, kMng}, {16, Be32(1024)}, {20, Be32(768)}}), 1, 1024, 768, 0},
    {"pixia", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(123)}, {232, Le32(45)}}), 1, 123, 45, 24},
    {"pixia cut short", ProbePixia, "a.pxa", {'P', 'i', 'x', 'i', 'a'}, 1, 0, 0, 24},
    {"pixia signature", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'A'}}}), 0, 0, 0, 0},
    {"rif stores height first", ProbeRif, "a.rif", {0x00, 0x02, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 1, 640, 480, 24},
    {"rif signature 00 03 00 01", ProbeRif, "a.rif", {0x00, 0x03, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
    {"rif signature of zeros", ProbeRif, "a.rif", {0, 0, 0, 0, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
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
    if (c.detect == ProbeMng) {
        EXPECT_EQ(info.depth, before.depth);
        EXPECT_EQ(info.flags, before.flags | INFO_COLORS_UNSUPPORTED);
    } else {
        EXPECT_EQ(info.depth, c.depth);
        EXPECT_EQ(info.flags, before.flags);
    }
    EXPECT_EQ(info.icon, before.icon);
    EXPECT_EQ(info.fileSize, before.fileSize);
    EXPECT_EQ(memcmp(info.name, before.name, sizeof info.name), 0);
    EXPECT_EQ(memcmp(info.typeName, before.typeName, sizeof info.typeName), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, DetectorTest, ::testing::ValuesIn(kCases), CaseName<DetectorCase>);

TEST(GifDepth, OnlyColourResolutionThreeGivesFour)
{
    TempDir dir;
    for (int packed = 0; packed < 256; ++packed) {
        std::string path = dir.Write("d.gif", Header(13, {{0, {'G', 'I', 'F'}}, {10, {uint8_t(packed)}}}));
        ImageInfo info{};
        ASSERT_EQ(ProbeGif(&info, path.c_str()), 1);
        EXPECT_EQ(info.depth, ((packed >> 4) & 7) == 3 ? 4u : 8u) << "packed byte " << packed;
    }
}

TEST(PngDepth, TruecolourCountsThreeSamplesAndNeverAlpha)
{
    struct { uint8_t bits, type; uint32_t depth; } table[] = {
        {8, 2, 24}, {8, 6, 24}, {16, 2, 48}, {16, 6, 48}, {4, 3, 4}, {8, 3, 8},
        {16, 0, 16}, {1, 0, 1}, {8, 4, 8}, {16, 4, 16}, {8, 7, 8}, {8, 0xFE, 24},
    };
    TempDir dir;
    for (const auto& row : table) {
        std::string path = dir.Write("d.png", Png(1, 1, row.bits, row.type));
        ImageInfo info{};
        ASSERT_EQ(ProbePng(&info, path.c_str()), 1);
        EXPECT_EQ(info.depth, row.depth) << "bits " << int(row.bits) << " type " << int(row.type);
    }
}

TEST(Detectors, ExtensionMismatchNeverOpensTheFile)
{
    TempDir dir;
    std::string path = dir.Write("image.txt", Bmp(1, 1, 1));
    int opens = g_fake.opens;
    ImageInfo info{};
    for (Detector detect : {ProbeBmp, ProbeGif, ProbePng, ProbeMng, ProbeJpeg, ProbePixia, ProbeRif})
        EXPECT_EQ(detect(&info, path.c_str()), 0);
    EXPECT_EQ(ProbeBmp(&info, "mp"), 0);
    EXPECT_EQ(g_fake.opens, opens);
}

TEST(Detectors, UnopenableFileGivesZero)
{
    TempDir dir;
    for (const char* name : {"gone.bmp", "gone.gif", "gone.png", "gone.mng", "gone.jpg", "gone.pxa", "gone.rif"}) {
        ImageInfo info = MarkedRecord();
        const ImageInfo before = info;
        int recognised = 0;
        std::string path = (dir.path / name).string();
        for (Detector detect : {ProbeBmp, ProbeGif, ProbePng, ProbeMng, ProbeJpeg, ProbePixia, ProbeRif})
            recognised |= detect(&info, path.c_str());
        EXPECT_EQ(recognised, 0) << name;
        EXPECT_EQ(memcmp(&info, &before, sizeof info), 0) << name;
    }
}

TEST(HasExtension, ComparesBytesFoldingAsciiOnly)
{
    struct { const char* path; const char* extension; bool expected; } table[] = {
        {"a.JPEG", "jpeg", true}, {"xjpg", "jpg", true}, {"a.jpe", "jpg", false},
        {"jp", "jpg", false}, {"", "bmp", false}, {"a.jpg", "jpeg", false},
        // Bytes from 0x80 up are never folded: 0xC1 is not 0xE1.
        {"a.\xC1", "\xE1", false}, {"a.\xC1", "\xC1", true},
        // The last bytes may be a double-byte character's trail byte.
        {"\x83\x42MP", "bmp", true}, {"\x83\xC2mp", "bmp", false},
    };
    for (const auto& row : table)
        EXPECT_EQ(HasExtension(row.path, row.extension), row.expected) << row.path << " " << row.extension;
}

} // namespace
