// qvrc.exe's platform: arguments from the Unicode command line, carried in UTF-8 so that every
// name reaches the file system exactly as given; patterns expanded here as Windows command-line
// tools do; code page 932 text, given to a console as the characters themselves.
#include "cli_platform.h"
#include "cli_text.h"
#include "device_names.h"
#include "wide_path_win.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <io.h>
#include <string>
#include <vector>

const char g_cliProgramName[] = "qvrc";
const char g_cliUsagePaths[] =
    "\n"
    "A PATH holding * or ? stands for every file of its folder whose name matches\n"
    "(letters in either case; with -r every matching folder too), in name order,\n"
    "each read by its name as listed, dots or blanks at its end included; a\n"
    "pattern that matches nothing is reported as a missing file. A PATH ending in\n"
    "\\ names the folder before it (C:\\ the drive's root).\n";
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
    // The ? of a \\?\ prefix is no wildcard (ASCII: as many bytes as units).
    std::wstring pattern;
    bool wide = exact && ToWide(argument, &pattern);
    size_t prefix = wide ? ExactPrefixLength(pattern.c_str()) : 0;
    if (!wide || !HasWildcard(pattern.c_str() + prefix)) {
        visit(context, argument, exact, false);
        return;
    }
    // Only the last component is a pattern; one in a folder name matches nothing. The folder is
    // searched once and its matches sorted here. The search also matches short (8.3) names, so
    // each long name is tested once more.
    size_t folderLength = FolderPartLength(argument);
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const char* folder = argument + prefix;
    size_t searched = folderLength - prefix;
    HANDLE search = std::memchr(folder, '*', searched) || std::memchr(folder, '?', searched)
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
        visit(context, argument, false, false);
        return;
    }
    std::sort(names.begin(), names.end(), SortsBefore);
    std::string path(argument, folderLength);
    for (const std::string& name : names) {
        path.replace(folderLength, std::string::npos, name);
        visit(context, path.c_str(), true, true);
    }
}

namespace {

// The exact form of a listed name that the system would trim (x.png. beside x.png): the folder part
// as typed, made full as the system makes it, then the name as listed. Empty when none is needed
// or it cannot be made; a path in the exact form already is probed as it is.
std::wstring ExactFormOf(const std::wstring& widePath)
{
    const wchar_t* path = widePath.c_str();
    size_t folderLength = FolderPartLengthOf(path);
    if (ExactPrefixLength(path) || !TrimmedWhenOpened(path, folderLength))
        return std::wstring();
    std::wstring folder = folderLength ? widePath.substr(0, folderLength) : L".";
    std::wstring full(WIDE_PATH_SIZE, L'\0'), exact(WIDE_PATH_SIZE, L'\0');
    DWORD length = GetFullPathNameW(folder.c_str(), WIDE_PATH_SIZE, &full[0], nullptr);
    if (length == 0 || length >= WIDE_PATH_SIZE ||
        !MakeExactPath(full.c_str(), path + folderLength, &exact[0], exact.size()))
        return std::wstring();
    exact.resize(wcslen(exact.c_str()) + 1);
    return exact;
}

} // namespace

int ProbeCliPath(ImageInfo* info, const CliItem* item)
{
    // Both forms live on the heap, sized to the path: several threads probe at once. A listed name
    // is shown as listed and reached through its exact form; a typed one as the system opens it.
    const char* path = item->path.c_str();
    std::wstring widePath, exact;
    std::vector<char> shown;
    if (ToWide(path, &widePath))
        shown.resize(2 * widePath.size());
    if (shown.empty() || !ShowWideText(widePath.c_str(), shown.data(), shown.size())) {
        BuildMissingFileRecord(info);
        return 0;
    }
    if (item->listed)
        exact = ExactFormOf(widePath);
    return ProbeWideFile(info, shown.data(), exact.empty() ? widePath.c_str() : exact.c_str());
}

int LimitCliProbers(int jobs)
{
    return jobs;
}

// Folders and the walk.

const char g_cliPathSeparator[] = "\\";
// Without the \\?\ prefix (which the probe refuses, like every device path) the system takes a
// path of MAX_PATH - 1 UTF-16 units, at most three UTF-8 bytes each; counted with the terminator,
// as PATH_MAX is. A longer path cannot be taken; within this one the system decides, and reports
// what it cannot reach as not found.
const size_t g_cliPathLimit = 3 * (MAX_PATH - 1) + 1;

namespace {

// A path that names no folder whatever is there: a device, a pipe or a pattern, never opened.
bool NamesNoFolder(const wchar_t* path)
{
    return NamesDosDevice(path) || InDeviceNamespace(path) || InPipeShare(path) || HasWildcard(path);
}

// Why a folder's search failed, in the words the C runtimes use; null when it is an empty root.
const char* WhyUnread(DWORD error, const wchar_t* folder)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: // also a drive's empty root, which has no "." or ".."
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME: {
        DWORD attributes = GetFileAttributesW(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return "No such file or directory";
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return "Not a directory";
        return error == ERROR_FILE_NOT_FOUND ? nullptr : "No such file or directory";
    }
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "Permission denied";
    case ERROR_FILENAME_EXCED_RANGE:
        return "File name too long";
    default:
        return "cannot be read";
    }
}

} // namespace

bool IsCliFolder(const char* path)
{
    std::wstring wide;
    if (!ToWide(path, &wide) || NamesNoFolder(wide.c_str()))
        return false;
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    // A link or junction that the user named: what it leads to decides.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool folder = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
                  (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    return folder;
}

bool ReadCliFolder(const char* folder, std::vector<CliFolderEntry>* entries, std::string* reason)
{
    std::wstring wide;
    if (!ToWide(folder, &wide) || NamesNoFolder(wide.c_str())) {
        *reason = "No such file or directory";
        return false;
    }
    wide.pop_back(); // the terminator
    wchar_t last = wide.empty() ? L'\\' : wide.back();
    bool drive = wide.size() == 2 && last == L':'; // "C:" is the drive's current folder
    std::wstring pattern = wide + (last == L'\\' || last == L'/' || drive ? L"*" : L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    DWORD error = ERROR_NO_MORE_FILES;
    if (search == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else {
        do {
            char name[NAME_SIZE];
            if (FoundName(&found, name)) {
                DWORD attributes = found.dwFileAttributes;
                entries->push_back({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                              !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)});
            }
        } while (FindNextFileW(search, &found));
        error = GetLastError();
        FindClose(search);
    }
    if (error == ERROR_NO_MORE_FILES)
        return true;
    const char* why = WhyUnread(error, wide.c_str());
    if (!why)
        return true;
    *reason = why;
    return false;
}

// Threads: a slim reader/writer lock taken exclusively and condition variables on it.

namespace {

SRWLOCK g_batchLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_batchConditions[CLI_CONDITIONS]; // zeroed: CONDITION_VARIABLE_INIT
std::vector<HANDLE> g_threads;
std::atomic<bool> g_interrupted(false);

struct ThreadStart {
    void (*run)(void* context);
    void* context;
};

DWORD WINAPI RunThread(void* parameter)
{
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.run(start.context);
    return 0;
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI NoteInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = true;
    // Whoever waits looks again and sees the flag; under the lock, so no waiter misses it.
    LockCliBatch();
    for (CONDITION_VARIABLE& condition : g_batchConditions)
        WakeAllConditionVariable(&condition);
    UnlockCliBatch();
    return TRUE;
}

} // namespace

void LockCliBatch()
{
    AcquireSRWLockExclusive(&g_batchLock);
}

void UnlockCliBatch()
{
    ReleaseSRWLockExclusive(&g_batchLock);
}

void WaitCliBatch(int condition)
{
    SleepConditionVariableSRW(&g_batchConditions[condition], &g_batchLock, INFINITE, 0);
}

void WakeCliBatch(int condition, bool all)
{
    if (all)
        WakeAllConditionVariable(&g_batchConditions[condition]);
    else
        WakeConditionVariable(&g_batchConditions[condition]);
}

bool StartCliThread(void (*run)(void* context), void* context)
{
    ThreadStart* start = new ThreadStart{run, context};
    HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    g_threads.push_back(thread);
    return true;
}

void JoinCliThreads()
{
    for (HANDLE thread : g_threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    g_threads.clear();
}

// Stopping, the console and the clock.

void WatchCliInterrupts()
{
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool CliInterrupted()
{
    return g_interrupted;
}

bool IsCliOutputGone(int error)
{
    // msvcrt turns ERROR_BROKEN_PIPE into EPIPE, but a pipe whose reader has gone answers a write
    // with ERROR_NO_DATA on Windows and ERROR_PIPE_NOT_CONNECTED under Wine, which msvcrt turns into
    // EINVAL; by the time the run ends, the thread's last error no longer tells. A write to a pipe
    // fails with EINVAL for nothing else.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    return error == EPIPE || (error == EINVAL && GetFileType(output) == FILE_TYPE_PIPE);
}

bool IsCliTerminal(FILE* stream)
{
    // A console only: _isatty also says yes for NUL and every other character device.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

namespace {

// How the bytes for standard output and error are encoded. Only the thread that submits writes.
int g_outputEncodings[2] = {TEXT_CP932, TEXT_CP932};

} // namespace

void SetCliOutputEncoding(FILE* stream, int encoding)
{
    g_outputEncodings[stream == stderr] = encoding;
}

size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count)
{
    // Every write holds whole characters: a TextOutput writes each put whole.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if ((stream != stdout && stream != stderr) || !GetConsoleMode(handle, &mode) || count == 0)
        return std::fwrite(bytes, 1, count, stream);
    std::fflush(stream); // what the C runtime holds for the console goes first
    UINT codePage = g_outputEncodings[stream == stderr] == TEXT_CP932 ? 932 : CP_UTF8;
    int length = static_cast<int>(count);
    int units = MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, length, &wide[0], units);
    for (size_t done = 0; done < wide.size();) {
        // In pieces: a console takes only so much at once.
        DWORD written = 0, ask = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
        if (!WriteConsoleW(handle, wide.data() + done, ask, &written, nullptr) || written == 0) {
            errno = EIO;
            return 0;
        }
        done += written;
    }
    return count;
}

uint64_t CliMicroseconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    uint64_t ticks = static_cast<uint64_t>(count.QuadPart), perSecond = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond; // no overflow
}

uint64_t CliThreadWaits()
{
    // Windows counts a thread's context switches only in a snapshot of every process on the
    // system, far too dear per probe: every call counts, so every slow probe counts as waiting.
    static std::atomic<uint32_t> calls(0);
    return ++calls;
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
