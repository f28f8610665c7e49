// A batch of paths probed side by side and reported in the order they were given. Up to `jobs`
// probers take the paths in turn; what each finds waits in a window of fixed size until every
// earlier path is printed, so the output is the same whatever the number of jobs and memory stays
// bounded whatever the number of paths. Portable: threads and waits come from the platform file.
#pragma once

#include "cli_platform.h"
#include "cli_text.h"

#include <cstdint>
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
    // Called on the submitting thread whenever it prints or wakes from a wait.
    void (*tick)(void* context);
    // Called on the submitting thread, without the lock, before it waits or probes on the spot:
    // what it printed goes out, so that a run ended meanwhile (an interrupt's grace run out while
    // a probe is deep in a file) loses no whole result.
    void (*flush)(void* context);
    void* context;
};

enum {
    CLI_JOBS_LIMIT = 256,  // probes at once, at most
    CLI_DEFAULT_JOBS = 64, // enough to keep a cold disk or a network share busy
};

// Why a batch stopped before its end; once stopped, it stays stopped.
enum CliStop {
    CLI_GOING,
    CLI_INTERRUPTED,   // Ctrl+C, SIGTERM, SIGHUP
    CLI_OUTPUT_GONE,   // the output could not be written
    CLI_OUT_OF_MEMORY, // a prober or the walk ran out of memory
};

// `window`: results that may wait for an earlier one to be printed; 0: 8 per job, at least 64.
void StartCliBatch(int jobs, const CliBatchCalls* calls, size_t window = 0);

// Adds a path, or a message that takes its turn like a path (`result` as printed). False once
// the batch has stopped.
bool SubmitCliPath(const CliItem& item, const char* unprobed);
bool SubmitCliResult(const CliResult& result);

// Waits until everything submitted so far is printed. False once the batch has stopped.
bool DrainCliBatch();

// Stops the batch from any thread but a signal handler: every waiter wakes, nothing more is
// printed, no prober takes another path. The first reason given stays.
void StopCliBatch(int why);
int CliBatchStop(); // CliStop

// Waits for every path submitted, prints what is left and joins every prober. False when the batch
// stopped early: probers may then still be deep in a file, and the caller ends the process without
// returning from main (nothing a prober may touch is freed).
bool EndCliBatch();

// When a piece of work began, and what its thread had spent by then.
struct CliWatch {
    uint64_t start;
    CliThreadUse use;
};
CliWatch StartCliWatch();

// The walk read a folder since `watch` began: a folder read that waited for the device is evidence
// enough that probes will, and the probers grow with the paths submitted from now on, before any
// probe has ended.
void NoteCliFolderRead(const CliWatch& watch);

// Whether a thread waiting on `condition` (CliCondition) may go on now, so that a test can see
// that none is left asleep when it may. With the lock held.
bool CliBatchWaiterMayGo(int condition);

// Items submitted and items printed so far; a walk lets go of a folder once every item taken from
// it is printed.
uint64_t CliBatchSubmitted();
uint64_t CliBatchPrinted();
