// The application icon file, and the compiled resources of the Windows program (.res bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <algorithm>
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

struct Rgb { int r, g, b; };

Rgb PixelAt(const Bytes& ico, size_t image, int size, int bits, int x, int y)
{
    size_t colours = size_t{1} << bits;
    size_t rowBytes = static_cast<size_t>((size * bits + 31) / 32 * 4);
    size_t row = image + 40 + colours * 4 + rowBytes * static_cast<size_t>(size - 1 - y);
    unsigned index = bits == 8 ? ico.at(row + x) : (ico.at(row + x / 2) >> (x % 2 ? 0 : 4)) & 15;
    size_t entry = image + 40 + index * 4;
    return {ico.at(entry + 2), ico.at(entry + 1), ico.at(entry)};
}

bool Ruler(Rgb c) { return c.g >= 200 && c.g > c.r + 40 && c.g > c.b + 40; }
bool Grey(Rgb c) { return c.r == c.g && c.g == c.b && c.r >= 0xC0; }
bool Red(Rgb c) { return c.r >= 200 && c.g < 64 && c.b < 64; }
bool Blue(Rgb c) { return c.b >= 200 && c.r < 64 && c.g < 96; }
bool Purple(Rgb c) { return c.r >= 0x80 && c.b >= 0x80 && c.g < 64; }

TEST(AppIcon, HoldsFourImagesShowingTheRulerAndTheShapes)
{
    Bytes ico = ReadFile(QVR_ICON_FILE);
    ASSERT_EQ(ico.size(), 6u + 4 * 16 + 2216 + 1384 + 744 + 296);
    ASSERT_EQ(Word(ico, 4), 4u);
    // The same places in both sizes: ruler, picture, red only, blue only, overlap.
    const struct { int x32, y32, x16, y16; const char* what; bool (*looks)(Rgb); } spots[] = {{20, 2, 10, 1, "ruler", Ruler}, {29, 29, 14, 14, "grey", Grey}, {22, 12, 12, 5, "red", Red},
                 {12, 26, 6, 12, "blue", Blue}, {18, 18, 9, 9, "purple", Purple}};
    // Ids 1 to 4 in this order.
    const struct { int size, bits; uint32_t bytes; } images[4] = {{32, 8, 2216}, {16, 8, 1384}, {32, 4, 744}, {16, 4, 296}};
    for (int i = 0; i < 4; ++i) {
        const auto& image = images[i];
        size_t entry = 6 + 16 * i;
        EXPECT_EQ(ico.at(entry), image.size);
        EXPECT_EQ(Word(ico, entry + 6), static_cast<unsigned>(image.bits));
        EXPECT_EQ(Dword(ico, entry + 8), image.bytes);
        size_t offset = Dword(ico, entry + 12);
        EXPECT_EQ(Dword(ico, offset + 8), static_cast<uint32_t>(image.size * 2)); // with the mask
        for (const auto& spot : spots) {
            bool big = image.size == 32;
            Rgb c = PixelAt(ico, offset, image.size, image.bits, big ? spot.x32 : spot.x16, big ? spot.y32 : spot.y16);
            EXPECT_TRUE(spot.looks(c)) << image.size << "x" << image.bits << " " << spot.what;
        }
    }
}

#ifdef QVR_RES_FILE

struct Resource { unsigned type, name, language; Bytes data; };

// Reads a .res file whose resources all have numeric types and names.
std::vector<Resource> ReadResources(const Bytes& res)
{
    std::vector<Resource> all;
    size_t at = 0;
    while (at + 32 <= res.size()) {
        uint32_t dataSize = Dword(res, at);
        uint32_t headerSize = Dword(res, at + 4);
        EXPECT_EQ(Word(res, at + 8), 0xFFFFu) << "string type at " << at;
        EXPECT_EQ(Word(res, at + 12), 0xFFFFu) << "string name at " << at;
        Resource r{Word(res, at + 10), Word(res, at + 14), Word(res, at + 22), {}};
        r.data.assign(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
        if (dataSize != 0 || r.type != 0)
            all.push_back(r);
        at += (headerSize + dataSize + 3) & ~size_t{3};
    }
    return all;
}

const Resource* Find(const std::vector<Resource>& all, unsigned type, unsigned name)
{
    for (const Resource& r : all)
        if (r.type == type && r.name == name)
            return &r;
    return nullptr;
}

// Appends little-endian template fields.
struct Writer {
    Bytes b;
    void W(unsigned v) { b.push_back(v & 0xFF), b.push_back(v >> 8 & 0xFF); }
    void D(uint32_t v) { W(v & 0xFFFF), W(v >> 16); }
    void Text(const char16_t* s)
    {
        do W(*s); while (*s++ != 0);
    }
    void Align() { while (b.size() % 4 != 0) b.push_back(0); }
};

TEST(AppResources, DialogTemplateIsExactAndTheIconIsThere)
{
    std::vector<Resource> all = ReadResources(ReadFile(QVR_RES_FILE));
    const Resource* dialog = Find(all, 5, 101);
    ASSERT_NE(dialog, nullptr);

    const uint32_t edit = 0x50010880, label = 0x50020001;
    // Class ordinals: 0x80 button, 0x81 edit, 0x82 static.
    const struct { unsigned classOrdinal; uint32_t id; const char16_t* text; int x, y, cx, cy; uint32_t style; } controls[10] = {
        {0x80, 2, u"OK", 124, 96, 48, 17, 0x50010001},
        {0x82, 1000, u"", 15, 12, 20, 20, 0x50000003},
        {0x81, 1004, u"", 44, 12, 128, 12, edit},
        {0x81, 1001, u"", 44, 24, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"サイズ", 8, 44, 32, 12, label},
        {0x81, 1002, u"", 44, 44, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"スケール", 8, 60, 32, 12, label},
        {0x81, 1003, u"", 44, 60, 128, 12, edit},
        {0x82, 0xFFFFFFFF, u"色数", 8, 76, 32, 12, label},
        {0x81, 1005, u"", 44, 76, 128, 12, edit},
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
    EXPECT_EQ(dialog->data, want.b);
    EXPECT_EQ(dialog->language, 0x0411u);

    // The group icon and its images come from the icon file checked above.
    const Resource* group = Find(all, 14, 103);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, 0x0411u);
    EXPECT_EQ(Word(group->data, 4), 4u);
}

// The value that follows `key` in a version block: both are UTF-16, each node 4-byte aligned.
std::u16string VersionString(const Bytes& b, const std::u16string& key)
{
    Bytes pattern;
    for (char16_t c : key + u'\0')
        pattern.push_back(c & 0xFF), pattern.push_back(c >> 8);
    auto found = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
    if (found == b.end())
        return u"(missing)";
    size_t at = (static_cast<size_t>(found - b.begin()) + pattern.size() + 3) & ~size_t{3};
    std::u16string value;
    for (; Word(b, at) != 0; at += 2)
        value += static_cast<char16_t>(Word(b, at));
    return value;
}

TEST(AppResources, VersionBlockCarriesEveryValue)
{
    std::vector<Resource> all = ReadResources(ReadFile(QVR_RES_FILE));
    const Resource* version = Find(all, 16, 1);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->language, 0x0411u);
    const Bytes& b = version->data;
    const size_t fixed = 40; // after the header and the key "VS_VERSION_INFO", aligned
    // Signature, then file and product version 1.0.0.0, flags mask and flags, OS, type.
    const uint32_t fields[] = {0xFEEF04BD, 0x00010000, 0, 0x00010000, 0, 0x3F, 0x28, 4, 1};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(Dword(b, fixed + (i == 0 ? 0 : 4 + 4 * i)), fields[i]) << "field " << i;

    const std::u16string expected[][2] = {
        {u"Comments", u"画像情報取得ツール"},
        {u"FileDescription", u"画像情報取得ツール QVR Version 1.0"},
        {u"FileVersion", u"1.0"},
        {u"InternalName", u"QVR"},
        {u"ProductName", u"QVR"},
        {u"ProductVersion", u"1.0"},
        {u"SpecialBuild", u"none"},
        {u"OriginalFilename", u"qvr.exe"},
    };
    for (const auto& pair : expected)
        EXPECT_TRUE(VersionString(b, pair[0]) == pair[1]) << "a version string differs";
    for (const char16_t* key : {u"CompanyName", u"LegalCopyright", u"PrivateBuild", u"LegalTrademarks"})
        EXPECT_FALSE(VersionString(b, key).empty() || VersionString(b, key) == u"(missing)");
    const uint8_t translation[] = {0x11, 0x04, 0xB0, 0x04};
    EXPECT_NE(std::search(b.begin(), b.end(), translation, translation + 4), b.end());
}

#endif // QVR_RES_FILE

} // namespace
