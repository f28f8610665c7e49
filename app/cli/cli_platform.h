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
    size_t beneath;   // with `listed`: where the part of `path` the system listed starts, below
                      // `tree` when there is one; for a pattern's match, its name. Windows holds
                      // no tree: the part below the argument's folder, or from that folder's own
                      // name when a pattern matched it
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

// Which folder a folder is: the file system it is on (device, volume) and its number there.
struct CliFolderId {
    uint64_t volume;
    uint64_t file;
};

// The entries of one folder, held compactly: one block of text and where each entry starts in
// it. An entry is a kind byte (CliEntryKind), for a folder its CliFolderId as listed, then its
// name (in the name encoding) and a zero byte. AddCliFolderEntry (cli_walk.cpp) adds one.
struct CliFolderList {
    std::string text;
    std::vector<uint32_t> starts;
};
enum CliEntryKind : char {
    CLI_ENTRY_OTHER = 'o',  // a file, or anything else not walked: a link, a junction, a device
    CLI_ENTRY_FOLDER = 'd', // a folder of its own, walked in its turn
};
// False when the list cannot take the entry (its text would pass 4 GiB).
bool AddCliFolderEntry(CliFolderList* list, const char* name, size_t length, bool folder, const CliFolderId* id);

// A folder the walk holds open.
struct CliFolder {
    intptr_t handle; // -1: none
    CliFolderId id;
};

enum CliFolderOpened {
    CLI_OPENED,
    CLI_NOT_A_FOLDER, // what is there (now) is not a folder to walk: it is probed as an entry
    CLI_UNREADABLE,   // a folder that cannot be read, `reason` says why
};

// Opens the folder an argument names, through links as the user named them: the tree that the
// walk reads beneath. `listed`: a pattern's match, opened as listed. CLI_NOT_A_FOLDER for anything
// else (the argument is then probed). A platform whose patterns list names holds no handle for a
// tree (Windows): the walk's `beneath` then says where the listed part of a path starts.
int OpenCliTree(const char* path, bool listed, CliFolder* tree, std::string* reason);

// Opens the folder `path` for reading: the tree itself (`listed` null, `path` the tree's own) or a
// folder beneath it that the walk listed as `listed`, the part of `path` below the tree starting at
// `beneath`. Nothing below the tree is followed when it is a link (or a reparse point standing for
// another name), and the folder opened must be the one listed: else CLI_NOT_A_FOLDER.
int OpenCliFolder(const CliFolder* tree, const char* path, size_t beneath, const CliFolderId* listed,
                  CliFolder* folder, std::string* reason);

// Reads the entries of a folder that OpenCliFolder opened, without "." and "..", in the order the
// system gives them, and closes it. False when the folder cannot be read, with `reason` saying why
// in a few plain words (also when memory runs out).
bool ReadCliFolder(CliFolder* folder, CliFolderList* list, std::string* reason);

void CloseCliFolder(CliFolder* folder);

// Threads of a batch: one lock, conditions to wait on under it, and threads run to their end.
enum CliCondition {
    CLI_WORK_READY,   // an item waits for a prober, or the batch ends
    CLI_RESULT_READY, // a prober finished an item
    CLI_CONDITIONS,
};
void LockCliBatch();
void UnlockCliBatch();
// With the lock held; released while waiting. Waits until woken (or woken spuriously): never for
// a time, so nothing rests on waking up to look again.
void WaitCliBatch(int condition);
void WakeCliBatch(int condition, bool all);
// False when no thread could start. Any thread may start one.
bool StartCliThread(void (*run)(void* context), void* context);
// Waits for every thread started, also those started meanwhile by the threads it waits for.
void JoinCliThreads();

enum {
    CLI_STOP_GRACE = 300000, // microseconds an interrupted run has to end on a whole result
};

// From now on Ctrl+C (and on Linux SIGTERM and SIGHUP; a signal ignored from the start stays
// ignored) calls `stop` on a thread of the platform's, never inside a signal handler; if the
// process still runs CLI_STOP_GRACE later (its output blocked by a reader that does not read, a
// probe deep in a file), the platform ends it with `status`. Writing to an output whose reader has
// gone fails with an error rather than ending the process.
void WatchCliInterrupts(void (*stop)(), int status);
bool CliInterrupted();
bool IsCliOutputGone(int error); // a failed write's errno says the reader went away
// Memory ran out (the front end, cli_main.cpp): on the submitting thread the run ends at once on
// a whole result; a prober stops the batch and waits for that end.
[[noreturn]] void OnCliOutOfMemory();
bool IsCliTerminal(FILE* stream);
size_t CliTerminalColumns(FILE* stream); // the width of the terminal `stream` writes to; 0: unknown
// Standard output and error: how the bytes written to `stream` are encoded from now on
// (g_cliTerminalEncoding until said otherwise; standard output holds UTF-8 with --json), and the
// write itself, as fwrite. A Windows console is given the characters through the system's Unicode
// calls, so that they read right whatever its code page; a file or pipe gets the bytes.
void SetCliOutputEncoding(FILE* stream, int encoding);
size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count);
uint64_t CliMicroseconds(); // a clock that only moves forward
uint64_t CurrentCliThread(); // a number for the calling thread, unique while it runs
// What the calling thread has spent so far: microseconds on a processor, reads it waited for a
// block device to answer, and times it gave the processor up to wait (for a device or a lock; not
// when other threads took it); a batch starts more probers when probes wait for the device.
// `known` is false where the platform cannot tell: then a slow probe counts as one that waited.
struct CliThreadUse {
    bool known;
    uint64_t processor;
    uint64_t blockReads;
    uint64_t waits;
};
CliThreadUse GetCliThreadUse();
