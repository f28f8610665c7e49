// The application icon file, and the compiled resources of the Windows program (.res bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned Word(const Bytes& b, size_t at)
{
    return b.at(at) | b.at(at + 1) << 8;
}

uint32_t Dword(const Bytes& b, size_t at)
{
    return Word(b, at) | static_cast<uint32_t>(Word(b, at + 2)) << 16;
}

struct IconImage {
    int size;
    int bits;
    uint32_t bytes;
};

// Ids 1 to 4 in this order.
const IconImage kIconImages[4] = {{32, 8, 2216}, {16, 8, 1384}, {32, 4, 744}, {16, 4, 296}};

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const Bytes& ico, size_t image, int size, int bits, int x, int y)
{
    size_t colours = size_t{1} << bits;
    size_t rowBytes = static_cast<size_t>((size * bits + 31) / 32 * 4);
    size_t row = image + 40 + colours * 4 + rowBytes * static_cast<size_t>(size - 1 - y);
    unsigned index = bits == 8 ? ico.at(row + x) : (ico.at(row + x / 2) >> (x % 2 ? 0 : 4)) & 15;
    size_t entry = image + 40 + index * 4;
    return {ico.at(entry + 2), ico.at(entry + 1), ico.at(entry)};
}

TEST(AppIcon, HoldsFourPalettedImagesOfTheExpectedSizes)
{
    Bytes ico = ReadFile(QVR_ICON_FILE);
    ASSERT_GE(ico.size(), 6u);
    EXPECT_EQ(Word(ico, 0), 0u);
    EXPECT_EQ(Word(ico, 2), 1u);
    ASSERT_EQ(Word(ico, 4), 4u);
    size_t expectedOffset = 6 + 4 * 16;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const IconImage& want = kIconImages[i];
        size_t entry = 6 + 16 * i;
        EXPECT_EQ(ico.at(entry), want.size);
        EXPECT_EQ(ico.at(entry + 1), want.size);
        EXPECT_EQ(ico.at(entry + 2), want.bits == 4 ? 16 : 0);
        EXPECT_EQ(Word(ico, entry + 4), 1u);
        EXPECT_EQ(Word(ico, entry + 6), static_cast<unsigned>(want.bits));
        EXPECT_EQ(Dword(ico, entry + 8), want.bytes);
        ASSERT_EQ(Dword(ico, entry + 12), expectedOffset);
        // The DIB header: colour rows and mask rows count together in the height.
        EXPECT_EQ(Dword(ico, expectedOffset), 40u);
        EXPECT_EQ(Dword(ico, expectedOffset + 4), static_cast<uint32_t>(want.size));
        EXPECT_EQ(Dword(ico, expectedOffset + 8), static_cast<uint32_t>(want.size * 2));
        EXPECT_EQ(Word(ico, expectedOffset + 14), static_cast<unsigned>(want.bits));
        EXPECT_EQ(Dword(ico, expectedOffset + 32), 0u); // full palette
        expectedOffset += want.bytes;
    }
    EXPECT_EQ(ico.size(), expectedOffset);
}

TEST(AppIcon, ShowsTheRulerAndTheOverlappingShapes)
{
    Bytes ico = ReadFile(QVR_ICON_FILE);
    ASSERT_EQ(ico.size(), 4710u);
    struct Spot {
        int x, y;
        const char* what;
    };
    // Same places in both sizes: ruler, picture, red only, blue only, overlap.
    const Spot spots32[] = {{20, 2, "ruler"}, {29, 29, "grey"}, {22, 12, "red"},
                            {12, 26, "blue"}, {18, 18, "purple"}};
    const Spot spots16[] = {{10, 1, "ruler"}, {14, 14, "grey"}, {12, 5, "red"},
                            {6, 12, "blue"},  {9, 9, "purple"}};
    for (int i = 0; i < 4; ++i) {
        const IconImage& image = kIconImages[i];
        size_t offset = Dword(ico, 6 + 16 * i + 12);
        for (const Spot& spot : image.size == 32 ? spots32 : spots16) {
            SCOPED_TRACE(std::to_string(image.size) + "x" + std::to_string(image.bits) + " " +
                         spot.what);
            Rgb c = PixelAt(ico, offset, image.size, image.bits, spot.x, spot.y);
            std::string what = spot.what;
            if (what == "ruler")
                EXPECT_TRUE(c.g >= 200 && c.g > c.r + 40 && c.g > c.b + 40);
            else if (what == "grey")
                EXPECT_TRUE(c.r == c.g && c.g == c.b && c.r >= 0xC0);
            else if (what == "red")
                EXPECT_TRUE(c.r >= 200 && c.g < 64 && c.b < 64);
            else if (what == "blue")
                EXPECT_TRUE(c.b >= 200 && c.r < 64 && c.g < 96);
            else
                EXPECT_TRUE(c.r >= 0x80 && c.b >= 0x80 && c.g < 64);
        }
    }
}

#ifdef QVR_RES_FILE

struct Resource {
    unsigned type;
    unsigned name;
    unsigned language;
    Bytes data;
};

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

struct Control {
    unsigned classOrdinal; // 0x80 button, 0x81 edit, 0x82 static
    uint32_t id;
    const char16_t* text;
    int x, y, cx, cy;
    uint32_t style;
};

TEST(AppResources, DialogTemplateIsExact)
{
    std::vector<Resource> all = ReadResources(ReadFile(QVR_RES_FILE));
    const Resource* dialog = Find(all, 5, 101);
    ASSERT_NE(dialog, nullptr);

    const uint32_t edit = 0x50010880, label = 0x50020001;
    const Control controls[10] = {
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
    for (const Control& c : controls) {
        want.Align();
        want.D(0), want.D(0), want.D(c.style);
        want.W(c.x), want.W(c.y), want.W(c.cx), want.W(c.cy), want.D(c.id);
        want.W(0xFFFF), want.W(c.classOrdinal), want.Text(c.text), want.W(0);
    }
    EXPECT_EQ(dialog->data, want.b);
    EXPECT_EQ(dialog->language, 0x0411u);
}

TEST(AppResources, GroupIconNamesFourImages)
{
    std::vector<Resource> all = ReadResources(ReadFile(QVR_RES_FILE));
    const Resource* group = Find(all, 14, 103);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, 0x0411u);
    ASSERT_EQ(group->data.size(), 6u + 4 * 14);
    EXPECT_EQ(Word(group->data, 4), 4u);
    for (unsigned i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        size_t e = 6 + 14 * i;
        const IconImage& want = kIconImages[i];
        EXPECT_EQ(group->data[e], want.size);
        EXPECT_EQ(group->data[e + 2], want.bits == 4 ? 16 : 0);
        EXPECT_EQ(Word(group->data, e + 6), static_cast<unsigned>(want.bits));
        EXPECT_EQ(Dword(group->data, e + 8), want.bytes);
        unsigned id = Word(group->data, e + 12);
        EXPECT_EQ(id, i + 1);
        const Resource* image = Find(all, 3, id);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->data.size(), want.bytes);
        EXPECT_EQ(image->language, 0x0411u);
    }
}

// Walks a version block: "StringFileInfo/041104B0/Key" -> UTF-16 value, and the translation.
void ReadVersionNode(const Bytes& b, size_t at, const std::u16string& parent,
                     std::map<std::u16string, std::u16string>* strings, Bytes* translation)
{
    size_t end = at + Word(b, at);
    unsigned valueLength = Word(b, at + 2);
    bool text = Word(b, at + 4) == 1;
    std::u16string key;
    size_t p = at + 6;
    for (; Word(b, p) != 0; p += 2)
        key += static_cast<char16_t>(Word(b, p));
    p = (p + 2 + 3) & ~size_t{3};
    std::u16string path = parent.empty() ? key : parent + u"/" + key;
    if (text && valueLength > 0) {
        std::u16string value;
        for (unsigned i = 0; i + 1 < valueLength; ++i)
            value += static_cast<char16_t>(Word(b, p + 2 * i));
        (*strings)[path] = value;
    } else if (key == u"Translation") {
        translation->assign(b.begin() + p, b.begin() + p + valueLength);
    }
    p = (p + (text ? 2 * valueLength : valueLength) + 3) & ~size_t{3};
    while (p < end) {
        ReadVersionNode(b, p, parent.empty() && key == u"VS_VERSION_INFO" ? u"" : path, strings,
                        translation);
        p = (p + Word(b, p) + 3) & ~size_t{3};
    }
}

TEST(AppResources, VersionBlockCarriesEveryValue)
{
    std::vector<Resource> all = ReadResources(ReadFile(QVR_RES_FILE));
    const Resource* version = Find(all, 16, 1);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->language, 0x0411u);
    const Bytes& b = version->data;
    const size_t fixed = 40; // after the header and the key "VS_VERSION_INFO", aligned
    ASSERT_EQ(Dword(b, fixed), 0xFEEF04BDu);
    EXPECT_EQ(Dword(b, fixed + 8), 0x00010000u);  // file version 1.0 ...
    EXPECT_EQ(Dword(b, fixed + 12), 0u);          // ... .0.0
    EXPECT_EQ(Dword(b, fixed + 16), 0x00010000u); // product version
    EXPECT_EQ(Dword(b, fixed + 20), 0u);
    EXPECT_EQ(Dword(b, fixed + 24), 0x3Fu);
    EXPECT_EQ(Dword(b, fixed + 28), 0x28u);
    EXPECT_EQ(Dword(b, fixed + 32), 4u);
    EXPECT_EQ(Dword(b, fixed + 36), 1u);

    std::map<std::u16string, std::u16string> strings;
    Bytes translation;
    ReadVersionNode(b, 0, u"", &strings, &translation);
    const std::u16string table = u"StringFileInfo/041104B0/";
    const std::map<std::u16string, std::u16string> listed = {
        {u"Comments", u"画像情報取得ツール"},
        {u"FileDescription", u"画像情報取得ツール QVR Version 1.0"},
        {u"FileVersion", u"1.0"},
        {u"InternalName", u"QVR"},
        {u"ProductName", u"QVR"},
        {u"ProductVersion", u"1.0"},
        {u"SpecialBuild", u"none"},
    };
    for (const auto& [key, value] : listed)
        EXPECT_TRUE(strings[table + key] == value) << "a listed string differs";
    for (const char16_t* key : {u"CompanyName", u"LegalCopyright", u"OriginalFilename",
                                u"PrivateBuild", u"LegalTrademarks"})
        EXPECT_FALSE(strings[table + key].empty()) << "a further key is missing";
    EXPECT_TRUE(strings[table + u"OriginalFilename"] == u"qvr.exe");
    EXPECT_EQ(strings.size(), 12u);
    EXPECT_EQ(translation, Bytes({0x11, 0x04, 0xB0, 0x04}));
}

#endif // QVR_RES_FILE

} // namespace
