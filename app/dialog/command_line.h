// What the program makes of its command line. Portable: no platform header, so every decision
// can be checked natively; WinMain only carries them out. The command line is read in its code
// page 932 form, one character for each character of the Unicode command line, so that every
// span picked here stands for the same characters there.
#pragma once

#include <cstddef>

enum {
    START_PATH_SIZE = 260, // the platform's path limit, terminator included
};

// The decisions taken at start-up. Plain fixed-size value; the pointers point into the parsed text.
struct StartCommand {
    int quoted;       // 1: the quoted form; the path must name something that exists
    int shortForm;    // 1: a quoted path too long to be taken as given; its short form is taken
    const char* path; // where the path to show stands; null when there is none, or it is refused
    size_t length;    // its length in bytes
    int launch;       // 1: hand `rest` to a new instance
    const char* rest; // what follows the path, unchanged; null without launch
};

// Skips the program's name and the blanks after it in a full process command line, as the runtime's
// start-up contract promises. A quoted name ends at the next quotation mark (double-byte characters
// stepped over whole), an unquoted one at the first byte of code 32 or less; then every byte of code
// 1 to 32 is skipped. Bytes of 0x80 and above are never taken for blanks.
const char* SkipProgramName(const char* commandLine);

// Decides what the command line `args` (without the program's name) asks for.
// Quoted form: the path ends at the closing quotation mark; what follows it, past the blanks, is
// handed on when anything does. Without a closing mark the path is the text between the first
// byte and the last byte. A path of START_PATH_SIZE bytes or more is taken through its short form.
// Plain form: the path is the first token; a token of START_PATH_SIZE bytes or more is refused
// rather than cut, so that a cut path never shows the facts of another file. The text after the
// first space is handed on, even when empty.
void ParseCommandLine(const char* args, StartCommand* start);
