// What the command-line front end asks of the platform: its arguments in the code page of its
// names, the paths an argument stands for, and how its names and its terminal are encoded.
// Each platform implements these once, in its own file.
#pragma once

#include <cstddef>

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
// the path is to be reported as a missing file without being probed.
typedef void (*CliPathVisitor)(void* context, const char* path, bool probe);
void ForEachCliPath(const char* argument, bool exact, CliPathVisitor visit, void* context);

// Probes the file that `path` (in the name encoding) names, as ProbeImageFile does.
int ProbeCliPath(ImageInfo* info, const char* path);
