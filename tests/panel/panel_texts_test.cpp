#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cp932_text.h"

namespace {

// Narrow literals are code page 932 bytes, as the program holds them.
ImageInfo FoundFile(const char* name, uint32_t fileSize)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.icon = reinterpret_cast<void*>(0x1234);
    std::strcpy(info.name, name);
    std::strcpy(info.typeName, "BMP ファイル");
    info.fileSize = fileSize;
    return info;
}

std::string Repeat(const char* text, int count)
{
    std::string repeated;
    for (int i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

PanelTexts Texts(const ImageInfo& info)
{
    PanelTexts texts;
    std::memset(&texts, 'X', sizeof texts);
    FormatPanelTexts(&info, &texts);
    return texts;
}

TEST(PanelTextsTest, TimesSignIsCp932)
{
    ImageInfo info = FoundFile("a.bmp", 1);
    info.width = 640;
    info.height = 480;
    EXPECT_STREQ(Texts(info).scale, "640 \x81\x7E 480 Pixel");
}

TEST(PanelTextsTest, NoFileRecord)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    info.icon = reinterpret_cast<void*>(0x5678);
    std::strcpy(info.name, "ファイルをドロップしてください。");
    std::strcpy(info.typeName, "画像情報取得ツール QVR Version 1.0");
    info.flags = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
    PanelTexts texts = Texts(info);
    EXPECT_EQ(texts.icon, PANEL_ICON_RECORD);
    EXPECT_STREQ(texts.caption, "QVR Version 1.0");
    EXPECT_STREQ(texts.name, "ファイルをドロップしてください。");
    EXPECT_STREQ(texts.type, "画像情報取得ツール QVR Version 1.0");
    EXPECT_STREQ(texts.size, "??? Byte");
    EXPECT_STREQ(texts.scale, "??? × ??? Pixel");
    EXPECT_STREQ(texts.colors, "??? 色");
}

TEST(PanelTextsTest, IconRule)
{
    const struct {
        void* icon;
        uint32_t flags;
        int expected;
    } cases[] = {
        {nullptr, 0, PANEL_ICON_STOCK},
        {nullptr, INFO_DEFAULT_ICON, PANEL_ICON_STOCK},
        {reinterpret_cast<void*>(0x10), INFO_DEFAULT_ICON, PANEL_ICON_STOCK},
        {reinterpret_cast<void*>(0x10), 0, PANEL_ICON_RECORD},
        {reinterpret_cast<void*>(0x10), INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN | INFO_SCALE_UNSUPPORTED,
         PANEL_ICON_RECORD},
    };
    for (const auto& c : cases) {
        ImageInfo info = FoundFile("a.bmp", 1);
        info.icon = c.icon;
        info.flags = c.flags;
        EXPECT_EQ(Texts(info).icon, c.expected) << c.icon << " " << c.flags;
    }
}

TEST(PanelTextsTest, CaptionAndType)
{
    ImageInfo info = FoundFile("cat.bmp", 1);
    PanelTexts texts = Texts(info);
    EXPECT_STREQ(texts.caption, "cat.bmp - QVR Version 1.0");
    EXPECT_STREQ(texts.name, "cat.bmp");
    EXPECT_STREQ(texts.type, "BMP ファイル");

    info.typeName[0] = '\0';
    EXPECT_STREQ(Texts(info).type, "未定義のファイル");

    std::strcpy(info.name, "ファイル名が不正です。");
    info.flags = INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN;
    EXPECT_STREQ(Texts(info).caption, "QVR Version 1.0");
}

TEST(PanelTextsTest, LongNamesAreCutAtACharacterBoundary)
{
    const std::string suffix = " - QVR Version 1.0";
    const struct {
        std::string name;
        std::string captionName; // the part of the name the caption keeps
    } cases[] = {
        {std::string(237, 'a'), std::string(237, 'a')},
        {std::string(238, 'a'), std::string(237, 'a')},
        {std::string(255, 'a'), std::string(237, 'a')},
        // 0x95 0x5C is one character: the cut must not leave its lead byte behind.
        {std::string(236, 'a') + "\x95\x5C" + "b", std::string(236, 'a')},
        {std::string(235, 'a') + "\x95\x5C" + "b", std::string(235, 'a') + "\x95\x5C"},
        // Only double-byte characters, whose trail byte 0x5C looks like a path separator.
        {Repeat("\x83\x5C", 127), Repeat("\x83\x5C", 118)},
    };
    for (const auto& c : cases) {
        ImageInfo info = FoundFile("", 1);
        ASSERT_LT(c.name.size(), sizeof info.name);
        std::memcpy(info.name, c.name.c_str(), c.name.size() + 1);
        PanelTexts texts = Texts(info);
        EXPECT_EQ(std::string(texts.caption), c.captionName + suffix) << c.name.size();
        EXPECT_LE(std::strlen(texts.caption), 255u);
        EXPECT_EQ(std::string(texts.name), c.name);
    }
}

TEST(PanelTextsTest, UnterminatedFieldsStayInsideTheRecord)
{
    ImageInfo info = FoundFile("", 1);
    std::memset(info.name, 'n', sizeof info.name);
    std::memset(info.typeName, 't', sizeof info.typeName);
    PanelTexts texts = Texts(info);
    EXPECT_EQ(std::string(texts.name), std::string(255, 'n'));
    EXPECT_EQ(std::string(texts.type), std::string(79, 't'));
}

struct SizeCase {
    uint32_t fileSize;
    const char* expected;
};

TEST(PanelTextsTest, Sizes)
{
    const SizeCase cases[] = {
        {0u, "0 Byte"},
        {1000u, "1000 Byte"},
        {1023u, "1023 Byte"},
        {1024u, "1 KByte ( 1,024 Byte )"},
        {1152u, "1.13 KByte ( 1,152 Byte )"},
        {10000u, "9.77 KByte ( 10,000 Byte )"},
        {12800u, "12.5 KByte ( 12,800 Byte )"},
        {102912u, "101 KByte ( 102,912 Byte )"},
        {1023487u, "999 KByte ( 1,023,487 Byte )"},
        {1023488u, "1e+003 KByte ( 1,023,488 Byte )"},
        {1029120u, "1.01e+003 KByte ( 1,029,120 Byte )"},
        {1048575u, "1.02e+003 KByte ( 1,048,575 Byte )"},
        {1048576u, "1 MByte ( 1,048,576 Byte )"},
        {1234567u, "1.18 MByte ( 1,234,567 Byte )"},
        {3000000000u, "2.86e+003 MByte ( 3,000,000,000 Byte )"},
        {4294967295u, "4.1e+003 MByte ( 4,294,967,295 Byte )"},
    };
    for (const SizeCase& c : cases)
        EXPECT_STREQ(Texts(FoundFile("a", c.fileSize)).size, c.expected) << c.fileSize;

    ImageInfo unknown = FoundFile("a", 123456);
    unknown.flags = INFO_SIZE_UNKNOWN;
    EXPECT_STREQ(Texts(unknown).size, "??? Byte");
}

TEST(PanelTextsTest, Scales)
{
    const struct {
        int32_t width;
        int32_t height;
        uint32_t flags;
        const char* expected;
    } cases[] = {
        {640, 480, 0, "640 × 480 Pixel"},
        {1234567, 1, 0, "1,234,567 × 1 Pixel"},
        {640, -480, 0, "640 × -480 Pixel"},
        {-2147483647 - 1, 2147483647, 0, "-2,147,483,648 × 2,147,483,647 Pixel"},
        {0, 480, 0, "??? × ??? Pixel"},
        {640, 0, 0, "??? × ??? Pixel"},
        {0, 0, 0, "??? × ??? Pixel"},
        {640, 480, INFO_SCALE_UNSUPPORTED, "未サポート"},
        {0, 0, INFO_SCALE_UNSUPPORTED, "未サポート"},
    };
    for (const auto& c : cases) {
        ImageInfo info = FoundFile("a", 1);
        info.width = c.width;
        info.height = c.height;
        info.flags = c.flags;
        EXPECT_STREQ(Texts(info).scale, c.expected) << c.width << "x" << c.height;
    }
}

TEST(PanelTextsTest, Colors)
{
    const struct {
        uint32_t depth;
        uint32_t flags;
        const char* expected;
    } cases[] = {
        {1, 0, "2 色"},
        {4, 0, "16 色"},
        {8, 0, "256 色"},
        {15, 0, "32,768 色"},
        {16, 0, "65,536 色"},
        {17, 0, "17 ビットカラー"},
        {24, 0, "24 ビットカラー"},
        {0, 0, "??? 色"},
        {4294967295u, 0, "4,294,967,295 ビットカラー"},
        {0, INFO_COLORS_UNSUPPORTED, "未サポート"},
        {24, INFO_COLORS_UNSUPPORTED, "未サポート"},
    };
    for (const auto& c : cases) {
        ImageInfo info = FoundFile("a", 1);
        info.depth = c.depth;
        info.flags = c.flags;
        EXPECT_STREQ(Texts(info).colors, c.expected) << c.depth;
    }
}

} // namespace
