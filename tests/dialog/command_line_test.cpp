// The start-up decisions (where the arguments begin, what this instance shows, what it hands on)
// and the records the dialog shows without a probe.
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
        {"qvr.exe a.png", "a.png"},
        {"qvr.exe", ""},
        {"qvr.exe   ", ""},
        {"qvr.exe \t a.png b", "a.png b"},
        {"\"C:\\Program Files\\qvr.exe\" a.png", "a.png"},
        {"\"C:\\Program Files\\qvr.exe\"", ""},
        // A quoted name ends at its closing mark even without a blank after it.
        {"\"qvr.exe\"a.png", "a.png"},
        {"\"C:\\" HYOU_SO_NOU "\\qvr.exe\" x", "x"},
        // The trap: a first byte of 0x80 or above is part of the argument, not a blank.
        {"qvr.exe " HYOU_SO_NOU ".png", HYOU_SO_NOU ".png"},
        {"\"C:\\qvr.exe\" " HYOU_SO_NOU ".png", HYOU_SO_NOU ".png"},
        {"qvr.exe \xB1\xB2.png", "\xB1\xB2.png"}, // single-byte katakana
        {"qvr.exe\x01\x1F" "a", "a"},
        {"qvr.exe \"C:\\My Files\\a.png\"", "\"C:\\My Files\\a.png\""},
        // Unterminated quoted names end with the text, also on a lone lead byte.
        {"\"C:\\qvr.exe", ""},
        {"\"\x95", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.args) << "command line: " << c.commandLine;
}

TEST(ParseCommandLine, DecidesWhatToShowAndWhatToHandOn)
{
    // `shown` is the first token, or the text to convert when quoted.
    const struct { const char* args; bool quoted; const char* shown; bool launch; const char* rest; } cases[] = {
        {"", false, "", false, nullptr},
        {"a.png", false, "a.png", false, nullptr},
        {"a.png b.png c.png", false, "a.png", true, "b.png c.png"},
        {"a.png ", false, "a.png", true, ""},
        {"a.png  b.png", false, "a.png", true, " b.png"},
        {"a.png\tb.png", false, "a.png", false, nullptr},
        {"a.png\tb.png c.png", false, "a.png", true, "c.png"},
        {"a.png\r\nb.png\v\f", false, "a.png", false, nullptr},
        {HYOU_SO_NOU ".png x", false, HYOU_SO_NOU ".png", true, "x"},
        {"a.png \"C:\\My Files\\b.png\"", false, "a.png", true, "\"C:\\My Files\\b.png\""},
        {"\"C:\\My Files\\a.png\"", true, "C:\\My Files\\a.png", false, nullptr},
        // Only the last byte is dropped: a second path stays in the text and is not handed on.
        {"\"C:\\My Files\\a.png\" b.png", true, "C:\\My Files\\a.png\" b.pn", false, nullptr},
        {"\"C:\\a.png", true, "C:\\a.pn", false, nullptr},
        {"\"", true, "", false, nullptr},
        {"\"\"", true, "", false, nullptr},
        // A pattern is never converted, so it cannot turn into the name of its first match.
        {"\"C:\\My Files\\p0?.png\"", true, "", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        StartCommand start;
        char quotedText[64];
        ParseCommandLine(c.args, &start, quotedText, sizeof quotedText);
        EXPECT_EQ(start.quoted != 0, c.quoted);
        EXPECT_STREQ(c.quoted ? quotedText : start.path, c.shown);
        EXPECT_STREQ(c.quoted ? start.path : quotedText, "");
        EXPECT_EQ(start.launch != 0, c.launch);
        if (c.rest != nullptr)
            EXPECT_STREQ(start.rest, c.rest);
        else
            EXPECT_EQ(start.rest, nullptr);
    }
}

TEST(ParseCommandLine, RefusesTextsTooLongForTheirBuffers)
{
    for (size_t length : {size_t{259}, size_t{260}, size_t{5000}}) {
        SCOPED_TRACE(length);
        std::string args(length, 'a');
        args += " next.png";
        StartCommand start;
        memset(&start, 0x7F, sizeof start);
        char quotedText[8];
        ParseCommandLine(args.c_str(), &start, quotedText, sizeof quotedText);
        EXPECT_EQ(std::string(start.path), length < START_PATH_SIZE ? args.substr(0, length) : "");
        // The rest is handed on whether or not the first token was kept.
        EXPECT_EQ(start.launch, 1);
        EXPECT_STREQ(start.rest, "next.png");
    }
    // A quoted text too long for its buffer is not converted at all.
    char quotedText[8];
    StartCommand start;
    ParseCommandLine("\"1234567\"", &start, quotedText, sizeof quotedText);
    EXPECT_STREQ(quotedText, "1234567");
    ParseCommandLine("\"12345678\"", &start, quotedText, sizeof quotedText);
    EXPECT_STREQ(quotedText, "");
}

TEST(QuoteLaunchPath, QuotesAndCutsToTheParameterBuffer)
{
    char parameters[2048];
    EXPECT_EQ(QuoteLaunchPath(parameters, sizeof parameters, "C:\\My Files\\a.png"), 19u);
    EXPECT_STREQ(parameters, "\"C:\\My Files\\a.png\"");

    // A dropped path arrives with at most 2045 bytes: it fits with both marks.
    std::string longest(2045, 'x');
    EXPECT_EQ(QuoteLaunchPath(parameters, sizeof parameters, longest.c_str()), 2047u);
    EXPECT_EQ(std::string(parameters), "\"" + longest + "\"");

    std::string tooLong(3000, 'y');
    EXPECT_EQ(QuoteLaunchPath(parameters, sizeof parameters, tooLong.c_str()), 2047u);
    EXPECT_EQ(std::string(parameters), "\"" + std::string(2045, 'y') + "\"");
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
        EXPECT_EQ(info.icon, c.icon);
        EXPECT_EQ(info.flags, c.flags);
        EXPECT_EQ(info.fileSize | info.fileSizeHigh | info.depth | info.width | info.height, 0u);

        PanelTexts texts;
        FormatPanelTexts(&info, &texts);
        EXPECT_EQ(texts.icon, c.shown);
        EXPECT_STREQ(texts.caption, "QVR Version 1.0");
        EXPECT_STREQ(texts.name, c.name);
        EXPECT_STREQ(texts.type, c.type);
        EXPECT_STREQ(texts.size, "??? Byte");
        EXPECT_STREQ(texts.scale, "??? × ??? Pixel");
        EXPECT_STREQ(texts.colors, "??? 色");
    }
}

} // namespace
