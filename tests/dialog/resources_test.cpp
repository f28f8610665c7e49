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
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned Word(const Bytes& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t Dword(const Bytes& b, size_t at) { return Word(b, at) | static_cast<uint32_t>(Word(b, at + 2)) << 16; }

// Four images, ids 1 to 4, each a bitmap with its mask; in every one the same places show the
// light green ruler, the light grey picture, the red disc, the blue square and their purple overlap.
TEST(AppIcon, HoldsFourImagesShowingTheRulerAndTheShapes)
{
    Bytes ico = ReadFile(QVR_ICON_FILE);
    ASSERT_EQ(ico.size(), 6u + 4 * 16 + 2216 + 1384 + 744 + 296);
    ASSERT_EQ(Word(ico, 4), 4u);
    using Looks = bool (*)(int r, int g, int b);
    const struct { int x32, y32, x16, y16; const char* what; Looks looks; } spots[] = {
        {20, 2, 10, 1, "ruler", [](int r, int g, int b) { return g >= 200 && g > r + 40 && g > b + 40; }},
        {29, 29, 14, 14, "grey", [](int r, int g, int b) { return r == g && g == b && r >= 0xC0; }},
        {22, 12, 12, 5, "red", [](int r, int g, int b) { return r >= 200 && g < 64 && b < 64; }},
        {12, 26, 6, 12, "blue", [](int r, int g, int b) { return b >= 200 && r < 64 && g < 96; }},
        {18, 18, 9, 9, "purple", [](int r, int g, int b) { return r >= 0x80 && b >= 0x80 && g < 64; }},
    };
    const struct { int size, bits; uint32_t bytes; } images[4] = {{32, 8, 2216}, {16, 8, 1384}, {32, 4, 744}, {16, 4, 296}};
    for (int i = 0; i < 4; ++i) {
        const auto& image = images[i];
        size_t entry = 6 + 16 * i, offset = Dword(ico, entry + 12);
        EXPECT_TRUE(ico.at(entry) == image.size && Word(ico, entry + 6) == unsigned(image.bits) && Dword(ico, entry + 8) == image.bytes);
        EXPECT_EQ(Dword(ico, offset + 8), uint32_t(image.size * 2)); // with the mask
        size_t rowBytes = size_t((image.size * image.bits + 31) / 32 * 4), palette = offset + 40;
        for (const auto& spot : spots) {
            int x = image.size == 32 ? spot.x32 : spot.x16, y = image.size == 32 ? spot.y32 : spot.y16;
            size_t row = palette + (size_t{4} << image.bits) + rowBytes * size_t(image.size - 1 - y);
            unsigned index = image.bits == 8 ? ico.at(row + x) : (ico.at(row + x / 2) >> (x % 2 ? 0 : 4)) & 15;
            size_t colour = palette + index * 4;
            EXPECT_TRUE(spot.looks(ico.at(colour + 2), ico.at(colour + 1), ico.at(colour))) << image.size << "x" << image.bits << " " << spot.what;
        }
    }
}

#ifdef QVR_RES_FILE

// The data of resource `type`/`name` in a .res file whose resources all have numeric types and
// names, with its language; empty when it is not there.
Bytes FindResource(unsigned type, unsigned name, unsigned* language)
{
    Bytes res = ReadFile(QVR_RES_FILE);
    for (size_t at = 0; at + 32 <= res.size();) {
        uint32_t dataSize = Dword(res, at), headerSize = Dword(res, at + 4);
        if (Word(res, at + 10) == type && Word(res, at + 14) == name) {
            *language = Word(res, at + 22);
            return Bytes(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
        }
        at += (headerSize + dataSize + 3) & ~size_t{3};
    }
    return {};
}

// Appends little-endian template fields.
struct Writer {
    Bytes b;
    void W(unsigned v) { b.push_back(v & 0xFF), b.push_back(v >> 8 & 0xFF); }
    void D(uint32_t v) { W(v & 0xFFFF), W(v >> 16); }
    void Text(const char16_t* s) { do W(*s); while (*s++ != 0); }
    void Align() { while (b.size() % 4 != 0) b.push_back(0); }
};

TEST(AppResources, DialogTemplateIsExactAndTheIconIsThere)
{
    const uint32_t edit = 0x50010880, label = 0x50020001;
    // Class ordinals: 0x80 button, 0x81 edit, 0x82 static.
    const struct { unsigned classOrdinal; uint32_t id; const char16_t* text; int x, y, cx, cy; uint32_t style; } controls[10] = {
        {0x80, 2, u"OK", 124, 96, 48, 17, 0x50010001}, {0x82, 1000, u"", 15, 12, 20, 20, 0x50000003},
        {0x81, 1004, u"", 44, 12, 128, 12, edit}, {0x81, 1001, u"", 44, 24, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"サイズ", 8, 44, 32, 12, label}, {0x81, 1002, u"", 44, 44, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"スケール", 8, 60, 32, 12, label}, {0x81, 1003, u"", 44, 60, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"色数", 8, 76, 32, 12, label}, {0x81, 1005, u"", 44, 76, 128, 12, edit},
    };
    Writer want;
    want.W(1), want.W(0xFFFF), want.D(0), want.D(0x10), want.D(0x90C808C0), want.W(10);
    want.W(0), want.W(0), want.W(183), want.W(123);
    want.W(0), want.W(0), want.Text(u"QVR Version 1.0");
    want.W(9), want.W(0), want.b.push_back(0), want.b.push_back(1), want.Text(u"ＭＳ Ｐゴシック");
    for (const auto& c : controls) {
        want.Align();
        want.D(0), want.D(0), want.D(c.style);
        want.W(c.x), want.W(c.y), want.W(c.cx), want.W(c.cy), want.D(c.id);
        want.W(0xFFFF), want.W(c.classOrdinal), want.Text(c.text), want.W(0);
    }
    unsigned dialogLanguage = 0, iconLanguage = 0;
    EXPECT_EQ(FindResource(5, 101, &dialogLanguage), want.b);
    Bytes group = FindResource(14, 103, &iconLanguage); // its images come from the icon file checked above
    ASSERT_FALSE(group.empty());
    EXPECT_EQ(Word(group, 4), 4u);
    EXPECT_TRUE(dialogLanguage == 0x0411 && iconLanguage == 0x0411);
}

TEST(AppResources, VersionBlockCarriesEveryValue)
{
    unsigned language = 0;
    const Bytes b = FindResource(16, 1, &language);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(language, 0x0411u);
    // After the header and the key "VS_VERSION_INFO": signature, then file and product version
    // 1.0.0.0, flags mask and flags, OS, type.
    const uint32_t fields[] = {0xFEEF04BD, 0, 0x00010000, 0, 0x00010000, 0, 0x3F, 0x28, 4, 1};
    for (size_t i = 0; i < std::size(fields); ++i)
        EXPECT_TRUE(i == 1 || Dword(b, 40 + 4 * i) == fields[i]) << "field " << i;
    // The value that follows a key: both UTF-16, each node 4-byte aligned.
    auto value = [&b](const std::u16string& key) {
        Bytes pattern;
        for (char16_t c : key + u'\0')
            pattern.push_back(c & 0xFF), pattern.push_back(c >> 8);
        auto found = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
        std::u16string text = found == b.end() ? u"(missing)" : u"";
        for (size_t at = (size_t(found - b.begin()) + pattern.size() + 3) & ~size_t{3}; found != b.end() && Word(b, at) != 0; at += 2)
            text += char16_t(Word(b, at));
        return text;
    };
    const std::u16string expected[][2] = {
        {u"Comments", u"画像情報取得ツール"}, {u"FileDescription", u"画像情報取得ツール QVR Version 1.0"},
        {u"FileVersion", u"1.0"}, {u"InternalName", u"QVR"}, {u"ProductName", u"QVR"}, {u"ProductVersion", u"1.0"},
        {u"SpecialBuild", u"none"}, {u"OriginalFilename", u"qvr.exe"},
    };
    for (const auto& pair : expected)
        EXPECT_TRUE(value(pair[0]) == pair[1]) << "a version string differs";
    for (const char16_t* key : {u"CompanyName", u"LegalCopyright", u"PrivateBuild", u"LegalTrademarks"})
        EXPECT_FALSE(value(key).empty() || value(key) == u"(missing)");
    const uint8_t translation[] = {0x11, 0x04, 0xB0, 0x04};
    EXPECT_NE(std::search(b.begin(), b.end(), translation, translation + 4), b.end());
}

#endif // QVR_RES_FILE

} // namespace
