// The panel's texts, built from records; narrow literals are code page 932 bytes, as in the program.
#include "icon_release.h"
#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

ImageInfo Record(const std::string& name, uint32_t fileSize = 1, uint32_t flags = 0)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.icon = reinterpret_cast<void*>(0x1234);
    std::memcpy(info.name, name.c_str(), name.size() + 1);
    std::strcpy(info.typeName, "BMP ファイル");
    info.fileSize = fileSize;
    info.flags = flags;
    return info;
}

PanelTexts Texts(const ImageInfo& info)
{
    PanelTexts texts;
    std::memset(&texts, 'X', sizeof texts); // every text must be written
    FormatPanelTexts(&info, &texts);
    return texts;
}

const uint32_t SCALE_NO = INFO_SCALE_UNSUPPORTED, COLORS_NO = INFO_COLORS_UNSUPPORTED;

// The three number fields, each column on its own.
TEST(PanelTexts, SizeScaleAndColours)
{
    const struct { uint32_t fileSize; int32_t width, height; uint32_t depth, flags; const char *size, *scale, *colors; } cases[] = {
        {0, 640, 480, 1, 0, "0 Byte", "640 \x81\x7E 480 Pixel", "2 色"}, // the sign is one CP932 character
        {1000, 1234567, 1, 4, 0, "1000 Byte", "1,234,567 × 1 Pixel", "16 色"},
        {1023, 640, -480, 8, 0, "1023 Byte", "640 × -480 Pixel", "256 色"},
        {1024, -2147483647 - 1, 2147483647, 15, 0, "1 KByte ( 1,024 Byte )", "-2,147,483,648 × 2,147,483,647 Pixel", "32,768 色"},
        {1152, 0, 480, 16, 0, "1.13 KByte ( 1,152 Byte )", "??? × ??? Pixel", "65,536 色"},
        {10000, 640, 0, 17, 0, "9.77 KByte ( 10,000 Byte )", "??? × ??? Pixel", "17 ビットカラー"},
        {12800, 0, 0, 24, 0, "12.5 KByte ( 12,800 Byte )", "??? × ??? Pixel", "24 ビットカラー"},
        {102912, 1, 1, 0, 0, "101 KByte ( 102,912 Byte )", "1 × 1 Pixel", "??? 色"},
        {1023487, 1, 1, 4294967295u, 0, "999 KByte ( 1,023,487 Byte )", "1 × 1 Pixel", "4,294,967,295 ビットカラー"},
        {1023488, 640, 480, 24, SCALE_NO, "1e+003 KByte ( 1,023,488 Byte )", "未サポート", "24 ビットカラー"},
        {1029120, 0, 0, 0, SCALE_NO | COLORS_NO, "1.01e+003 KByte ( 1,029,120 Byte )", "未サポート", "未サポート"},
        {1048575, 2, 3, 24, COLORS_NO, "1.02e+003 KByte ( 1,048,575 Byte )", "2 × 3 Pixel", "未サポート"},
        {1048576, 2, 3, 1, 0, "1 MByte ( 1,048,576 Byte )", "2 × 3 Pixel", "2 色"},
        {1234567, 2, 3, 1, 0, "1.18 MByte ( 1,234,567 Byte )", "2 × 3 Pixel", "2 色"},
        {3000000000u, 2, 3, 1, 0, "2.86e+003 MByte ( 3,000,000,000 Byte )", "2 × 3 Pixel", "2 色"},
        {4294967295u, 2, 3, 1, 0, "4.1e+003 MByte ( 4,294,967,295 Byte )", "2 × 3 Pixel", "2 色"},
        {123456, 2, 3, 1, INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN, "??? Byte", "2 × 3 Pixel", "2 色"},
    };
    for (const auto& c : cases) {
        ImageInfo info = Record("a", c.fileSize, c.flags);
        info.width = c.width;
        info.height = c.height;
        info.depth = c.depth;
        PanelTexts texts = Texts(info);
        EXPECT_STREQ(texts.size, c.size) << c.fileSize;
        EXPECT_STREQ(texts.scale, c.scale) << c.width << "x" << c.height;
        EXPECT_STREQ(texts.colors, c.colors) << c.depth;
    }
}

// The icon choice, the caption's two forms and the type text of an empty type name.
TEST(PanelTexts, IconCaptionAndType)
{
    void* const shell = reinterpret_cast<void*>(0x10);
    const uint32_t plain = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
    const struct { void* icon; uint32_t flags; const char* typeName; int panelIcon; const char *caption, *type; } cases[] = {
        {shell, 0, "BMP ファイル", PANEL_ICON_RECORD, "cat.bmp - QVR Version 1.0", "BMP ファイル"},
        {shell, plain | SCALE_NO, "", PANEL_ICON_RECORD, "QVR Version 1.0", "未定義のファイル"},
        {shell, INFO_DEFAULT_ICON, "", PANEL_ICON_STOCK, "cat.bmp - QVR Version 1.0", "未定義のファイル"},
        {nullptr, INFO_DEFAULT_ICON | plain, "x", PANEL_ICON_STOCK, "QVR Version 1.0", "x"},
        {nullptr, 0, "x", PANEL_ICON_STOCK, "cat.bmp - QVR Version 1.0", "x"},
    };
    for (const auto& c : cases) {
        ImageInfo info = Record("cat.bmp", 1, c.flags);
        info.icon = c.icon;
        std::strcpy(info.typeName, c.typeName);
        PanelTexts texts = Texts(info);
        EXPECT_EQ(texts.icon, c.panelIcon) << c.icon << " " << c.flags;
        EXPECT_STREQ(texts.caption, c.caption) << c.flags;
        EXPECT_STREQ(texts.name, "cat.bmp");
        EXPECT_STREQ(texts.type, c.type);
    }
}

// The caption keeps as much of the name as fits before " - QVR Version 1.0", never half a
// double-byte character; the name field shows the name whole, and an unterminated field stays
// inside the record.
TEST(PanelTexts, LongNamesAreCutAtACharacterBoundary)
{
    std::string so127;
    for (int i = 0; i < 127; ++i)
        so127 += "\x83\x5C"; // ソ: its trail byte 0x5C looks like a path separator
    const struct { std::string name, captionName; } cases[] = {
        {std::string(237, 'a'), std::string(237, 'a')}, {std::string(238, 'a'), std::string(237, 'a')},
        {std::string(236, 'a') + "\x95\x5C" + "b", std::string(236, 'a')},
        {std::string(235, 'a') + "\x95\x5C" + "b", std::string(235, 'a') + "\x95\x5C"}, {so127, so127.substr(0, 236)},
    };
    for (const auto& c : cases) {
        PanelTexts texts = Texts(Record(c.name));
        EXPECT_EQ(std::string(texts.caption), c.captionName + " - QVR Version 1.0") << c.name.size();
        EXPECT_EQ(std::string(texts.name), c.name);
    }
    ImageInfo info = Record("");
    std::memset(info.name, 'n', sizeof info.name);
    std::memset(info.typeName, 't', sizeof info.typeName);
    PanelTexts texts = Texts(info);
    EXPECT_EQ(std::string(texts.name), std::string(255, 'n'));
    EXPECT_EQ(std::string(texts.type), std::string(79, 't'));
}

// Of the icon the control showed until now, only a shell icon that is no longer shown is given
// back: never the shared stock and application icons, never none.
TEST(PanelIcons, OnlyAShellIconNoLongerShownIsReleased)
{
    int shell, other, stock, app;
    const struct { const void *previous, *shown; bool release; } cases[] = {
        {&shell, &other, true}, {&shell, &stock, true}, {&shell, &app, true}, {&shell, nullptr, true},
        {&shell, &shell, false}, {&stock, &shell, false}, {&app, &shell, false}, {&app, nullptr, false}, {nullptr, &shell, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShouldReleaseIcon(c.previous, c.shown, &stock, &app), c.release) << c.previous << " -> " << c.shown;
}

} // namespace
