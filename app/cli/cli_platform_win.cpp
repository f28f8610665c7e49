// qvrc.exe's platform: arguments from the Unicode command line in the ANSI code page (932),
// patterns expanded here as Windows command-line tools do, code page 932 on the console.
#include "cli_platform.h"
#include "cli_text.h"
#include "device_names.h" // HasWildcard

#include <windows.h>
#include <shellapi.h>

#include <cstring>

const char g_cliProgramName[] = "qvrc";
const char g_cliUsagePaths[] =
    "\n"
    "A PATH holding * or ? stands for every file of its folder whose name matches, in\n"
    "name order; a pattern that matches no file is reported as a missing file.\n";
const int g_cliNameEncoding = TEXT_CP932;
const int g_cliTerminalEncoding = TEXT_CP932;

static wchar_t** g_arguments;

// The C runtime splits the command line by its own rules and from the ANSI form; the system's
// splitting of the Unicode form tells which characters the code page cannot hold.
int OpenCliArguments(int, char**)
{
    int count = 0;
    g_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    return g_arguments ? count : 0;
}

const char* GetCliArgument(int index, char* scratch, bool* exact)
{
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, g_arguments[index], -1, scratch,
                                     CLI_ARGUMENT_SIZE, nullptr, &usedDefault);
    *exact = length > 0 && !usedDefault;
    if (length <= 0)
        scratch[0] = '\0';
    return scratch;
}

namespace {

enum {
    MATCH_BATCH = 128, // names sorted per pass over the folder
};

// The next names of one pattern, in name order: the smallest MATCH_BATCH names after `after`.
struct MatchBatch {
    char names[MATCH_BATCH][MAX_PATH];
    int order[MATCH_BATCH]; // slots of `names`, in name order
    int count;
    bool more; // a matching name was left for the next pass
};

// Name order: ASCII letters in either case alike, the bytes deciding between such names.
int CompareNames(const char* a, const char* b)
{
    for (size_t i = 0;; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        x = static_cast<unsigned char>(x >= 'A' && x <= 'Z' ? x + 32 : x);
        y = static_cast<unsigned char>(y >= 'A' && y <= 'Z' ? y + 32 : y);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return std::strcmp(a, b);
    }
}

void AddToBatch(MatchBatch* batch, const char* name)
{
    int at = batch->count;
    while (at > 0 && CompareNames(name, batch->names[batch->order[at - 1]]) < 0)
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
void FindMatches(const char* pattern, const char* namePattern, const char* after, MatchBatch* batch)
{
    batch->count = 0;
    batch->more = false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        found.cFileName[sizeof found.cFileName - 1] = '\0';
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && MatchesPattern(found.cFileName, namePattern) &&
            (!after || CompareNames(found.cFileName, after) > 0))
            AddToBatch(batch, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

void ForEachCliPath(const char* argument, bool exact, CliPathVisitor visit, void* context)
{
    // A character the code page cannot hold became '?': never take it for a pattern.
    if (!exact || !HasWildcard(argument)) {
        visit(context, argument, exact);
        return;
    }
    // Only the last component is a pattern; one in a folder name matches nothing. Names come in
    // batches, each pass over the folder taking the next ones in name order.
    size_t folderLength = FolderPartLength(argument);
    bool searchable = !std::memchr(argument, '*', folderLength) && !std::memchr(argument, '?', folderLength);
    char path[CLI_ARGUMENT_SIZE];
    std::memcpy(path, argument, folderLength);
    MatchBatch batch;
    batch.more = searchable;
    bool matched = false;
    for (const char* after = nullptr; batch.more; after = path + folderLength) {
        FindMatches(argument, argument + folderLength, after, &batch);
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

uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail)
{
    char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t unit = 0;
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, &unit, 1) != 1)
        return CP932_INVALID;
    return unit;
}
