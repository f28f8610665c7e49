// Where the arguments begin, what this instance shows and hands on, and the records shown without a probe.
#include "command_line.h"
#include "no_file_record.h"
#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// "表ソ能" in code page 932: every trail byte is 0x5C, every lead byte 0x80 or above.
#define HYOU_SO_NOU "\x95\x5C\x83\x5C\x94\x5C"

TEST(SkipProgramName, FollowsTheStartUpContract)
{
    const struct { const char* commandLine; const char* args; } cases[] = {
        {"qvr.exe a.png", "a.png"}, {"qvr.exe", ""}, {"qvr.exe \t a.png b", "a.png b"},
        {"\"C:\\Program Files\\qvr.exe\" a.png", "a.png"}, {"\"C:\\Program Files\\qvr.exe\"", ""},
        {"\"qvr.exe\"a.png", "a.png"}, // a quoted name ends at its closing mark, blank or not
        // The trap: a first byte of 0x80 or above is part of the argument, not a blank.
        {"qvr.exe " HYOU_SO_NOU ".png", HYOU_SO_NOU ".png"}, {"\"C:\\qvr.exe\" \xB1\xB2.png", "\xB1\xB2.png"},
        {"qvr.exe\x01\x1F" "a", "a"}, {"qvr.exe \"C:\\My Files\\a.png\"", "\"C:\\My Files\\a.png\""},
        // Unterminated quoted names end with the text, also on a lone lead byte.
        {"\"C:\\qvr.exe", ""}, {"\"\x95", ""}, {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.args) << "command line: " << c.commandLine;
}

TEST(ParseCommandLine, DecidesWhatToShowAndWhatToHandOn)
{
    const std::string a259(259, 'a'), a260(260, 'a');
    // `path` is the first token, or the quoted path; `form` is p (plain), q (quoted, taken as given
    // once it proves to exist) or s (quoted, taken through its short form). A new instance is
    // launched exactly when there is a `rest`.
    const struct { std::string args; char form; std::string path; const char* rest; } cases[] = {
        {"", 'p', "", nullptr}, {"a.png ", 'p', "a.png", ""}, {"a.png  b.png", 'p', "a.png", " b.png"},
        {"a.png b.png c.png", 'p', "a.png", "b.png c.png"}, {"a.png\rb.png", 'p', "a.png", nullptr},
        {"a.png\tb.png c.png", 'p', "a.png", "c.png"}, {HYOU_SO_NOU ".png x", 'p', HYOU_SO_NOU ".png", "x"},
        // A token too long for a path is refused, not cut; the rest is handed on all the same.
        {a259 + " next.png", 'p', a259, "next.png"}, {a259 + "a next.png", 'p', "", "next.png"},
        {"\"C:\\My Files\\a.png\"", 'q', "C:\\My Files\\a.png", nullptr},
        // Files named together, as the shell quotes them: the rest past the blanks goes on.
        {"\"C:\\a b\\1.png\" \"C:\\a b\\2.png\" \"3.png\"", 'q', "C:\\a b\\1.png", "\"C:\\a b\\2.png\" \"3.png\""},
        {"\"C:\\a.png\" b.png", 'q', "C:\\a.png", "b.png"}, {"\"a.png\"\t \x01" "b.png c", 'q', "a.png", "b.png c"},
        {"\"a.png\"b.png", 'q', "a.png", "b.png"}, {"\"a.png\" \t", 'q', "a.png", nullptr},
        {"\"\" b.png", 'q', "", "b.png"}, {"\"" HYOU_SO_NOU "\" x", 'q', HYOU_SO_NOU, "x"},
        // Only a path too long for the start path goes through its short form.
        {"\"" + a259 + "\" b", 'q', a259, "b"}, {"\"" + a260 + "\"", 's', a260, nullptr},
        // Without a closing mark the last byte is dropped, whatever it is.
        {"\"C:\\a.png", 'q', "C:\\a.pn", nullptr}, {"\"", 'q', "", nullptr}, {"\"a", 'q', "", nullptr},
        {"\"" HYOU_SO_NOU, 'q', "\x95\x5C\x83\x5C\x94", nullptr}, // cut in a character: the caller keeps whole ones
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        StartCommand start;
        memset(&start, 0x7F, sizeof start);
        ParseCommandLine(c.args.c_str(), &start);
        EXPECT_EQ(start.quoted ? (start.shortForm ? 's' : 'q') : (start.shortForm ? '?' : 'p'), c.form);
        EXPECT_EQ(start.path ? std::string(start.path, start.length) : "", c.path);
        EXPECT_EQ(start.path == nullptr, c.path.empty());
        EXPECT_EQ(start.launch != 0, c.rest != nullptr);
        EXPECT_STREQ(start.rest, c.rest);
    }
}

TEST(NoFileRecord, PromptAndMissingFileShowPlaceholders)
{
    int appIcon = 0;
    // Narrow literals are code page 932 bytes here, as in the program. Without an icon: a dropped
    // path too long to read whole, shown as the probe shows a path that is nowhere.
    const struct { void* icon; uint32_t flags; int shown; const char* name; const char* type; } cases[] = {
        {&appIcon, 0x0A, PANEL_ICON_RECORD, "ファイルをドロップしてください。", "画像情報取得ツール QVR Version 1.0"},
        {nullptr, 0x0B, PANEL_ICON_STOCK, "ファイル名が不正です。", "ファイルタイプを取得できません。"},
    };
    for (const auto& c : cases) {
        ImageInfo info;
        memset(&info, 0x5A, sizeof info); // whatever an earlier file left behind
        c.icon ? BuildNoFileRecord(&info, c.icon) : BuildMissingFileRecord(&info);
        EXPECT_EQ(info.flags, c.flags);
        PanelTexts t;
        FormatPanelTexts(&info, &t);
        EXPECT_EQ(t.icon, c.shown);
        EXPECT_EQ(std::string(t.caption) + "|" + t.name + "|" + t.type + "|" + t.size + "|" + t.scale + "|" + t.colors,
                  std::string("QVR Version 1.0|") + c.name + "|" + c.type + "|??? Byte|??? × ??? Pixel|??? 色");
    }
}

} // namespace
