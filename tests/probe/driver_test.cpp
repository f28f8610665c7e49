// The probe driver and shell facts over a chosen platform; what a Windows path must not be opened as, and reaches.
#include "device_names.h"
#include "fake_platform.h"
#include "test_files.h"

#include <cerrno>
#include <tuple>

namespace {

const uint32_t UNSUPPORTED = INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED, MISSING = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;

// Every state a probe leaves a record in. A file not read has no format: its error, placeholders, no "unsupported".
TEST(Driver, RecordStates)
{
    const Bytes png = Png(40, 30), rif = {0, 2, 0, 1, 0, 30, 0, 40}, gif = {'G', 'I', 'F', '8', '9', 'a', 40, 0, 30, 0, 0};
    const Bytes mng = Header(24, {{0, {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(40)}, {20, Be32(30)}});
    const Bytes pixia = Header(236, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(40)}, {232, Le32(30)}});
    const Bytes jpeg = Cat({{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}, Bytes(9, 0), {0xFF, 0xE1, 0xFF, 0xFF},
                            Bytes(0xFFFD, 0x11), {0xFF, 0xC0, 0, 17, 8, 0, 30, 0, 40, 3}});
    const struct { bool shell, found; const char* name; const Bytes& bytes; int result; uint32_t depth, flags, error = 0,
                   shellError = 0, findError = 0, openError = 0; uint64_t failReadsFrom = UINT64_MAX; } rows[] = {
        {true, true, "a.rif", rif, 1, 24, 0},
        {true, true, "a.gif", gif, 1, 8, 0},
        {true, true, "a.bmp", png, 0, 0, UNSUPPORTED},
        {false, true, "a.pxa", pixia, 1, 24, INFO_DEFAULT_ICON},
        {false, true, "a.txt", png, 0, 0, INFO_DEFAULT_ICON}, // placeholders, not "unsupported"
        {true, false, "a.txt", png, 0, 0, MISSING},
        {false, false, "a.mng", mng, 1, 0, INFO_DEFAULT_ICON | MISSING | INFO_COLORS_UNSUPPORTED},
        {true, true, "a.png", png, 0, 0, 0, EACCES, 0, 0, EACCES}, // mode 000, a file held without sharing
        {true, true, "a.png", png, 0, 0, 0, EIO, 0, 0, 0, 0},      // the first read fails
        {true, true, "a.jpg", jpeg, 0, 0, 0, EIO, 0, 0, 0, 0x8000}, // the walk fails midway
        {true, true, "a.jpg", jpeg, 1, 24, 0, 0, 0, 0, 0, 0x10100}, // ... beyond what it reads
        {true, true, "a.txt", png, 0, 0, UNSUPPORTED, 0, 0, 0, EACCES}, // never opened: no failure
        {false, true, "a.bmp", png, 0, 0, INFO_DEFAULT_ICON, EMFILE, EMFILE, 0, EMFILE},
        {false, true, "a.txt", png, 0, 0, INFO_DEFAULT_ICON, EMFILE, EMFILE},
        {true, false, "a.gif", gif, 0, 0, MISSING, EACCES, 0, EACCES, EACCES}, // below a folder that cannot be searched
        // Both lookups fail: the search's error is the one kept.
        {false, false, "a.mng", mng, 0, 0, INFO_DEFAULT_ICON | MISSING, ENOMEM, EMFILE, ENOMEM, EACCES},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        g_fake = {row.shell, row.found, (uint64_t(5) << 32) + 777};
        std::tie(g_fake.shellError, g_fake.findError) = std::tie(row.shellError, row.findError);
        std::tie(g_fake.openError, g_fake.failReadsFrom) = std::tie(row.openError, row.failReadsFrom);
        ImageInfo info, expected{}; // zeroed with its padding, as the driver clears the record
        memset(&info, 0x5A, sizeof info);
        expected.icon = row.shell ? g_fake.icon : nullptr;
        std::tie(expected.fileSize, expected.fileSizeHigh) = std::make_pair(row.found ? 777 : 0, row.found ? 5 : 0);
        std::tie(expected.width, expected.height) = std::make_pair(row.result ? 40 : 0, row.result ? 30 : 0);
        std::tie(expected.depth, expected.flags, expected.readError) = std::tie(row.depth, row.flags, row.error);
        strcpy(expected.name, row.found ? "found.png" : "ファイル名が不正です。");
        strcpy(expected.typeName, row.shell ? "PNG image" : "ファイルタイプを取得できません。");
        EXPECT_EQ(ProbeImageFile(&info, dir.Write(row.name, row.bytes).c_str()), row.result);
        EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << info.flags << " " << info.readError << " " << info.name;
        EXPECT_TRUE(row.error || g_fake.opens == (strstr(row.name, ".txt") ? 0 : 1)) << g_fake.opens;
        EXPECT_EQ(g_fake.probes, 0);
    }
}

// The name follows the last 0x5C that is no trail byte; names are cut at a character; an empty type name is one.
TEST(Driver, NamesAndTypeNamesCutToFit)
{
    ASSERT_EQ(std::string("表ソ能"), "\x95\x5C\x83\x5C\x94\x5C");
    const std::string n253(253, 'n'), t77(77, 't');
    const struct { std::string found, shown, type = "t", storedType = "t"; } table[] = {
        {"plain.png", "plain.png", "", ""}, {"dir\\sub\\c.png", "c.png", std::string(79, 't'), std::string(79, 't')},
        {"表ソ能", "表ソ能", t77 + "表", t77 + "表"}, {"d\\表\\ソ能.jpg", "ソ能.jpg", t77 + "t漾", t77 + "t"},
        {"\x95\x5C", "\x95\x5C", std::string(200, 't'), std::string(79, 't')},
        {"d\\\xFA\x5C\xFB\x5C\xFC\x4B.png", "\xFA\x5C\xFB\x5C\xFC\x4B.png"}, // the last lead bytes: 纊 犾 and FC 4B
        {"\xB1\\b", "b"}, // half-width katakana is a single byte: the 0x5C after it separates
        {"dir\\", ""}, {std::string(259, 'n'), std::string(255, 'n')}, {n253 + "表", n253 + "表"},
        {n253 + "n\xFC\x4B", n253 + "n"}, {"a\\" + n253 + "n歃", n253 + "n"}, // the ends of the lead-byte ranges: 歃 9F 5C, 漾 E0 40, FC 4B
    };
    for (const auto& row : table) {
        g_fake = {true, true, 0, row.type, row.found};
        ImageInfo info{}; // as the driver clears it
        ProbePath path = PathOf("x");
        EXPECT_EQ(GetShellFileFacts(&info, &path), 1);
        EXPECT_EQ(std::make_tuple(std::string(info.name), std::string(info.typeName), info.flags),
                  std::make_tuple(row.shown, row.storedType, 0u)) << row.found << " " << row.type.size();
    }
}

// d: a DOS device, n: in a device namespace, p: in a pipe or mailslot share, w: holds a wildcard.
TEST(DeviceNames, DevicesNamespacesPipesAndWildcards)
{
    const struct { const wchar_t* path; const char* is; } table[] = {
        {L"COM1.jpg", "d"}, {L"aux.png", "d"}, {L"C:\\d\\con.bmp", "d"}, {L"LPT0.x", "d"}, {L"Com9.tar.gz", "d"},
        {L"conin$.png", "d"}, {L"CONOUT$", "d"}, {L"nul .png", "d"}, {L"prn...", "d"}, {L"c:nul.png", "d"},
        {L"d/x/COM1:stream", "d"}, {L"a\\表\\nul", "d"}, {L"com\u00B9.png", "d"}, {L"LPT\u00B3", "d"},
        {L"COM10.jpg", ""}, {L"COMA.jpg", ""}, {L"CON1.png", ""}, {L"nul\\a.png", ""}, {L"xnul.png", ""},
        {L"表com1.jpg", ""}, {L"com\u2074.png", ""}, {L"", ""}, {L"\\\\.\\COM1", "dn"}, {L"//./pipe/x.png", "np"},
        {L"\\\\?\\C:\\a.png", "nw"}, {L"\\??\\C:\\a.png", "nw"}, {L"\\\\server\\share\\a.png", ""}, {L"\\\\.", ""},
        {L"\\\\localhost\\pipe\\a.png", "p"}, {L"//host/PIPE/a", "p"}, {L"\\\\h\\\\MailSlot. \\a", "p"},
        {L"\\\\h\\pipes\\a", ""}, {L"C:\\pipe\\a.png", ""}, {L"\\\\h\\share\\pipe\\a", ""},
        {L"p0?.png", "w"}, {L"Z:\\dir\\*.png", "w"}, {L"p0<.png", "w"}, {L"a\">", "w"},
    };
    for (const auto& row : table) {
        std::string is = std::string(NamesDosDevice(row.path) ? "d" : "") + (InDeviceNamespace(row.path) ? "n" : "") +
                         (InPipeShare(row.path) ? "p" : "") + (HasWildcard(row.path) ? "w" : "");
        EXPECT_EQ(is, row.is) << testing::PrintToString(std::wstring(row.path));
    }
}

// The name opened: the dots and blanks ending the last component go from both forms alike, nothing else.
TEST(DeviceNames, DotsAndBlanksThatEndAName)
{
    const struct { const char* path; const char* reached; const wchar_t* wide = nullptr; } table[] = { // wide: as ASCII
        {"x.png.", "x.png"}, {"x.png ", "x.png"}, {"C:\\d\\x.png. .", "C:\\d\\x.png"}, {"d/x.jpeg..", "d/x.jpeg"},
        {"表.png.", "表.png", L"表.png."}, {"?.png .", "?.png", L"\U0001F600.png ."}, {"C:x.", "C:x"},
        {"\\\\h\\s\\x.png ", "\\\\h\\s\\x.png"}, {"x.png", nullptr}, {"d.\\x.png", nullptr}, {"d \\", nullptr},
        {"...", nullptr}, {"C:\\d\\ .", nullptr}, {"C:..", nullptr}, {"", nullptr}, {"\\\\?\\C:\\x.png.", nullptr},
        {"\\\\.\\C:\\x.png.", nullptr}, {"x.png", nullptr, L"x.png."}, // forms that disagree are left alone
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.path);
        const std::wstring wide = row.wide ? row.wide : std::wstring(row.path, row.path + strlen(row.path));
        char reached[16];
        wchar_t reachedWide[16];
        memset(reached, 'X', sizeof reached);
        bool dropped = ReachedName(row.path, wide.c_str(), reached, sizeof reached, reachedWide, 16);
        EXPECT_EQ(dropped, row.reached != nullptr);
        EXPECT_EQ(reached[0], dropped ? row.path[0] : 'X');
        if (!dropped)
            continue;
        EXPECT_STREQ(reached, row.reached);
        EXPECT_EQ(std::wstring(reachedWide), wide.substr(0, wide.size() - (strlen(row.path) - strlen(row.reached))));
        // Both forms must fit, terminator included.
        size_t size = strlen(row.reached) + 1, wideSize = wcslen(reachedWide) + 1;
        EXPECT_TRUE(ReachedName(row.path, wide.c_str(), reached, size, reachedWide, wideSize));
        EXPECT_FALSE(ReachedName(row.path, wide.c_str(), reached, size - 1, reachedWide, wideSize));
        EXPECT_FALSE(ReachedName(row.path, wide.c_str(), reached, size, reachedWide, wideSize - 1));
    }
}

} // namespace

// The exact form (\\?\): what it is, what of it must still not be opened, when a listed name needs it.
TEST(DeviceNames, ExactForms)
{
    const struct { const wchar_t* path; size_t prefix; bool refused; size_t root; } table[] = {
        {L"\\\\?\\C:\\d\\x.png.", 4, false, 6}, {L"\\\\?\\unc\\h\\s\\x.png ", 8, false, 11},
        {L"\\\\?\\UNC\\h\\pipe\\x", 8, true, 14}, {L"\\\\?\\C:\\d\\com1.png", 4, true, 6},
        {L"\\\\?\\C:\\d\\*.png", 4, true, 6}, {L"\\\\?\\C:", 0, true, 6}, {L"\\\\?\\UNC\\", 0, true, 7},
        {L"\\\\?\\GLOBALROOT\\Device\\x", 0, true, 14}, {L"//?/C:/x.png", 0, true, 6}, {L"\\\\.\\C:\\x.png", 0, true, 6},
        {L"\\??\\C:\\x.png", 0, true, 0}, {L"C:\\x.png", 0, false, 2}, {L"\\\\h\\s\\d\\", 0, false, 5},
        {L"\\\\h", 0, false, 3}, {L"d\\x.png", 0, false, 0}, {L"C:x", 0, false, 2}, {L"", 0, false, 0},
    };
    for (const auto& row : table) {
        EXPECT_EQ(std::make_tuple(ExactPrefixLength(row.path), RefusesOpening(row.path), RootLength(row.path)),
                  std::make_tuple(row.prefix, row.refused, row.root)) << testing::PrintToString(std::wstring(row.path));
    }

    // Whether opening a path as it is may change a component from `from` on.
    const struct { const wchar_t* path; size_t from; bool trimmed; } trims[] = {
        {L"d\\x.png.", 2, true}, {L"d\\y.png ", 2, true}, {L"Z:\\d\\dir.\\x.png", 0, true}, {L"d\\dir \\x", 0, true},
        {L"d.\\x.png", 2, false}, {L"C:\\d\\x.png", 0, false}, {L"x.png.", 0, true}, {L"a/b./c", 2, true},
        {L"", 0, false},
    };
    for (const auto& row : trims)
        EXPECT_EQ(TrimmedWhenOpened(row.path, row.from), row.trimmed) << testing::PrintToString(std::wstring(row.path));

    // A full folder and a listed name in the exact form; what is neither a drive nor a share path has none.
    const struct { const wchar_t *folder, *rest, *exact; } forms[] = {
        {L"Z:\\d", L"x.png.", L"\\\\?\\Z:\\d\\x.png."}, {L"C:\\", L"y.png ", L"\\\\?\\C:\\y.png "},
        {L"\\\\h\\s\\d\\", L"x.", L"\\\\?\\UNC\\h\\s\\d\\x."}, {L"Z:\\d\\x.png.", L"", L"\\\\?\\Z:\\d\\x.png."},
        {L"\\\\.\\C:\\d", L"x.", nullptr}, {L"\\\\?\\C:\\d", L"x.", nullptr}, {L"d", L"x.", nullptr},
    };
    for (const auto& row : forms) {
        wchar_t exact[32];
        bool made = MakeExactPath(row.folder, row.rest, exact, 32);
        EXPECT_EQ(made, row.exact != nullptr) << testing::PrintToString(std::wstring(row.folder));
        if (!made)
            continue;
        EXPECT_EQ(std::wstring(exact), row.exact);
        size_t length = wcslen(row.exact);
        EXPECT_TRUE(MakeExactPath(row.folder, row.rest, exact, length + 1));
        EXPECT_FALSE(MakeExactPath(row.folder, row.rest, exact, length));
    }
    EXPECT_EQ(std::make_tuple(FolderPartLengthOf(L"C:x.png."), FolderPartLengthOf(L"d/e\\x."), FolderPartLengthOf(L"x.")),
              std::make_tuple(2u, 4u, 0u));
}
