// The command line of the command-line tools: options and paths, without touching any file.
#pragma once

enum CliAction {
    CLI_PROBE,       // probe the paths
    CLI_HELP,        // print the usage text
    CLI_VERSION,     // print the version
    CLI_USAGE_ERROR, // print `error` and a hint to standard error
};

enum {
    CLI_ERROR_SIZE = 160,
};

struct CliOptions {
    int action; // CliAction
    bool json;
    bool recursive;    // a folder stands for the files beneath it
    bool oneFileSystem; // ... on the file systems of the folders given
    int jobs;          // probes at once
    bool jobsNext;     // "-j" or "--jobs" was read: the next argument is its number
    const char* jobsOption; // which of the two, as typed
    bool optionsEnded; // "--" was read: every later argument is a path
    int pathCount;
    char error[CLI_ERROR_SIZE];
};

void StartCliOptions(CliOptions* options);

// Reads the next argument; true when it is a path. "--" ends the options; "-" alone is a path.
// The number of jobs follows "-j" or "--jobs" as the next argument, or as "-j8" and "--jobs=8".
// Help wins over everything else on the line, a usage error over the version.
bool ReadCliArgument(CliOptions* options, const char* argument);

// Settles the action once every argument was read.
void FinishCliOptions(CliOptions* options);
