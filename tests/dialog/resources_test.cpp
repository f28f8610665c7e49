// The application icon file, and the compiled resources of the Windows program (.res bytes).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const char* path)
{
    return Bytes(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

unsigned Word(const Bytes& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t Dword(const Bytes& b, size_t at) { return Word(b, at) | static_cast<uint32_t>(Word(b, at + 2)) << 16; }

// Four images with masks, each showing the ruler, the picture, the disc, the square and their overlap (4 bits: the
// 16 standard colours).
TEST(AppIcon, HoldsFourImagesShowingTheRulerAndTheShapes)
{
    Bytes ico = ReadFile(QVR_ICON_FILE);
    ASSERT_TRUE(ico.size() == 6u + 4 * 16 + 2216 + 1384 + 744 + 296 && Word(ico, 4) == 4u);
    const struct { size_t x32, y32, x16, y16; uint32_t rgb8, rgb4; } spots[] = {
        {20, 2, 10, 1, 0xA8E8A0, 0x00FF00}, {29, 29, 14, 14, 0xD8D8D8, 0xC0C0C0}, {22, 12, 12, 5, 0xE02020, 0xFF0000},
        {12, 26, 6, 12, 0x2040E0, 0x0000FF}, {18, 18, 9, 9, 0x8020A0, 0x800080},
    };
    const struct { unsigned size, bits; uint32_t bytes; } images[4] = {{32, 8, 2216}, {16, 8, 1384}, {32, 4, 744}, {16, 4, 296}};
    for (const auto& image : images) {
        size_t entry = 6 + 16 * size_t(&image - images), offset = Dword(ico, entry + 12), palette = offset + 40;
        EXPECT_TRUE(ico.at(entry) == image.size && Word(ico, entry + 6) == image.bits && Dword(ico, entry + 8) == image.bytes);
        EXPECT_EQ(Dword(ico, offset + 8), image.size * 2); // with the mask
        size_t rowBytes = (image.size * image.bits + 31) / 32 * 4;
        for (const auto& spot : spots) {
            size_t x = image.size == 32 ? spot.x32 : spot.x16, y = image.size == 32 ? spot.y32 : spot.y16;
            size_t row = palette + (size_t{4} << image.bits) + rowBytes * (image.size - 1 - y);
            unsigned index = image.bits == 8 ? ico.at(row + x) : (ico.at(row + x / 2) >> (x % 2 ? 0 : 4)) & 15;
            EXPECT_EQ(Dword(ico, palette + index * 4), image.bits == 8 ? spot.rgb8 : spot.rgb4) << image.size << image.bits;
        }
    }
}

#ifdef QVR_RES_FILE

// The data of the Japanese (0x0411) resource `type`/`name` (all numeric) in the .res file; empty when not there.
Bytes FindResource(unsigned type, unsigned name)
{
    Bytes res = ReadFile(QVR_RES_FILE);
    for (size_t at = 0; at + 32 <= res.size();) {
        uint32_t dataSize = Dword(res, at), headerSize = Dword(res, at + 4);
        if (Word(res, at + 10) == type && Word(res, at + 14) == name && Word(res, at + 22) == 0x0411)
            return Bytes(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
        at += (headerSize + dataSize + 3) & ~size_t{3};
    }
    return {};
}

// Appends little-endian words, double words and zero-terminated UTF-16 texts.
struct Writer {
    Bytes b;
    void W(std::initializer_list<unsigned> words) { for (unsigned v : words) b.push_back(v & 0xFF), b.push_back(v >> 8 & 0xFF); }
    void D(std::initializer_list<uint32_t> dwords) { for (uint32_t v : dwords) W({v & 0xFFFF, v >> 16}); }
    void Text(const char16_t* s) { do W({*s}); while (*s++ != 0); }
    void Align() { while (b.size() % 4 != 0) b.push_back(0); }
};

TEST(AppResources, DialogTemplateIsExactAndTheIconIsThere)
{
    const uint32_t edit = 0x50010880, label = 0x50020001; // classes: 0x80 button, 0x81 edit, 0x82 static
    const struct { unsigned classId; uint32_t id; const char16_t* text; unsigned x, y, cx, cy; uint32_t style; } controls[] = {
        {0x80, 2, u"OK", 124, 96, 48, 17, 0x50010001}, {0x82, 1000, u"", 15, 12, 20, 20, 0x50000003},
        {0x81, 1004, u"", 44, 12, 128, 12, edit}, {0x81, 1001, u"", 44, 24, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"サイズ", 8, 44, 32, 12, label}, {0x81, 1002, u"", 44, 44, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"スケール", 8, 60, 32, 12, label}, {0x81, 1003, u"", 44, 60, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"色数", 8, 76, 32, 12, label}, {0x81, 1005, u"", 44, 76, 128, 12, edit},
    };
    Writer want; // no menu, class or extra data; font: 9 points, weight 0, not italic, character set 1
    want.W({1, 0xFFFF}), want.D({0, 0x10, 0x90C808C0}), want.W({10, 0, 0, 183, 123, 0, 0});
    want.Text(u"QVR Version 1.0"), want.W({9, 0, 0x0100}), want.Text(u"ＭＳ Ｐゴシック");
    for (const auto& c : controls) {
        want.Align(), want.D({0, 0, c.style}), want.W({c.x, c.y, c.cx, c.cy}), want.D({c.id});
        want.W({0xFFFF, c.classId}), want.Text(c.text), want.W({0});
    }
    EXPECT_EQ(FindResource(5, 101), want.b);
    EXPECT_EQ(FindResource(14, 103).size(), 6u + 4 * 14); // the icon group: the four images of the icon file
}

TEST(AppResources, VersionBlockCarriesEveryValue)
{
    const Bytes b = FindResource(16, 1); // read with bounds checks: a short block fails the test
    // After the header and the key "VS_VERSION_INFO": signature, structure version, file and product
    // version 1.0.0.0, flags mask and flags (private and special build), OS, type.
    const uint32_t fields[] = {0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0x3F, 0x28, 4, 1};
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(Dword(b, 40 + 4 * i), fields[i]) << "field " << i;
    std::u16string text; // the block is UTF-16 throughout, its nodes padded with zero words
    for (size_t at = 0; at + 1 < b.size(); at += 2)
        text += char16_t(Word(b, at));
    EXPECT_NE(text.find(u"\u0411\u04B0"), std::u16string::npos); // the translation: Japanese, Unicode
    // A null value: any text will do, but there must be one.
    const char16_t* values[][2] = {
        {u"Comments", u"画像情報取得ツール"}, {u"FileDescription", u"画像情報取得ツール QVR Version 1.0"},
        {u"FileVersion", u"1.0"}, {u"InternalName", u"QVR"}, {u"ProductName", u"QVR"}, {u"ProductVersion", u"1.0"},
        {u"SpecialBuild", u"none"}, {u"OriginalFilename", u"qvr.exe"}, {u"CompanyName", nullptr},
        {u"LegalCopyright", nullptr}, {u"PrivateBuild", nullptr}, {u"LegalTrademarks", nullptr},
    };
    auto value = [&text](const std::u16string& key) { // the text after the key, padded to 4 bytes
        size_t at = (std::min(text.find(key + u'\0'), text.size()) + key.size() + 2) & ~size_t{1};
        return at < text.size() ? text.substr(at, text.find(u'\0', at) - at) : u"";
    };
    for (const auto& v : values)
        EXPECT_TRUE(v[1] ? value(v[0]) == v[1] : !value(v[0]).empty()) << "the value of a version key differs";
}

#endif // QVR_RES_FILE

} // namespace
