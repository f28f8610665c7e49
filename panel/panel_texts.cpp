#include "panel_texts.h"

#include <cstring>

#include "cp932_text.h"
#include "format_grouped.h"

namespace {

const char TITLE[] = "QVR Version 1.0";
const char TITLE_AFTER_NAME[] = " - QVR Version 1.0";
const char UNSUPPORTED[] = "未サポート";

enum {
    GROUPED_SIZE = 128,
    // The caption holds the name only as far as " - QVR Version 1.0" still fits behind it.
    CAPTION_NAME_MAX = PANEL_TEXT_SIZE - 1 - (sizeof TITLE_AFTER_NAME - 1),
};

// Copies a record field that should be terminated within `fieldSize` bytes, and is cut there at
// a character boundary when it is not.
void CopyField(char* dest, size_t capacity, const char* field, size_t fieldSize)
{
    char terminated[PANEL_TEXT_SIZE + 1];
    size_t length = 0;
    while (length + 1 < fieldSize && length < PANEL_TEXT_SIZE && field[length] != '\0')
        ++length;
    std::memcpy(terminated, field, length);
    terminated[length] = '\0';
    CopyTextFitted(dest, capacity, terminated);
}

// Sets `text` (PANEL_TEXT_SIZE bytes) to the concatenation of up to four parts, cut at a
// character boundary should it ever not fit.
void JoinText(char* text, const char* first, const char* second = "", const char* third = "",
              const char* fourth = "")
{
    const char* parts[] = {first, second, third, fourth};
    size_t length = 0;
    for (const char* part : parts)
        length += CopyTextFitted(text + length, PANEL_TEXT_SIZE - length, part);
}

void FormatCaption(const ImageInfo* info, char* caption)
{
    if (info->flags & INFO_PLAIN_TITLE) {
        JoinText(caption, TITLE);
        return;
    }
    char name[PANEL_TEXT_SIZE];
    CopyField(name, static_cast<size_t>(CAPTION_NAME_MAX) + 1, info->name, sizeof info->name);
    JoinText(caption, name, TITLE_AFTER_NAME);
}

void FormatType(const ImageInfo* info, char* type)
{
    if (info->typeName[0] == '\0')
        JoinText(type, "未定義のファイル");
    else
        CopyField(type, PANEL_TEXT_SIZE, info->typeName, sizeof info->typeName);
}

void FormatSize(const ImageInfo* info, char* size)
{
    if (info->flags & INFO_SIZE_UNKNOWN) {
        JoinText(size, "??? Byte");
        return;
    }
    uint64_t bytes = uint64_t{info->fileSizeHigh} << 32 | info->fileSize;
    if (bytes < 1024) {
        // Four digits at most, written here: the C library's formatting would add some 16 KiB to
        // the Windows program.
        char count[8];
        char* digits = count + sizeof count - 1;
        *digits = '\0';
        do {
            *--digits = static_cast<char>('0' + bytes % 10);
            bytes /= 10;
        } while (bytes != 0);
        JoinText(size, digits, " Byte");
        return;
    }
    // Both scales are powers of two, so below 2^53 bytes the products are exact and only the
    // printing rounds; above, the double is off by far less than the three digits shown.
    bool kilo = bytes < 0x100000;
    double scaled = static_cast<double>(bytes) * (kilo ? 0.0009765625 : 9.5367431640625e-07);
    char value[GROUPED_SIZE];
    char count[GROUPED_SIZE];
    FormatGrouped(value, sizeof value, "%.3g", scaled);
    FormatGrouped(count, sizeof count, "%llu", bytes);
    JoinText(size, value, kilo ? " KByte ( " : " MByte ( ", count, " Byte )");
}

void FormatScale(const ImageInfo* info, char* scale)
{
    if (info->flags & INFO_SCALE_UNSUPPORTED) {
        JoinText(scale, UNSUPPORTED);
        return;
    }
    if (info->width == 0 || info->height == 0) {
        JoinText(scale, "??? × ??? Pixel");
        return;
    }
    char width[GROUPED_SIZE];
    char height[GROUPED_SIZE];
    FormatGrouped(width, sizeof width, "%ld", info->width);
    FormatGrouped(height, sizeof height, "%ld", info->height);
    JoinText(scale, width, " × ", height, " Pixel");
}

void FormatColors(const ImageInfo* info, char* colors)
{
    if (info->flags & INFO_COLORS_UNSUPPORTED) {
        JoinText(colors, UNSUPPORTED);
        return;
    }
    if (info->depth == 0) {
        JoinText(colors, "??? 色");
        return;
    }
    char value[GROUPED_SIZE];
    if (info->depth > 16) {
        // The depth is unsigned: a huge header value must not turn negative on screen.
        FormatGrouped(value, sizeof value, "%lu", info->depth);
        JoinText(colors, value, " ビットカラー");
    } else {
        FormatGrouped(value, sizeof value, "%ld", static_cast<int32_t>(int32_t{1} << info->depth));
        JoinText(colors, value, " 色");
    }
}

} // namespace

void FormatPanelTexts(const ImageInfo* info, PanelTexts* texts)
{
    texts->icon = (info->icon == nullptr || (info->flags & INFO_DEFAULT_ICON)) ? PANEL_ICON_STOCK
                                                                               : PANEL_ICON_RECORD;
    CopyField(texts->name, sizeof texts->name, info->name, sizeof info->name);
    FormatCaption(info, texts->caption);
    FormatType(info, texts->type);
    FormatSize(info, texts->size);
    FormatScale(info, texts->scale);
    FormatColors(info, texts->colors);
}
