// The window of a program started without a file: its record, through the panel's texts.
#include "no_file_record.h"
#include "panel_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(NoFileRecord, ShowsThePromptWithTheApplicationIcon)
{
    ImageInfo info;
    memset(&info, 0x5A, sizeof info); // whatever an earlier file left behind
    int appIcon = 0;
    BuildNoFileRecord(&info, &appIcon);
    EXPECT_EQ(info.icon, &appIcon);
    EXPECT_EQ(info.fileSize, 0u);
    EXPECT_EQ(info.width, 0);
    EXPECT_EQ(info.height, 0);
    EXPECT_EQ(info.depth, 0u);
    EXPECT_EQ(info.flags, 0x0Au);

    // Narrow literals are code page 932 bytes here, as in the program.
    PanelTexts texts;
    FormatPanelTexts(&info, &texts);
    EXPECT_EQ(texts.icon, PANEL_ICON_RECORD);
    EXPECT_STREQ(texts.caption, "QVR Version 1.0");
    EXPECT_STREQ(texts.name, "ファイルをドロップしてください。");
    EXPECT_STREQ(texts.type, "画像情報取得ツール QVR Version 1.0");
    EXPECT_STREQ(texts.size, "??? Byte");
    EXPECT_STREQ(texts.scale, "??? × ??? Pixel");
    EXPECT_STREQ(texts.colors, "??? 色");
    EXPECT_EQ(strlen(info.typeName), 34u);
}

} // namespace
