// A batch of paths probed side by side and reported in the order they were given. Up to `jobs`
// probers take the paths in turn; what each finds waits in a window of fixed size until every
// earlier path is printed, so the output is the same whatever the number of jobs and memory stays
// bounded whatever the number of paths. Portable: threads and waits come from the platform file.
#pragma once

#include "cli_platform.h"
#include "cli_text.h"

#include <string>

// What one path has to show.
struct CliResult {
    std::string out; // for standard output
    std::string err; // for standard error, after `out`
    bool failed;     // the exit status becomes 1
};

// An output that gathers into `text` (a result's `out` or `err`), `bytes` at a time.
TextOutput CliStringOutput(char* bytes, size_t capacity, std::string* text);

struct CliBatchCalls {
    // Fills `result` for `item`; `unprobed` non-null: the path is reported missing for that reason
    // without being probed. Runs on a prober thread, several at once.
    void (*report)(void* context, const CliItem& item, const char* unprobed, CliResult* result);
    // Writes `result`, in order, on the thread that submits. False stops the batch (the output
    // can no longer be written).
    bool (*print)(void* context, const CliResult* result);
    // Called on the submitting thread whenever it waits or prints, at least ten times a second.
    void (*tick)(void* context);
    void* context;
};

enum {
    CLI_MAX_JOBS = 256,
};

void StartCliBatch(int jobs, const CliBatchCalls* calls);

// Adds a path, or a message that takes its turn like a path (`result` as printed). False once
// the batch has stopped: interrupted, or its output could not be written.
bool SubmitCliPath(const CliItem& item, const char* unprobed);
bool SubmitCliResult(const CliResult& result);

// Waits for every path submitted and prints what is left. False when the batch stopped early.
bool EndCliBatch();

// Paths reported so far.
unsigned long CliBatchDone();
