#include "cli_text.h"

#include "cli_platform.h"
#include "cp932_text.h"

#include <cerrno>
#include <cstring>

namespace {

void Drain(TextOutput* out, const char* bytes, size_t count)
{
    if (!out->stream) {
        if (out->keep)
            out->keep(out->keeper, bytes, count);
    } else if (!out->failed && WriteCliOutput(out->stream, bytes, count) != count) {
        out->failed = true;
        out->error = errno;
    }
}

} // namespace

void PutBytesAfterFlush(TextOutput* out, const char* bytes, size_t count)
{
    Drain(out, out->bytes, out->length);
    out->length = 0;
    if (count > out->capacity) { // more than the whole buffer: straight through
        Drain(out, bytes, count);
        return;
    }
    std::memcpy(out->bytes, bytes, count);
    out->length = count;
}

void PutUnsigned(TextOutput* out, uint64_t value)
{
    char digits[20];
    size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    PutBytes(out, digits + at, sizeof digits - at);
}

void PutSigned(TextOutput* out, int64_t value)
{
    if (value < 0) {
        PutBytes(out, "-", 1);
        PutUnsigned(out, ~static_cast<uint64_t>(value) + 1);
    } else {
        PutUnsigned(out, static_cast<uint64_t>(value));
    }
}

bool FlushOutput(TextOutput* out)
{
    Drain(out, out->bytes, out->length);
    out->length = 0;
    if (out->stream && !out->failed && (std::fflush(out->stream) != 0 || std::ferror(out->stream))) {
        out->failed = true;
        out->error = errno;
    }
    return !out->failed;
}

namespace {

size_t DecodeUtf8(const unsigned char* text, uint32_t* codePoint)
{
    unsigned char first = text[0];
    size_t length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3
                  : (first >> 3) == 30 ? 4 : 0;
    if (length == 0)
        return 0;
    uint32_t value = length == 1 ? first : first & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) // also stops at the terminator
            return 0;
        value = (value << 6) | (text[i] & 0x3Fu);
    }
    static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

size_t DecodeCp932(const unsigned char* text, uint32_t* codePoint)
{
    unsigned char first = text[0];
    if (first < 0x80) {
        *codePoint = first;
        return 1;
    }
    if (first >= 0xA1 && first <= 0xDF) { // half-width katakana
        *codePoint = 0xFF61 + (first - 0xA1u);
        return 1;
    }
    unsigned char trail = text[1];
    if (!IsCp932LeadByte(first) || trail < 0x40 || trail == 0x7F || trail > 0xFC)
        return 0;
    uint32_t value = DecodeCp932Pair(first, trail);
    if (value == CP932_INVALID)
        return 0;
    *codePoint = value;
    return 2;
}

char* EncodeUtf8(char* at, uint32_t codePoint)
{
    if (codePoint < 0x80) {
        *at++ = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *at++ = static_cast<char>(0xC0 | codePoint >> 6);
        *at++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *at++ = static_cast<char>(0xE0 | codePoint >> 12);
        *at++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *at++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *at++ = static_cast<char>(0xF0 | codePoint >> 18);
        *at++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *at++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *at++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return at;
}

void PutUtf8(TextOutput* out, uint32_t codePoint)
{
    char bytes[4];
    PutBytes(out, bytes, static_cast<size_t>(EncodeUtf8(bytes, codePoint) - bytes));
}

// Room for `count` more bytes in the buffer (count <= capacity), flushing it when needed.
char* ReserveOutput(TextOutput* out, size_t count)
{
    if (out->capacity - out->length < count)
        PutBytesAfterFlush(out, "", 0);
    return out->bytes + out->length;
}

const size_t JSON_PART = 1024; // input bytes escaped per reservation, at most
const size_t JSON_GROWTH = 6;  // "\\u001f": the most one input byte can become

// Escapes the characters that start within the next part of `text`; returns where it stopped.
// Valid UTF-8 is copied, everything else is written as UTF-8.
const char* PutJsonPart(TextOutput* out, const char* text, int encoding)
{
    static const char hex[] = "0123456789abcdef";
    size_t part = out->capacity / JSON_GROWTH - 4; // a character starting in it has 4 bytes at most
    part = part < JSON_PART ? part : JSON_PART;
    char* at = ReserveOutput(out, (part + 4) * JSON_GROWTH);
    for (const char* start = text; static_cast<size_t>(text - start) < part;) {
        unsigned char byte = static_cast<unsigned char>(*text);
        if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
            *at++ = static_cast<char>(byte);
            ++text;
        } else if (byte == 0) {
            break;
        } else if (byte >= 0x80) {
            uint32_t codePoint;
            bool valid;
            size_t length = DecodeCharacter(text, encoding, &codePoint, &valid);
            if (valid && encoding == TEXT_UTF8) {
                std::memcpy(at, text, length);
                at += length;
            } else {
                at = EncodeUtf8(at, codePoint);
            }
            text += length;
        } else {
            static const char shortForms[] = "btn\0fr"; // for 0x08 to 0x0D
            *at++ = '\\';
            if (byte == '"' || byte == '\\') {
                *at++ = static_cast<char>(byte);
            } else if (byte >= 0x08 && byte <= 0x0D && shortForms[byte - 0x08] != '\0') {
                *at++ = shortForms[byte - 0x08];
            } else {
                std::memcpy(at, "u00", 3);
                at[3] = hex[byte >> 4];
                at[4] = hex[byte & 15];
                at += 5;
            }
            ++text;
        }
    }
    out->length = static_cast<size_t>(at - out->bytes);
    return text;
}

// Characters that reorder or break the text around them without showing themselves.
bool IsLayoutControl(uint32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

size_t DecodeCharacter(const char* text, int encoding, uint32_t* codePoint, bool* valid)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t length = encoding == TEXT_UTF8 ? DecodeUtf8(bytes, codePoint) : DecodeCp932(bytes, codePoint);
    *valid = length != 0;
    if (length != 0)
        return length;
    *codePoint = 0xFFFD;
    return 1;
}

bool IsValidText(const char* text, int encoding)
{
    uint32_t codePoint;
    bool valid = true;
    while (*text != '\0' && valid)
        text += DecodeCharacter(text, encoding, &codePoint, &valid);
    return valid;
}

void PutJsonString(TextOutput* out, const char* text, int encoding)
{
    PutBytes(out, "\"", 1);
    while (*text != '\0')
        text = PutJsonPart(out, text, encoding);
    PutBytes(out, "\"", 1);
}

void PutJsonHex(TextOutput* out, const char* text)
{
    static const char hex[] = "0123456789abcdef";
    PutBytes(out, "\"", 1);
    for (; *text != '\0'; ++text) {
        unsigned char byte = static_cast<unsigned char>(*text);
        char pair[2] = {hex[byte >> 4], hex[byte & 15]};
        PutBytes(out, pair, 2);
    }
    PutBytes(out, "\"", 1);
}

void PutTerminalText(TextOutput* out, const char* text, int encoding, int terminalEncoding)
{
    while (*text != '\0') {
        uint32_t c;
        bool valid;
        size_t length = DecodeCharacter(text, encoding, &c, &valid);
        bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || IsLayoutControl(c);
        if (terminalEncoding == TEXT_UTF8) {
            if (c < 0x20 || c == 0x7F)
                PutUtf8(out, c == 0x7F ? 0x2421 : 0x2400 + c);
            else if (control)
                PutUtf8(out, 0xFFFD);
            else if (valid && encoding == TEXT_UTF8)
                PutBytes(out, text, length);
            else
                PutUtf8(out, c);
        } else if (!valid || control) {
            PutBytes(out, "?", 1);
        } else if (encoding == TEXT_CP932 || c < 0x80) {
            PutBytes(out, text, length);
        } else {
            char bytes[2];
            size_t count = EncodeCp932(c, bytes);
            PutBytes(out, count ? bytes : "?", count ? count : 1);
        }
        text += length;
    }
}

namespace {

// A place in UTF-8 text counted in UTF-16 units: `low` is set between the two halves of a
// character beyond the first plane.
struct UnitPlace {
    const char* at;
    bool low;
};

// The three bytes of a lone surrogate (see EncodeUtf16), which DecodeCharacter rejects.
bool IsSurrogateBytes(const unsigned char* text)
{
    return text[0] == 0xED && text[1] >= 0xA0 && text[1] <= 0xBF && (text[2] & 0xC0) == 0x80;
}

// The unit at `place` (0 at the end) and the place after it; a byte that starts no character
// counts as one unit, U+FFFD.
uint32_t NextUnit(UnitPlace* place)
{
    const unsigned char* text = reinterpret_cast<const unsigned char*>(place->at);
    if (text[0] < 0x80) {
        place->at += text[0] != 0;
        return text[0];
    }
    if (IsSurrogateBytes(text)) {
        place->at += 3;
        return 0xD000u | (text[1] & 0x3Fu) << 6 | (text[2] & 0x3Fu);
    }
    uint32_t c;
    bool valid;
    size_t length = DecodeCharacter(place->at, TEXT_UTF8, &c, &valid);
    if (c < 0x10000) {
        place->at += length;
        return c;
    }
    place->low = !place->low;
    if (place->low)
        return 0xD800 + ((c - 0x10000) >> 10);
    place->at += length;
    return 0xDC00 + (c & 0x3FF);
}

uint32_t FoldUnit(uint32_t unit, CaseFold fold)
{
    if (unit < 0x80)
        return unit >= 'a' && unit <= 'z' ? unit - 32 : unit;
    return unit >= 0xD800 && unit <= 0xDFFF ? unit : fold(unit);
}

} // namespace

bool MatchesPattern(const char* name, const char* pattern, CaseFold fold)
{
    // Greedy, going back to the last '*' on a mismatch: enough, since a later '*' can always
    // take over what an earlier one would have to give up.
    UnitPlace at = {name, false}, mask = {pattern, false};
    UnitPlace starName = at, starMask = mask;
    bool star = false;
    for (;;) {
        UnitPlace nextName = at, nextMask = mask;
        uint32_t n = NextUnit(&nextName);
        if (n == 0)
            break;
        uint32_t m = NextUnit(&nextMask);
        if (m == '*') {
            star = true;
            mask = starMask = nextMask;
            starName = at;
        } else if (m == '?' || (m != 0 && FoldUnit(m, fold) == FoldUnit(n, fold))) {
            at = nextName;
            mask = nextMask;
        } else if (star) {
            NextUnit(&starName);
            at = starName;
            mask = starMask;
        } else {
            return false;
        }
    }
    while (*mask.at == '*' || *mask.at == '.')
        ++mask.at;
    return *mask.at == '\0';
}

bool EncodeUtf16(const wchar_t* units, char* bytes, size_t capacity)
{
    size_t length = 0;
    for (; *units != 0; ++units) {
        uint32_t c = static_cast<uint32_t>(*units) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && (units[1] & 0xFC00) == 0xDC00)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(*++units) & 0x3FF);
        char character[4];
        size_t count = static_cast<size_t>(EncodeUtf8(character, c) - character); // a lone surrogate too
        if (capacity - length <= count)
            return false;
        std::memcpy(bytes + length, character, count);
        length += count;
    }
    bytes[length] = '\0';
    return true;
}

size_t FolderPartLength(const char* path)
{
    size_t folder = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            folder = i + 1;
    }
    return folder;
}

int CompareCliNames(const char* a, const char* b)
{
    for (size_t i = 0;; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        x = static_cast<unsigned char>(x >= 'A' && x <= 'Z' ? x + 32 : x);
        y = static_cast<unsigned char>(y >= 'A' && y <= 'Z' ? y + 32 : y);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return std::strcmp(a, b);
    }
}
