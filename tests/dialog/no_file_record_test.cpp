// The records the dialog shows without a probe, through the panel's texts.
#include "no_file_record.h"
#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

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
