#include "fake_platform.h"
#include "test_files.h"

namespace {

const std::string kNoTypeText = "ファイルタイプを取得できません。";
const std::string kBadNameText = "ファイル名が不正です。";

std::string Text(const char* field) { return field; }

struct FakeReset : ::testing::Test {
    void SetUp() override { g_fake = FakePlatform{}; }
};

Bytes Png(uint32_t width, uint32_t height)
{
    return Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(width)}, {20, Be32(height)}, {24, {8, 2}}});
}

struct DriverCase {
    const char* label;
    bool shellAnswers, fileFound;
    const char* fileName;
    Bytes bytes;
    int result;
    bool hasIcon;
    bool nameIsMessage, typeIsMessage;
    uint32_t fileSize;
    int32_t width;
    uint32_t depth;
    uint32_t flags;
};

const Bytes kMng = Header(24, {{0, {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(40)}, {20, Be32(30)}});

const DriverCase kCases[] = {
    {"answered found recognised", true, true, "a.png", Png(40, 30), 1, true, false, false, 777, 40, 24, 0},
    {"answered found unrecognised", true, true, "a.bmp", Png(40, 30), 0, true, false, false, 777, 0, 0, INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED},
    {"answered found no extension", true, true, "readme", Png(40, 30), 0, true, false, false, 777, 0, 0, INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED},
    {"answered found mng", true, true, "a.mng", kMng, 1, true, false, false, 777, 40, 0, INFO_COLORS_UNSUPPORTED},
    {"silent shell found recognised", false, true, "a.png", Png(40, 30), 1, false, false, true, 777, 40, 24, INFO_DEFAULT_ICON},
    {"silent shell found unrecognised", false, true, "a.txt", Png(40, 30), 0, false, false, true, 777, 0, 0, INFO_DEFAULT_ICON},
    {"answered not found recognised", true, false, "a.png", Png(40, 30), 1, true, true, false, 0, 40, 24, INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN},
    {"answered not found unrecognised", true, false, "a.txt", Png(40, 30), 0, true, true, false, 0, 0, 0, INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN},
    {"nothing answers", false, false, "a.txt", Png(40, 30), 0, false, true, true, 0, 0, 0, INFO_DEFAULT_ICON | INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN},
    {"nothing answers mng", false, false, "a.mng", kMng, 1, false, true, true, 0, 40, 0, INFO_DEFAULT_ICON | INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN | INFO_COLORS_UNSUPPORTED},
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.label; }

class DriverTest : public ::testing::TestWithParam<DriverCase> {
    void SetUp() override { g_fake = FakePlatform{}; }
};

TEST_P(DriverTest, RecordStates)
{
    const DriverCase& c = GetParam();
    TempDir dir;
    std::string path = dir.Write(c.fileName, c.bytes);
    g_fake.shellAnswers = c.shellAnswers;
    g_fake.fileFound = c.fileFound;
    g_fake.size = 777;
    ImageInfo info = MarkedRecord(); // a previous file's facts must not survive

    EXPECT_EQ(ProbeImageFile(&info, path.c_str()), c.result);
    EXPECT_EQ(info.icon, c.hasIcon ? g_fake.icon : nullptr);
    EXPECT_EQ(Text(info.name), c.nameIsMessage ? kBadNameText : "found.png");
    EXPECT_EQ(Text(info.typeName), c.typeIsMessage ? kNoTypeText : "PNG image");
    EXPECT_EQ(info.fileSize, c.fileSize);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.width ? 30 : 0);
    EXPECT_EQ(info.depth, c.depth);
    EXPECT_EQ(info.flags, c.flags);
    // Everything past the texts is cleared, not left over.
    EXPECT_EQ(std::string(info.name, sizeof info.name).find_first_not_of('\0', strlen(info.name)), std::string::npos);
    EXPECT_EQ(std::string(info.typeName, sizeof info.typeName).find_first_not_of('\0', strlen(info.typeName)), std::string::npos);
    EXPECT_EQ(g_fake.shellQueries, 1);
    EXPECT_EQ(g_fake.searches, 1);
    EXPECT_LE(g_fake.opens, 1);
}

INSTANTIATE_TEST_SUITE_P(Probe, DriverTest, ::testing::ValuesIn(kCases), CaseName<DriverCase>);

// The display name is what follows the last 0x5C that stands alone (a 0x5C trailing a CP932
// lead byte belongs to its character), cut at a character boundary to fit its field.
TEST_F(FakeReset, DisplayNameAfterTheLastSeparatorCutToFit)
{
    ASSERT_EQ(std::string("表ソ能"), "\x95\x5C\x83\x5C\x94\x5C");
    const struct { std::string found, shown; } table[] = {
        {"plain.png", "plain.png"}, {"dir\\sub\\c.png", "c.png"}, {"表.png", "表.png"}, {"表ソ能", "表ソ能"},
        {"d\\表\\ソ能.jpg", "ソ能.jpg"}, {"\x95\x5C", "\x95\x5C"},
        {"d\\\xFA\x5C\xFB\x5C\xFC\x4B.png", "\xFA\x5C\xFB\x5C\xFC\x4B.png"}, // the last lead bytes: 纊 犾 and FC 4B
        {"\xB1\\b", "b"}, // half-width katakana is a single byte: the 0x5C after it separates
        {"dir\\", ""}, {"\\", ""},
        {std::string(259, 'n'), std::string(255, 'n')},
        {std::string(253, 'n') + "表", std::string(253, 'n') + "表"},
        {std::string(254, 'n') + "表", std::string(254, 'n')},
        {std::string(255, 'n') + "表ソ", std::string(255, 'n')},
        {"a\\" + std::string(254, 'n') + "能", std::string(254, 'n')},
    };
    for (const auto& row : table) {
        g_fake.foundName = row.found;
        ImageInfo info = MarkedRecord();
        ProbeImageFile(&info, "none");
        EXPECT_EQ(Text(info.name), row.shown) << row.found;
        EXPECT_EQ(Text(info.typeName), "PNG image");
    }
}

// An empty type name is a type name: the step succeeds and adds no flag; an empty file is found.
TEST_F(FakeReset, TypeNamesCutToFit)
{
    const struct { std::string type, stored; } table[] = {
        {"", ""},
        {std::string(79, 't'), std::string(79, 't')},
        {std::string(77, 't') + "表", std::string(77, 't') + "表"},
        {std::string(78, 't') + "表", std::string(78, 't')},
        {std::string(200, 't'), std::string(79, 't')},
    };
    for (const auto& row : table) {
        g_fake.typeName = row.type;
        ImageInfo info{};
        EXPECT_EQ(GetShellFileFacts(&info, "x"), 1);
        EXPECT_EQ(Text(info.typeName), row.stored) << row.type.size();
        EXPECT_EQ(info.flags, 0u);
    }
}

} // namespace
