// What the command-line front end asks of the platform: its arguments in the code page of its
// names, the paths an argument stands for, and how its names and its terminal are encoded.
// Each platform implements these once, in its own file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ImageInfo;

enum {
    // Room for any argument: the system passes at most 32767 UTF-16 units of command line, each
    // at most three bytes in UTF-8.
    CLI_ARGUMENT_SIZE = 3 * 32768,
};

extern const char g_cliProgramName[];   // "qvr", "qvrc"
extern const char g_cliUsagePaths[];    // what the usage text says about PATH beyond the shared text
extern const int g_cliNameEncoding;     // TextEncoding of paths and arguments
extern const int g_cliTerminalEncoding; // TextEncoding of text output and messages

// Reads the process's arguments; `argc` and `argv` are main's. Returns their number, the
// program's own name included.
int OpenCliArguments(int argc, char** argv);

// Argument `index` (1 or more), in `scratch` (CLI_ARGUMENT_SIZE bytes) or in place. `*exact` is
// false when the argument holds a character that the name encoding cannot hold: it then names
// no file that this program can open.
const char* GetCliArgument(int index, char* scratch, bool* exact);

// Calls `visit` for each path that a path argument stands for, in order; `probe` false means
// the path is to be reported as a missing file without being probed. A pattern (Windows) stands
// for the files of its folder that match, in name order (CompareCliNames), and with `folders` also
// for the folders that match, which the walk of -r then takes. `listed` is true for a name the
// system listed (a pattern's match), false for the argument as typed.
typedef void (*CliPathVisitor)(void* context, const char* path, bool probe, bool listed);
void ForEachCliPath(const char* argument, bool exact, bool folders, CliPathVisitor visit, void* context);

// One path to probe, as an argument, a pattern's match or the walk gives it.
struct CliItem {
    std::string path; // in the name encoding: what is shown and, without `tree`, what is opened
    bool listed;      // a name the system listed (the walk, a pattern): it is opened exactly as
                      // listed, never as a typed name would be (Windows trims a typed name's
                      // trailing dots and blanks)
    intptr_t tree;    // a folder the walk holds open, beneath which the file lies; -1: none
    size_t beneath;   // with `tree`: where the part of `path` below that folder starts
};

// Probes the file that `item` names, as ProbeImageFile does. Several threads may probe at once,
// each its own item.
int ProbeCliPath(ImageInfo* info, const CliItem* item);

enum {
    CLI_WALK_HANDLES = 8, // handles (file descriptors) the walk of -r holds at most at once
};

// How many probers, at most `jobs`, may run at once beside the walk (on Linux: what the file
// descriptors allow once the soft limit is raised to the hard one, CLI_WALK_HANDLES kept for the
// walk). 1: probe on the submitting thread alone.
int LimitCliProbers(int jobs);

// Folders, for the walk of -r.
extern const char g_cliPathSeparator[]; // put between a folder and a name: "/", "\\"
extern const size_t g_cliPathLimit;     // bytes of the longest path (name encoding) the probe takes

// True when `path` names a folder, through a link too (an argument is taken as the user named it).
bool IsCliFolder(const char* path);

struct CliFolderEntry {
    std::string name; // in the name encoding
    bool descend;     // a folder of its own: not a link, junction or other reparse point
};

// Reads the entries of `folder`, without "." and "..", in the order the system gives them. False
// when the folder cannot be read, with `reason` saying why in a few plain words.
bool ReadCliFolder(const char* folder, std::vector<CliFolderEntry>* entries, std::string* reason);

// Threads of a batch: one lock, conditions to wait on under it, and threads run to their end.
enum CliCondition {
    CLI_WORK_READY,   // an item waits for a prober, or the batch ends
    CLI_RESULT_READY, // a prober finished an item
    CLI_CONDITIONS,
};
void LockCliBatch();
void UnlockCliBatch();
void WaitCliBatch(int condition); // with the lock held; released while waiting
void WakeCliBatch(int condition, bool all);
bool StartCliThread(void (*run)(void* context), void* context); // false when none could start
void JoinCliThreads();                                           // waits for every thread started

// Ctrl+C (and on Linux SIGTERM and SIGHUP) from now on only sets a flag that CliInterrupted reads,
// and writing to an output whose reader has gone fails with an error rather than ending the process.
void WatchCliInterrupts();
bool CliInterrupted();
bool IsCliOutputGone(int error); // a failed write's errno says the reader went away
bool IsCliTerminal(FILE* stream);
// Standard output and error: how the bytes written to `stream` are encoded from now on
// (g_cliTerminalEncoding until said otherwise; standard output holds UTF-8 with --json), and the
// write itself, as fwrite. A Windows console is given the characters through the system's Unicode
// calls, so that they read right whatever its code page; a file or pipe gets the bytes.
void SetCliOutputEncoding(FILE* stream, int encoding);
size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count);
uint64_t CliMicroseconds(); // a clock that only moves forward
// How often the calling thread has had to wait so far (for a device or a lock); a batch starts
// more probers when probes wait for the device. A platform that cannot tell counts every call.
uint64_t CliThreadWaits();
