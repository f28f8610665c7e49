// The probe driver and the shell-facts step, with every answer of the platform chosen here, and
// what a Windows path must not be opened as.
#include "device_names.h"
#include "fake_platform.h"
#include "test_files.h"

namespace {

const uint32_t UNSUPPORTED = INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED, MISSING = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;

// Every state a probe can leave a record in, whatever the record held before. Only a name some
// detector takes gets the file opened.
TEST(Driver, RecordStates)
{
    const Bytes png = Png(40, 30), rif = {0, 2, 0, 1, 0, 30, 0, 40}, gif = {'G', 'I', 'F', '8', '9', 'a', 40, 0, 30, 0, 0};
    const Bytes mng = Header(24, {{0, {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(40)}, {20, Be32(30)}});
    const Bytes pixia = Header(236, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(40)}, {232, Le32(30)}});
    const struct { bool shell, found; const char* name; const Bytes& bytes; int result; uint32_t depth, flags; } rows[] = {
        {true, true, "a.rif", rif, 1, 24, 0},
        {true, true, "a.gif", gif, 1, 8, 0},
        {true, true, "a.bmp", png, 0, 0, UNSUPPORTED},
        {false, true, "a.pxa", pixia, 1, 24, INFO_DEFAULT_ICON},
        {false, true, "a.txt", png, 0, 0, INFO_DEFAULT_ICON}, // placeholders, not "unsupported"
        {true, false, "a.txt", png, 0, 0, MISSING},
        {false, false, "a.mng", mng, 1, 0, INFO_DEFAULT_ICON | MISSING | INFO_COLORS_UNSUPPORTED},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.shell ? " shell" : "") + (row.found ? " found" : ""));
        g_fake = FakePlatform{};
        g_fake.shellAnswers = row.shell;
        g_fake.fileFound = row.found;
        g_fake.size = (uint64_t(5) << 32) + 777;
        ImageInfo info, expected{};
        memset(&info, 0x5A, sizeof info);
        expected.icon = row.shell ? g_fake.icon : nullptr;
        strcpy(expected.name, row.found ? "found.png" : "ファイル名が不正です。");
        strcpy(expected.typeName, row.shell ? "PNG image" : "ファイルタイプを取得できません。");
        expected.fileSize = row.found ? 777 : 0;
        expected.fileSizeHigh = row.found ? 5 : 0;
        expected.width = row.result ? 40 : 0;
        expected.height = row.result ? 30 : 0;
        expected.depth = row.depth;
        expected.flags = row.flags;

        EXPECT_EQ(ProbeImageFile(&info, dir.Write(row.name, row.bytes).c_str()), row.result);
        EXPECT_EQ(info.flags, expected.flags);
        EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << "name " << info.name << ", type " << info.typeName;
        EXPECT_EQ(g_fake.opens, strstr(row.name, ".txt") ? 0 : 1);
        EXPECT_EQ(g_fake.probes, 0);
    }
}

// The display name is what follows the last 0x5C that stands alone (a 0x5C trailing a CP932
// lead byte belongs to its character). Names and type names are cut at a character boundary to
// fit their fields; an empty type name is a type name: the step succeeds and adds no flag.
TEST(Driver, NamesAndTypeNamesCutToFit)
{
    ASSERT_EQ(std::string("表ソ能"), "\x95\x5C\x83\x5C\x94\x5C");
    const std::string n253(253, 'n'), t77(77, 't');
    const struct { std::string found, shown, type = "t", storedType = "t"; } table[] = {
        {"plain.png", "plain.png", "", ""}, {"dir\\sub\\c.png", "c.png", std::string(79, 't'), std::string(79, 't')},
        {"表ソ能", "表ソ能", t77 + "表", t77 + "表"}, {"d\\表\\ソ能.jpg", "ソ能.jpg", t77 + "t表", t77 + "t"},
        {"\x95\x5C", "\x95\x5C", std::string(200, 't'), std::string(79, 't')},
        {"d\\\xFA\x5C\xFB\x5C\xFC\x4B.png", "\xFA\x5C\xFB\x5C\xFC\x4B.png"}, // the last lead bytes: 纊 犾 and FC 4B
        {"\xB1\\b", "b"}, // half-width katakana is a single byte: the 0x5C after it separates
        {"dir\\", ""}, {std::string(259, 'n'), std::string(255, 'n')}, {n253 + "表", n253 + "表"},
        {n253 + "n表", n253 + "n"}, {"a\\" + n253 + "n能", n253 + "n"},
    };
    for (const auto& row : table) {
        g_fake = FakePlatform{};
        g_fake.foundName = row.found;
        g_fake.typeName = row.type;
        ImageInfo info{}; // as the driver clears it
        EXPECT_EQ(GetShellFileFacts(&info, "x"), 1);
        EXPECT_EQ(std::string(info.name), row.shown) << row.found;
        EXPECT_EQ(std::string(info.typeName), row.storedType) << row.type.size();
        EXPECT_EQ(info.flags, 0u);
    }
}

TEST(DeviceNames, DevicesNamespacesAndWildcards)
{
    // "\x95\x5C" is 表: its trail byte is no separator, so "表com1" is one component.
    const struct { const char* path; bool device, space, wildcard; } table[] = {
        {"COM1.jpg", true, false, false}, {"aux.png", true, false, false}, {"C:\\d\\con.bmp", true, false, false},
        {"LPT0.x", true, false, false}, {"Com9.tar.gz", true, false, false}, {"conin$.png", true, false, false},
        {"CONOUT$", true, false, false}, {"nul .png", true, false, false}, {"prn...", true, false, false},
        {"c:nul.png", true, false, false}, {"d/x/COM1:stream", true, false, false}, {"a\\" "\x95\x5C" "\\nul", true, false, false},
        {"COM10.jpg", false, false, false}, {"COMA.jpg", false, false, false}, {"CON1.png", false, false, false},
        {"nul\\a.png", false, false, false}, {"xnul.png", false, false, false}, {"\x95\x5C" "com1.jpg", false, false, false},
        {"", false, false, false}, {"\\\\.\\COM1", true, true, false}, {"//./pipe/x.png", false, true, false},
        {"\\\\?\\C:\\a.png", false, true, true}, {"\\??\\C:\\a.png", false, true, true}, {"\\\\server\\share\\a.png", false, false, false},
        {"\\\\.", false, false, false}, {"p0?.png", false, false, true}, {"Z:\\dir\\*.png", false, false, true},
    };
    for (const auto& row : table) {
        EXPECT_EQ(NamesDosDevice(row.path), row.device) << row.path;
        EXPECT_EQ(InDeviceNamespace(row.path), row.space) << row.path;
        EXPECT_EQ(HasWildcard(row.path), row.wildcard) << row.path;
    }
}

} // namespace
