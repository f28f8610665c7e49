// The command line of `qvr`: options and paths, without touching any file.
#pragma once

#include <string>
#include <vector>

enum CliAction {
    CLI_PROBE,       // probe `paths`
    CLI_HELP,        // print the usage text, exit 0
    CLI_VERSION,     // print the version, exit 0
    CLI_USAGE_ERROR, // print `error` and a hint to standard error, exit 2
};

struct CliOptions {
    int action; // CliAction
    bool json;
    std::vector<const char*> paths; // in the order given
    std::string error;
};

// Reads argv[1..argc). "--" ends the options; "-" alone is a path.
CliOptions ParseCliOptions(int argc, char** argv);
