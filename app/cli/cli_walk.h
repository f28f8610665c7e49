// The paths the arguments stand for, handed to the batch in order: a path as given, a pattern's
// matches, and with -r every file beneath a folder. Portable: folders come from the platform file.
#pragma once

#include "cli_text.h"

#include <string>

struct CliWalk {
    bool recursive;     // a folder stands for every entry beneath it that is not itself a folder
    bool going;         // false once the batch has stopped
    std::string folder; // the folder being read or walked, for the progress line
};

// Submits every path `argument` stands for (`exact` as GetCliArgument said), unless stopped.
void SubmitCliArgument(CliWalk* walk, const char* argument, bool exact);

// "<program>: <text><what>", the text (in `encoding`) made safe for the terminal.
void PutCliMessage(TextOutput* message, const char* text, int encoding, const char* what);

// `folder` and `name` joined by the platform's separator, unless the folder already ends in one.
std::string JoinCliPath(const std::string& folder, const std::string& name);
