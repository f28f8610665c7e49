// The text the command-line tools write: characters read from code page 932 or UTF-8, JSON
// strings, text that is safe on a terminal, and file-name patterns. Portable: no platform header,
// no allocation; output gathers in the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

enum TextEncoding {
    TEXT_CP932, // code page 932 (Shift_JIS): the probe's and the panel's texts, Windows names
    TEXT_UTF8,  // Linux names (as far as they are valid) and everything the Linux tool writes
};

// Bytes gathered in `bytes` (at least 64) and written to `stream` whenever they would not fit,
// or without a stream handed to `keep`.
struct TextOutput {
    char* bytes;
    size_t capacity;
    size_t length;
    FILE* stream;
    bool failed; // a write to the stream failed
    int error;   // the errno of the first failed write
    void (*keep)(void* keeper, const char* bytes, size_t count);
    void* keeper;
};

void PutBytesAfterFlush(TextOutput* out, const char* bytes, size_t count);

inline void PutBytes(TextOutput* out, const char* bytes, size_t count)
{
    if (out->capacity - out->length < count) {
        PutBytesAfterFlush(out, bytes, count);
        return;
    }
    std::memcpy(out->bytes + out->length, bytes, count);
    out->length += count;
}

inline void PutString(TextOutput* out, const char* text)
{
    PutBytes(out, text, std::strlen(text));
}

void PutUnsigned(TextOutput* out, uint64_t value);
void PutSigned(TextOutput* out, int64_t value);
// Writes what is gathered to the stream and flushes it. False once any write has failed.
bool FlushOutput(TextOutput* out);

// Reads the character at `text` (zero-terminated). Returns its length in bytes, at least 1, and
// its code point; a byte that starts no valid character counts alone, as U+FFFD, with `*valid`
// false.
size_t DecodeCharacter(const char* text, int encoding, uint32_t* codePoint, bool* valid);

// The platform's code page 932 table: the code point of a double-byte character, or
// CP932_INVALID. Each platform file supplies it.
const uint32_t CP932_INVALID = 0xFFFFFFFF;
uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail);

// The other way: the code page 932 bytes of the character `codePoint` above ASCII, or the
// full-width stand-in of ¥ and ‾ (never an ASCII byte); 0 when the code page does not hold it.
// Each platform file supplies it.
size_t EncodeCp932(uint32_t codePoint, char bytes[2]);

bool IsValidText(const char* text, int encoding);

// A JSON string in quotes: UTF-8, with U+FFFD for what is not a character of `encoding`.
void PutJsonString(TextOutput* out, const char* text, int encoding);
// The bytes of `text` as lowercase hexadecimal digits, in quotes.
void PutJsonHex(TextOutput* out, const char* text);

// Text for a terminal in `terminalEncoding`: control characters, bidirectional controls and the
// line and paragraph separators cannot move the cursor, recolour or reorder what follows. In
// UTF-8 the C0 controls and DEL become their visible pictures (U+2400 to U+2421) and the others,
// like bytes that form no character, U+FFFD; in code page 932 each becomes '?', and so does a
// character the code page does not hold.
void PutTerminalText(TextOutput* out, const char* text, int encoding, int terminalEncoding);

// The platform's case folding of one UTF-16 unit above ASCII, as its file-name search folds it.
typedef uint32_t (*CaseFold)(uint32_t unit);

// True when `name` matches `pattern` as the system's file search matches a long name, both in
// UTF-8 and taken as the UTF-16 units the system sees: '*' any run of units, '?' exactly one (a
// character beyond the first plane is two), any other unit the same once folded (ASCII here,
// the rest by `fold`), and once the name is used up, what is left of the pattern may be dots and
// stars ("*.*" matches "README", "a.*" matches "a").
bool MatchesPattern(const char* name, const char* pattern, CaseFold fold);

// The UTF-8 form of UTF-16 text (`units` zero-terminated, one unit per element) in `bytes`
// (capacity bytes, terminator included); false when it does not fit. A lone surrogate gets the
// three bytes of its code point, which no UTF-8 reader takes: such a name never turns into
// another file's name, and it reaches no file.
bool EncodeUtf16(const wchar_t* units, char* bytes, size_t capacity);

// The length of the folder part of a UTF-8 path: up to and including its last '\\', '/' or
// drive colon.
size_t FolderPartLength(const char* path);

// The order in which a pattern's matches and a folder's entries are taken: ASCII letters in either
// case alike, the bytes deciding between such names. On UTF-8 this is the order of the
// characters' code points. Negative, 0 or positive, as strcmp.
int CompareCliNames(const char* a, const char* b);
