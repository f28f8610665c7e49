// qvrc.exe's platform: arguments from the Unicode command line in the ANSI code page (932),
// patterns expanded here as Windows command-line tools do, code page 932 on the console.
#include "cli_platform.h"
#include "cli_text.h"
#include "device_names.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
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

// The names that one pattern matched, gathered to be sorted: offsets into one block of text.
struct Matches {
    char* names;
    size_t used, capacity;
    size_t* offsets;
    size_t count, slots;
};

bool AddMatch(Matches* matches, const char* name)
{
    size_t length = std::strlen(name) + 1;
    if (matches->used + length > matches->capacity) {
        size_t capacity = (matches->capacity + length) * 2;
        char* grown = static_cast<char*>(std::realloc(matches->names, capacity));
        if (!grown)
            return false;
        matches->names = grown;
        matches->capacity = capacity;
    }
    if (matches->count == matches->slots) {
        size_t slots = matches->slots * 2 + 64;
        size_t* grown = static_cast<size_t*>(std::realloc(matches->offsets, slots * sizeof *grown));
        if (!grown)
            return false;
        matches->offsets = grown;
        matches->slots = slots;
    }
    std::memcpy(matches->names + matches->used, name, length);
    matches->offsets[matches->count++] = matches->used;
    matches->used += length;
    return true;
}

const char* g_sortedNames; // qsort passes no context

// Name order: ASCII letters in either case alike, the bytes deciding between such names.
int CompareNames(const void* left, const void* right)
{
    const char* a = g_sortedNames + *static_cast<const size_t*>(left);
    const char* b = g_sortedNames + *static_cast<const size_t*>(right);
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

// Finds the files of the pattern's folder whose long names match it. The search also matches
// short (8.3) names, so each long name is tested once more.
bool FindMatches(const char* pattern, const char* namePattern, Matches* matches)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool complete = true;
    do {
        found.cFileName[sizeof found.cFileName - 1] = '\0';
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && MatchesPattern(found.cFileName, namePattern))
            complete = AddMatch(matches, found.cFileName);
    } while (complete && FindNextFileA(search, &found));
    FindClose(search);
    return complete;
}

// Devices are never opened, whatever the probe would do with them: not named, not matched.
void VisitPath(const char* path, CliPathVisitor visit, void* context)
{
    visit(context, path, !NamesDosDevice(path) && !InDeviceNamespace(path));
}

} // namespace

void ForEachCliPath(const char* argument, bool exact, CliPathVisitor visit, void* context)
{
    // A character the code page cannot hold became '?': never take it for a pattern.
    if (!exact || !HasWildcard(argument)) {
        if (exact)
            VisitPath(argument, visit, context);
        else
            visit(context, argument, false);
        return;
    }
    size_t folderLength = FolderPartLength(argument);
    Matches matches = {nullptr, 0, 0, nullptr, 0, 0};
    // Only the last component is a pattern; one in a folder name matches nothing.
    bool complete = !std::memchr(argument, '*', folderLength) && !std::memchr(argument, '?', folderLength) &&
                    FindMatches(argument, argument + folderLength, &matches);
    if (complete) {
        g_sortedNames = matches.names;
        std::qsort(matches.offsets, matches.count, sizeof *matches.offsets, CompareNames);
    }
    char path[CLI_ARGUMENT_SIZE];
    for (size_t i = 0; complete && i < matches.count; ++i) {
        const char* name = matches.names + matches.offsets[i];
        std::memcpy(path, argument, folderLength);
        std::memcpy(path + folderLength, name, std::strlen(name) + 1);
        VisitPath(path, visit, context);
    }
    if (!complete || matches.count == 0)
        visit(context, argument, false);
    std::free(matches.names);
    std::free(matches.offsets);
}

uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail)
{
    char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t unit = 0;
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, &unit, 1) != 1)
        return CP932_INVALID;
    return unit;
}
