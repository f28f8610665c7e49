// Paths on Windows. The exact Unicode form of a path is what reaches the file system and the
// shell; its code page 932 form is what the record shows and what the detectors test the
// extension of. The two meet only here: the portable probe sees the code page 932 form alone.
#pragma once

#include <cstddef>

#include "image_info.h"

enum {
    WIDE_PATH_SIZE = 32768, // UTF-16 units of the longest command line or path, terminator included
};

// The code page 932 form of the character at `wide` (UTF-16): its own bytes when the code page
// holds it exactly, the full-width stand-in of ¥ and ‾, else '?'. No conversion by likeness (é to
// e, ¥ to 0x5C) is made. Writes 1 or 2 bytes and returns their number; `*units` receives the
// UTF-16 units the character takes (2 for a surrogate pair).
size_t ShowWideCharacter(const wchar_t* wide, char bytes[2], size_t* units);

// The code page 932 form of `wide`, character by character, into `shown` (capacity bytes, the
// terminator included). Returns true when it fits whole; else it is cut at a character boundary.
bool ShowWideText(const wchar_t* wide, char* shown, size_t capacity);

// How many UTF-16 units of `wide` the characters take whose code page 932 forms lie wholly
// within the first `shownLength` bytes of ShowWideText's result.
size_t WideLength(const wchar_t* wide, size_t shownLength);

// Probes the file that `widePath` names; `path` is its code page 932 form, from ShowWideText.
int ProbeWideFile(ImageInfo* info, const char* path, const wchar_t* widePath);
