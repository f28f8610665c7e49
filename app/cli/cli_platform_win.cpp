// qvrc.exe's platform: arguments from the Unicode command line, carried in UTF-8 so that every
// name reaches the file system exactly as given; patterns expanded here as Windows command-line
// tools do; code page 932 on the console.
#include "cli_platform.h"
#include "cli_text.h"
#include "device_names.h" // HasWildcard
#include "wide_path_win.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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
    NAME_SIZE = 3 * MAX_PATH + 2, // a found name in UTF-8: at most three bytes per UTF-16 unit
};

// The Unicode form of a UTF-8 path. False when it has none (not valid UTF-8, a lone surrogate's
// bytes among them).
bool ToWide(const char* path, std::wstring* wide)
{
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (units <= 0)
        return false;
    wide->resize(static_cast<size_t>(units));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &(*wide)[0], units) == units;
}

// The name of a search result in UTF-8, false for "." and "..".
bool FoundName(WIN32_FIND_DATAW* found, char name[NAME_SIZE])
{
    found->cFileName[MAX_PATH - 1] = L'\0';
    const wchar_t* wide = found->cFileName;
    return !(wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0'))) &&
           EncodeUtf16(wide, name, NAME_SIZE);
}

// The file search's own case folding: the system's uppercase table, one unit at a time.
uint32_t FoldSearchCase(uint32_t unit)
{
    wchar_t in = static_cast<wchar_t>(unit), out = in;
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1);
    return out;
}

bool SortsBefore(const std::string& a, const std::string& b)
{
    return CompareCliNames(a.c_str(), b.c_str()) < 0;
}

} // namespace

void ForEachCliPath(const char* argument, bool exact, bool folders, CliPathVisitor visit, void* context)
{
    std::wstring pattern;
    if (!exact || !ToWide(argument, &pattern) || !HasWildcard(pattern.c_str())) {
        visit(context, argument, exact);
        return;
    }
    // Only the last component is a pattern; one in a folder name matches nothing. The folder is
    // searched once and its matches sorted here. The search also matches short (8.3) names, so
    // each long name is tested once more.
    size_t folderLength = FolderPartLength(argument);
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = std::memchr(argument, '*', folderLength) || std::memchr(argument, '?', folderLength)
                        ? INVALID_HANDLE_VALUE
                        : FindFirstFileW(pattern.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            char name[NAME_SIZE];
            if ((folders || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) && FoundName(&found, name) &&
                MatchesPattern(name, argument + folderLength, FoldSearchCase))
                names.push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (names.empty()) {
        visit(context, argument, false);
        return;
    }
    std::sort(names.begin(), names.end(), SortsBefore);
    std::string path(argument, folderLength);
    for (const std::string& name : names) {
        path.replace(folderLength, std::string::npos, name);
        visit(context, path.c_str(), true);
    }
}

int ProbeCliPath(ImageInfo* info, const char* path)
{
    // Both forms live on the heap, sized to the path: several threads probe at once.
    std::wstring widePath;
    std::vector<char> shown;
    if (ToWide(path, &widePath))
        shown.resize(2 * widePath.size());
    if (shown.empty() || !ShowWideText(widePath.c_str(), shown.data(), shown.size())) {
        BuildMissingFileRecord(info);
        return 0;
    }
    return ProbeWideFile(info, shown.data(), widePath.c_str());
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
