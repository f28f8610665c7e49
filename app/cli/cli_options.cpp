#include "cli_options.h"

#include <cstring>

CliOptions ParseCliOptions(int argc, char** argv)
{
    CliOptions options;
    options.action = CLI_PROBE;
    options.json = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (optionsEnded || argument[0] != '-' || std::strcmp(argument, "-") == 0) {
            options.paths.push_back(argument);
        } else if (std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(argument, "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            // Help wins over everything else on the line, as users expect.
            options.action = CLI_HELP;
            return options;
        } else if (std::strcmp(argument, "--version") == 0) {
            if (options.action == CLI_PROBE)
                options.action = CLI_VERSION;
        } else if (options.error.empty()) {
            options.error = std::string("unknown option '") + argument + "'";
        }
    }
    if (!options.error.empty())
        options.action = CLI_USAGE_ERROR;
    else if (options.action == CLI_PROBE && options.paths.empty()) {
        options.action = CLI_USAGE_ERROR;
        options.error = "no file given";
    }
    return options;
}
