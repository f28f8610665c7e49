#include "cli_options.h"

#include "cli_batch.h" // the number of jobs

#include <cstdio>
#include <cstring>

void StartCliOptions(CliOptions* options)
{
    std::memset(options, 0, sizeof *options);
    options->action = CLI_PROBE;
    options->jobs = CLI_DEFAULT_JOBS;
}

namespace {

// The first usage error of the line: `before`, the argument in quotes, `after`. An argument too
// long for the message is cut; the message still says which one it was.
void SetError(CliOptions* options, const char* before, const char* argument, const char* after = "")
{
    if (options->error[0] == '\0')
        std::snprintf(options->error, sizeof options->error, "%s'%.50s%s'%s", before, argument,
                      std::strlen(argument) > 50 ? "..." : "", after);
}

// The number of jobs in `text`: 1 to CLI_JOBS_LIMIT, in decimal digits and nothing else.
void ReadJobs(CliOptions* options, const char* text)
{
    int jobs = 0;
    for (const char* digit = text; *digit != '\0' && jobs <= CLI_JOBS_LIMIT; ++digit)
        jobs = *digit >= '0' && *digit <= '9' ? jobs * 10 + (*digit - '0') : CLI_JOBS_LIMIT + 1;
    if (jobs >= 1 && jobs <= CLI_JOBS_LIMIT) {
        options->jobs = jobs;
        return;
    }
    char before[64];
    std::snprintf(before, sizeof before, "the number of jobs must be from 1 to %d, not ", CLI_JOBS_LIMIT);
    SetError(options, before, text);
}

} // namespace

bool ReadCliArgument(CliOptions* options, const char* argument)
{
    if (options->jobsNext) {
        options->jobsNext = false;
        ReadJobs(options, argument);
        return false;
    }
    if (options->optionsEnded || argument[0] != '-' || std::strcmp(argument, "-") == 0) {
        ++options->pathCount;
        return true;
    }
    if (std::strcmp(argument, "--") == 0) {
        options->optionsEnded = true;
    } else if (std::strcmp(argument, "--json") == 0) {
        options->json = true;
    } else if (std::strcmp(argument, "-r") == 0 || std::strcmp(argument, "--recursive") == 0) {
        options->recursive = true;
    } else if (std::strcmp(argument, "-x") == 0 || std::strcmp(argument, "--one-file-system") == 0) {
        options->oneFileSystem = true;
    } else if (std::strcmp(argument, "-j") == 0 || std::strcmp(argument, "--jobs") == 0) {
        options->jobsNext = true;
        options->jobsOption = argument[1] == 'j' ? "-j" : "--jobs";
    } else if (std::strncmp(argument, "-j", 2) == 0) {
        ReadJobs(options, argument + 2);
    } else if (std::strncmp(argument, "--jobs=", 7) == 0) {
        ReadJobs(options, argument + 7);
    } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        options->action = CLI_HELP;
    } else if (std::strcmp(argument, "--version") == 0) {
        if (options->action != CLI_HELP)
            options->action = CLI_VERSION;
    } else {
        SetError(options, "unknown option ", argument);
    }
    return false;
}

void FinishCliOptions(CliOptions* options)
{
    if (options->action == CLI_HELP)
        return;
    if (options->jobsNext)
        SetError(options, "option ", options->jobsOption, " needs a number of jobs");
    if (options->error[0] != '\0')
        options->action = CLI_USAGE_ERROR;
    else if (options->action == CLI_PROBE && options->pathCount == 0) {
        options->action = CLI_USAGE_ERROR;
        std::snprintf(options->error, sizeof options->error, "no file given");
    }
}
