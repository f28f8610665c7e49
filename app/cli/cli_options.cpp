#include "cli_options.h"

#include <cstdio>
#include <cstring>

void StartCliOptions(CliOptions* options)
{
    std::memset(options, 0, sizeof *options);
    options->action = CLI_PROBE;
}

bool ReadCliArgument(CliOptions* options, const char* argument)
{
    if (options->optionsEnded || argument[0] != '-' || std::strcmp(argument, "-") == 0) {
        ++options->pathCount;
        return true;
    }
    if (std::strcmp(argument, "--") == 0) {
        options->optionsEnded = true;
    } else if (std::strcmp(argument, "--json") == 0) {
        options->json = true;
    } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        options->action = CLI_HELP;
    } else if (std::strcmp(argument, "--version") == 0) {
        if (options->action != CLI_HELP)
            options->action = CLI_VERSION;
    } else if (options->error[0] == '\0') {
        // An option too long for the message is cut; the message says which one it was.
        std::snprintf(options->error, sizeof options->error, "unknown option '%.60s%s'", argument,
                      std::strlen(argument) > 60 ? "..." : "");
    }
    return false;
}

void FinishCliOptions(CliOptions* options)
{
    if (options->action == CLI_HELP)
        return;
    if (options->error[0] != '\0')
        options->action = CLI_USAGE_ERROR;
    else if (options->action == CLI_PROBE && options->pathCount == 0) {
        options->action = CLI_USAGE_ERROR;
        std::snprintf(options->error, sizeof options->error, "no file given");
    }
}
