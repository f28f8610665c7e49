// The panel's texts, built from records; narrow literals are code page 932 bytes, as in the program.
#include "icon_release.h"
#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

ImageInfo Record(const std::string& name, uint64_t fileSize = 1, uint32_t flags = 0)
{
    ImageInfo info{};
    info.icon = reinterpret_cast<void*>(0x1234);
    std::memcpy(info.name, name.c_str(), name.size() + 1);
    std::strcpy(info.typeName, "BMP ファイル");
    info.fileSize = static_cast<uint32_t>(fileSize);
    info.fileSizeHigh = static_cast<uint32_t>(fileSize >> 32);
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

// The three number fields; sizes are whole past 32 bits and past what a double holds exactly.
TEST(PanelTexts, SizeScaleAndColours)
{
    const struct { uint64_t bytes; int32_t width, height; uint32_t depth, flags; const char *size, *scale, *colors; } rows[] = {
        {0, 1, 1, 2, 0, "0 Byte", "1 × 1 Pixel", "4 色"},
        {1023, 640, -480, 1, 0, "1023 Byte", "640 \x81\x7E -480 Pixel", "2 色"}, // the sign is one CP932 character
        {1024, -2147483647 - 1, 2147483647, 16, 0, "1 KByte ( 1,024 Byte )", "-2,147,483,648 × 2,147,483,647 Pixel", "65,536 色"},
        {1152, 0, 480, 17, 0, "1.13 KByte ( 1,152 Byte )", "??? × ??? Pixel", "17 ビットカラー"},
        {1048575, 640, 0, 0, INFO_COLORS_UNSUPPORTED, "1.02e+003 KByte ( 1,048,575 Byte )", "??? × ??? Pixel", "未サポート"},
        {1048576, 2, 3, 0, INFO_PLAIN_TITLE, "1 MByte ( 1,048,576 Byte )", "2 × 3 Pixel", "??? 色"},
        {4294967295u, 2, 3, 4294967295u, 0, "4.1e+003 MByte ( 4,294,967,295 Byte )", "2 × 3 Pixel", "4,294,967,295 ビットカラー"},
        {123456, 2, 3, 1, INFO_SIZE_UNKNOWN | INFO_SCALE_UNSUPPORTED, "??? Byte", "未サポート", "2 色"},
        {1ull << 32, 1, 1, 24, 0, "4.1e+003 MByte ( 4,294,967,296 Byte )", "1 × 1 Pixel", "24 ビットカラー"},
        {(1ull << 53) + 1, 1, 1, 8, 0, "8.59e+009 MByte ( 9,007,199,254,740,993 Byte )", "1 × 1 Pixel", "256 色"},
        {~0ull, 1, 1, 8, 0, "1.76e+013 MByte ( 18,446,744,073,709,551,615 Byte )", "1 × 1 Pixel", "256 色"},
    };
    for (const auto& c : rows) {
        ImageInfo info = Record("a", c.bytes, c.flags);
        std::tie(info.width, info.height, info.depth) = std::tie(c.width, c.height, c.depth);
        PanelTexts texts = Texts(info);
        EXPECT_EQ(std::string(texts.size) + "|" + texts.scale + "|" + texts.colors,
                  std::string(c.size) + "|" + c.scale + "|" + c.colors) << c.bytes << " " << c.depth;
    }
}

// The icon choice, the caption's two forms and the type text of an empty type name.
TEST(PanelTexts, IconCaptionAndType)
{
    void* const shell = reinterpret_cast<void*>(0x10);
    const struct { void* icon; uint32_t flags; const char* typeName; int panelIcon; const char *caption, *type; } cases[] = {
        {shell, 0, "BMP ファイル", PANEL_ICON_RECORD, "cat.bmp - QVR Version 1.0", "BMP ファイル"},
        {shell, INFO_PLAIN_TITLE, "", PANEL_ICON_RECORD, "QVR Version 1.0", "未定義のファイル"},
        {shell, INFO_DEFAULT_ICON, "", PANEL_ICON_STOCK, "cat.bmp - QVR Version 1.0", "未定義のファイル"},
        {nullptr, 0, "x", PANEL_ICON_STOCK, "cat.bmp - QVR Version 1.0", "x"},
    };
    for (const auto& c : cases) {
        ImageInfo info = Record("cat.bmp", 1, c.flags);
        info.icon = c.icon;
        std::strcpy(info.typeName, c.typeName);
        PanelTexts texts = Texts(info);
        EXPECT_EQ(std::make_tuple(texts.icon, std::string(texts.caption), std::string(texts.type)),
                  std::make_tuple(c.panelIcon, std::string(c.caption), std::string(c.type))) << c.icon << " " << c.flags;
    }
}

// The caption keeps what fits of the name, never half a character; an unterminated field stays inside the record.
TEST(PanelTexts, LongNamesAreCutAtACharacterBoundary)
{
    const std::string a236(236, 'a');
    const struct { std::string name, captionName; } cases[] = {
        {a236 + "a", a236 + "a"}, {a236 + "ab", a236 + "a"},
        {a236 + "\x95\x5C", a236}, {a236.substr(1) + "\x95\x5C" + "b", a236.substr(1) + "\x95\x5C"},
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
    EXPECT_EQ(std::string(texts.name) + "|" + texts.type, std::string(255, 'n') + "|" + std::string(79, 't'));
}

// Only a shell icon no longer shown is given back: never the shared stock and application icons.
TEST(PanelIcons, OnlyAShellIconNoLongerShownIsReleased)
{
    int shell, other, stock, app;
    const struct { const void *previous, *shown; bool release; } cases[] = {
        {&shell, &other, true}, {&shell, &stock, true}, {&shell, &app, true}, {&shell, nullptr, true},
        {&shell, &shell, false}, {&stock, &shell, false}, {&app, &shell, false}, {nullptr, &shell, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShouldReleaseIcon(c.previous, c.shown, &stock, &app), c.release) << c.previous << " -> " << c.shown;
}

} // namespace
