// qvrc.exe's platform: arguments from the Unicode command line, carried in UTF-8 so that every
// name reaches the file system exactly as given; patterns expanded here as Windows command-line
// tools do; code page 932 on the console.
#include "cli_platform.h"
#include "cli_text.h"
#include "device_names.h" // HasWildcard
#include "wide_path_win.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

const char g_cliProgramName[] = "qvrc";
const char g_cliUsagePaths[] =
    "\n"
    "A PATH holding * or ? stands for every file of its folder whose name matches, in\n"
    "name order; a pattern that matches no file is reported as a missing file.\n";
const int g_cliNameEncoding = TEXT_UTF8;
const int g_cliTerminalEncoding = TEXT_CP932;

static wchar_t** g_arguments;

// The C runtime splits the command line by its own rules and from the ANSI form, which is
// converted by likeness; the system's splitting of the Unicode form gives each argument as typed.
int OpenCliArguments(int, char**)
{
    int count = 0;
    g_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    return g_arguments ? count : 0;
}

const char* GetCliArgument(int index, char* scratch, bool* exact)
{
    // A lone surrogate has no UTF-8 form: the argument is shown with U+FFFD and names no file.
    *exact = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, g_arguments[index], -1, scratch,
                                 CLI_ARGUMENT_SIZE, nullptr, nullptr) > 0;
    if (!*exact && WideCharToMultiByte(CP_UTF8, 0, g_arguments[index], -1, scratch, CLI_ARGUMENT_SIZE,
                                       nullptr, nullptr) <= 0)
        scratch[0] = '\0';
    return scratch;
}

namespace {

enum {
    MATCH_BATCH = 128,              // names sorted per pass over the folder
    MATCH_NAME_SIZE = 3 * MAX_PATH, // a found name in UTF-8: at most three bytes per UTF-16 unit
};

// The Unicode form of a UTF-8 path, into `wide` (WIDE_PATH_SIZE units). False when it has none.
bool ToWide(const char* path, wchar_t* wide)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, WIDE_PATH_SIZE) > 0;
}

// The next names of one pattern, in name order: the smallest MATCH_BATCH names after `after`.
struct MatchBatch {
    char names[MATCH_BATCH][MATCH_NAME_SIZE];
    int order[MATCH_BATCH]; // slots of `names`, in name order
    int count;
    bool more; // a matching name was left for the next pass
};

void AddToBatch(MatchBatch* batch, const char* name)
{
    int at = batch->count;
    while (at > 0 && CompareCliNames(name, batch->names[batch->order[at - 1]]) < 0)
        --at;
    int slot = batch->count; // until the batch is full, slots fill in turn
    if (batch->count == MATCH_BATCH) {
        batch->more = true; // this name or the largest waits for the next pass
        if (at == MATCH_BATCH)
            return;
        slot = batch->order[--batch->count];
    }
    std::memmove(batch->order + at + 1, batch->order + at, static_cast<size_t>(batch->count - at) * sizeof *batch->order);
    batch->order[at] = slot;
    std::memcpy(batch->names[slot], name, std::strlen(name) + 1);
    ++batch->count;
}

// Fills `batch` with the files of the pattern's folder whose long names match and come after
// `after` (all when null). The search also matches short (8.3) names, so each long name is
// tested once more.
void FindMatches(const wchar_t* pattern, const char* namePattern, const char* after, MatchBatch* batch)
{
    batch->count = 0;
    batch->more = false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char name[MATCH_NAME_SIZE];
        found.cFileName[MAX_PATH - 1] = L'\0';
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr) > 0 &&
            MatchesPattern(name, namePattern) && (!after || CompareCliNames(name, after) > 0))
            AddToBatch(batch, name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

void ForEachCliPath(const char* argument, bool exact, bool, CliPathVisitor visit, void* context)
{
    static wchar_t pattern[WIDE_PATH_SIZE];
    if (!exact || !ToWide(argument, pattern) || !HasWildcard(pattern)) {
        visit(context, argument, exact);
        return;
    }
    // Only the last component is a pattern; one in a folder name matches nothing. Names come in
    // batches, each pass over the folder taking the next ones in name order.
    size_t folderLength = FolderPartLength(argument);
    bool searchable = !std::memchr(argument, '*', folderLength) && !std::memchr(argument, '?', folderLength);
    static char path[CLI_ARGUMENT_SIZE + MATCH_NAME_SIZE];
    static MatchBatch batch;
    std::memcpy(path, argument, folderLength);
    batch.more = searchable;
    bool matched = false;
    for (const char* after = nullptr; batch.more; after = path + folderLength) {
        FindMatches(pattern, argument + folderLength, after, &batch);
        for (int i = 0; i < batch.count; ++i) {
            const char* name = batch.names[batch.order[i]];
            std::memcpy(path + folderLength, name, std::strlen(name) + 1);
            visit(context, path, true);
            matched = true;
        }
    }
    if (!matched)
        visit(context, argument, false);
}

int ProbeCliPath(ImageInfo* info, const char* path)
{
    static wchar_t widePath[WIDE_PATH_SIZE];
    static char shown[2 * WIDE_PATH_SIZE];
    if (!ToWide(path, widePath) || !ShowWideText(widePath, shown, sizeof shown)) {
        BuildMissingFileRecord(info);
        return 0;
    }
    return ProbeWideFile(info, shown, widePath);
}

uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail)
{
    char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t unit = 0;
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, &unit, 1) != 1)
        return CP932_INVALID;
    return unit;
}

size_t EncodeCp932(uint32_t codePoint, char bytes[2])
{
    if (codePoint > 0xFFFF)
        return 0; // no character of code page 932 lies beyond the first plane
    wchar_t unit[2] = {static_cast<wchar_t>(codePoint), L'\0'};
    size_t units = 0;
    size_t count = ShowWideCharacter(unit, bytes, &units);
    return count == 1 && bytes[0] == '?' ? 0 : count;
}
