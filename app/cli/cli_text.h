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

// True when `name` matches `pattern`: '*' any run of characters, '?' exactly one, ASCII letters
// in either case. Both are UTF-8: a character of several bytes is one character.
bool MatchesPattern(const char* name, const char* pattern);

// The length of the folder part of a UTF-8 path: up to and including its last '\\', '/' or
// drive colon.
size_t FolderPartLength(const char* path);

// The order in which a pattern's matches and a folder's entries are taken: ASCII letters in either
// case alike, the bytes deciding between such names. On UTF-8 this is the order of the
// characters' code points. Negative, 0 or positive, as strcmp.
int CompareCliNames(const char* a, const char* b);
