// What the program makes of its command line. Portable: no platform header, so every decision
// can be checked natively; WinMain only carries them out.
#pragma once

#include <cstddef>

enum {
    START_PATH_SIZE = 260, // the platform's path limit, terminator included
};

// The decisions taken at start-up. Plain fixed-size value; `rest` points into the parsed text.
struct StartCommand {
    int quoted;                     // 1: the quoted form; `path` is to be converted to its short form
    char path[START_PATH_SIZE];     // plain form: the first token; quoted form: unused (empty)
    int launch;                     // 1: hand `rest` to a new instance (plain form only)
    const char* rest;               // the text after the first space, unchanged; null without launch
};

// Skips the program's name and the blanks after it in a full process command line, as the runtime's
// start-up contract promises. A quoted name ends at the next quotation mark (double-byte characters
// stepped over whole), an unquoted one at the first byte of code 32 or less; then every byte of code
// 1 to 32 is skipped. Bytes of 0x80 and above are never taken for blanks.
const char* SkipProgramName(const char* commandLine);

// Decides what the command line `args` (without the program's name) asks for.
// Quoted form: the text between the first byte and the last byte is copied into `quotedText`
// (capacity bytes, terminator included) for the short-form conversion; when it does not fit or
// holds a wildcard, `quotedText` is left empty, as a path that cannot be converted leaves the
// start path empty.
// Plain form: `path` receives the first token; a token of START_PATH_SIZE bytes or more is refused
// (left empty) rather than cut, so that a cut path never shows the facts of another file.
void ParseCommandLine(const char* args, StartCommand* start, char* quotedText, size_t capacity);

// Puts `path` between quotation marks into `parameters` (capacity bytes, terminator included),
// the command line handed to the instance that shows a further dropped file. A path too long for
// the marks and the terminator is cut to fit. Returns the length written, without the terminator.
size_t QuoteLaunchPath(char* parameters, size_t capacity, const char* path);
