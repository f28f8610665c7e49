// The paths the arguments stand for, handed to the batch in order: a path as given, a pattern's
// matches, and with -r every file beneath a folder. Portable: folders come from the platform file.
#pragma once

#include "cli_platform.h"
#include "cli_text.h"

#include <cstdint>
#include <string>
#include <vector>

// A walked tree whose handle stays open until every item taken from it is printed.
struct CliRetiredTree {
    CliFolder tree;
    uint64_t items; // items submitted when its walk ended
};

struct CliWalk {
    bool recursive;     // a folder stands for every entry beneath it that is not itself a folder
    bool oneFileSystem; // ... on the file systems of the arguments only
    bool going;         // false once the batch has stopped
    std::string folder; // the folder being read or walked, for the progress line
    std::vector<CliRetiredTree> retired;
};

// Submits every path `argument` stands for (`exact` as GetCliArgument said), unless stopped.
void SubmitCliArgument(CliWalk* walk, const char* argument, bool exact);

// Whether the walk goes into a folder that is a reparse point with this tag (Windows). A name
// surrogate (a symbolic link, a junction, a mount point) stands for another name and is an entry;
// so is a reparse point whose tag the system did not give (0). Any other (a folder kept in the
// cloud, a deduplicated one) is the folder it is, and walked.
bool WalksCliReparsePoint(uint32_t tag);

// Lets go of every tree once the batch has ended.
void FinishCliWalk(CliWalk* walk);

// "<program>: <text><what>", the text (in `encoding`) made safe for the terminal.
void PutCliMessage(TextOutput* message, const char* text, int encoding, const char* what);

// `folder` and `name` joined by the platform's separator, unless the folder already ends in one.
std::string JoinCliPath(const std::string& folder, const std::string& name);
