// qvrc.exe's platform: arguments from the Unicode command line, carried in UTF-8 so that every
// name reaches the file system exactly as given; patterns expanded here as Windows command-line
// tools do; code page 932 text, given to a console as the characters themselves.
#include "cli_platform.h"
#include "cli_text.h"
#include "cli_walk.h" // WalksCliReparsePoint
#include "device_names.h"
#include "wide_path_win.h"

#include <windows.h>
#include <objbase.h>
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
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE); // the shell's queries want COM
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

// How many UTF-16 units the first `bytes` bytes of `path` take (at most all of it).
size_t UnitsOf(const char* path, size_t bytes)
{
    int length = static_cast<int>(std::min(bytes, std::strlen(path)));
    return length ? static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, path, length, nullptr, 0)) : 0;
}

// The exact form of a path whose part from `listed` on (UTF-16 units) the system listed, when the
// system would change that part opening the path as it is (x.png. beside x.png, a folder dir.
// beside dir): the part before it as typed, made full as the system makes it, then the listed part
// as it is. Empty when none is needed or it cannot be made; a path in the exact form already is
// taken as it is.
std::wstring ExactFormOf(const std::wstring& widePath, size_t listed)
{
    const wchar_t* path = widePath.c_str();
    if (ExactPrefixLength(path) || !TrimmedWhenOpened(path, listed))
        return std::wstring();
    std::wstring folder = listed ? widePath.substr(0, listed) : L".";
    std::wstring full(WIDE_PATH_SIZE, L'\0'), exact(WIDE_PATH_SIZE, L'\0');
    DWORD length = GetFullPathNameW(folder.c_str(), WIDE_PATH_SIZE, &full[0], nullptr);
    if (length == 0 || length >= WIDE_PATH_SIZE || !MakeExactPath(full.c_str(), path + listed, &exact[0], exact.size()))
        return std::wstring();
    exact.resize(wcslen(exact.c_str()));
    return exact;
}

// The Unicode path that reaches what `path` names, its part from byte `listed` on as the system
// listed it. False when `path` has no Unicode form.
bool ReachedPath(const char* path, size_t listed, std::wstring* reached)
{
    if (!ToWide(path, reached))
        return false;
    reached->resize(wcslen(reached->c_str()));
    std::wstring exact = ExactFormOf(*reached, UnitsOf(path, listed));
    if (!exact.empty())
        reached->swap(exact);
    return true;
}

} // namespace

int ProbeCliPath(ImageInfo* info, const CliItem* item)
{
    // Both forms live on the heap, sized to the path: several threads probe at once. A listed name
    // is shown as listed and reached through its exact form; a typed one as the system opens it.
    const char* path = item->path.c_str();
    std::wstring widePath, reached;
    std::vector<char> shown;
    if (ToWide(path, &widePath))
        shown.resize(2 * widePath.size());
    if (shown.empty() || !ShowWideText(widePath.c_str(), shown.data(), shown.size())) {
        BuildMissingFileRecord(info);
        return 0;
    }
    if (!item->listed || !ReachedPath(path, item->beneath, &reached))
        reached = widePath;
    return ProbeWideFile(info, shown.data(), reached.c_str());
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

namespace {

// The folder a handle stands for, and whether it is one at all.
bool Identify(HANDLE handle, CliFolderId* id, DWORD* attributes)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information))
        return false;
    *attributes = information.dwFileAttributes;
    *id = {information.dwVolumeSerialNumber,
           static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
    return true;
}

// The reparse tag of the reparse point `handle` stands for; 0 when the system does not say.
uint32_t ReparseTag(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        return 0;
    return tag.ReparseTag;
}

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The Unicode path that opens the folder `path`, its part from byte `listed` on as listed; the tree
// an argument names (`tree`) as the walk's paths extend it, with a separator after it: a typed
// "t " would otherwise open t, whose entries "t \x" reach nothing. False for what names no folder
// and is never opened: a device, a pipe or a pattern (a drive or share path in the exact form is
// opened as written).
bool FolderPath(const char* path, size_t listed, bool tree, std::wstring* wide)
{
    std::wstring typed;
    if (!ToWide(path, &typed) || RefusesOpening(typed.c_str()))
        return false;
    return ReachedPath(tree ? JoinCliPath(path, "").c_str() : path, listed, wide);
}

} // namespace

int OpenCliTree(const char* path, bool listed, CliFolder* tree, std::string*)
{
    std::wstring wide;
    if (!FolderPath(path, listed ? FolderPartLength(path) : SIZE_MAX, true, &wide))
        return CLI_NOT_A_FOLDER;
    // A link or junction that the user named: what it leads to decides.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return CLI_NOT_A_FOLDER;
    DWORD attributes = 0;
    bool folder = Identify(handle, &tree->id, &attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    tree->handle = -1; // files and folders beneath it are opened by their whole paths
    return folder ? CLI_OPENED : CLI_NOT_A_FOLDER;
}

int OpenCliFolder(const CliFolder*, const char* path, size_t beneath, const CliFolderId* listed, CliFolder* folder,
                  std::string* reason)
{
    std::wstring wide;
    if (!FolderPath(path, beneath, !listed, &wide)) {
        *reason = "No such file or directory";
        return CLI_UNREADABLE;
    }
    // A folder the walk listed is opened as what stands there, never through a link or junction.
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (listed ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const char* why = WhyUnread(GetLastError(), wide.c_str());
        *reason = why ? why : "No such file or directory";
        return CLI_UNREADABLE;
    }
    DWORD attributes = 0;
    bool walked = Identify(handle, &folder->id, &attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  (!listed || ((!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || WalksCliReparsePoint(ReparseTag(handle))) &&
                               folder->id.volume == listed->volume && folder->id.file == listed->file));
    if (!walked) {
        CloseHandle(handle);
        return CLI_NOT_A_FOLDER;
    }
    folder->handle = reinterpret_cast<intptr_t>(handle);
    return CLI_OPENED;
}

namespace {

// Adds the entries of one buffer of a folder's listing. False when memory for them ran out.
bool AddEntries(const char* buffer, const CliFolderId& folder, CliFolderList* list)
{
    for (const char* at = buffer;;) {
        const FILE_ID_BOTH_DIR_INFO* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        wchar_t wide[MAX_PATH + 1];
        size_t units = entry->FileNameLength / sizeof(wchar_t);
        if (units > MAX_PATH)
            units = MAX_PATH;
        std::memcpy(wide, entry->FileName, units * sizeof(wchar_t));
        wide[units] = L'\0';
        char name[NAME_SIZE];
        bool dots = wide[0] == L'.' && (wide[1] == L'\0' || (wide[1] == L'.' && wide[2] == L'\0'));
        if (!dots && EncodeUtf16(wide, name, sizeof name)) {
            DWORD attributes = entry->FileAttributes;
            // A reparse point's tag stands where its extended attributes' size would.
            bool walked = (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                          (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || WalksCliReparsePoint(entry->EaSize));
            CliFolderId id = {folder.volume, static_cast<uint64_t>(entry->FileId.QuadPart)};
            if (!AddCliFolderEntry(list, name, std::strlen(name), walked, &id))
                return false;
        }
        if (entry->NextEntryOffset == 0)
            return true;
        at += entry->NextEntryOffset;
    }
}

} // namespace

bool ReadCliFolder(CliFolder* folder, CliFolderList* list, std::string* reason)
{
    HANDLE handle = reinterpret_cast<HANDLE>(folder->handle);
    folder->handle = -1;
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG)); // aligned as the records need
    DWORD error = ERROR_SUCCESS;
    for (bool first = true;; first = false) {
        if (!GetFileInformationByHandleEx(handle, FileIdBothDirectoryInfo, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            error = GetLastError();
            if (error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND)) // an empty root
                error = ERROR_SUCCESS;
            break;
        }
        if (!AddEntries(reinterpret_cast<const char*>(buffer.data()), folder->id, list)) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
    }
    CloseHandle(handle);
    if (error == ERROR_SUCCESS)
        return true;
    *reason = error == ERROR_NOT_ENOUGH_MEMORY ? "Not enough memory"
              : error == ERROR_ACCESS_DENIED   ? "Permission denied"
                                               : "cannot be read";
    return false;
}

void CloseCliFolder(CliFolder* folder)
{
    if (folder->handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(folder->handle));
    folder->handle = -1;
}

// Threads: a slim reader/writer lock taken exclusively and condition variables on it.

namespace {

SRWLOCK g_batchLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_batchConditions[CLI_CONDITIONS]; // zeroed: CONDITION_VARIABLE_INIT
// Threads started, until joined; any thread may start one.
SRWLOCK g_threadsLock = SRWLOCK_INIT;
std::vector<HANDLE> g_threads;
std::atomic<bool> g_interrupted(false);
void (*g_stop)();
int g_stopStatus;

struct ThreadStart {
    void (*run)(void* context);
    void* context;
};

DWORD WINAPI RunThread(void* parameter)
{
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    // The shell's file queries want COM on the thread that asks.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    start.run(start.context);
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

// Runs on a thread of its own that the system starts for the event: stops the batch, and ends the
// process should the run not end by itself in time (its output blocked, a probe deep in a file).
BOOL WINAPI NoteInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = true;
    g_stop();
    Sleep(CLI_STOP_GRACE / 1000);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_stopStatus));
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
    AcquireSRWLockExclusive(&g_threadsLock);
    HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (thread)
        g_threads.push_back(thread);
    ReleaseSRWLockExclusive(&g_threadsLock);
    if (!thread)
        delete start;
    return thread != nullptr;
}

void JoinCliThreads()
{
    for (;;) {
        AcquireSRWLockExclusive(&g_threadsLock);
        HANDLE thread = g_threads.empty() ? nullptr : g_threads.back();
        if (thread)
            g_threads.pop_back();
        ReleaseSRWLockExclusive(&g_threadsLock);
        if (!thread)
            return;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

// Stopping, the console and the clock.

void WatchCliInterrupts(void (*stop)(), int status)
{
    g_stop = stop;
    g_stopStatus = status;
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

uint64_t CurrentCliThread()
{
    return GetCurrentThreadId();
}

size_t CliTerminalColumns(FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (!GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &screen))
        return 0;
    return static_cast<size_t>(screen.srWindow.Right - screen.srWindow.Left + 1);
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

CliThreadUse GetCliThreadUse()
{
    // A thread's processor time is counted here in clock ticks of 15.6 ms, far too coarse for a
    // probe, and its waits for the disk not at all: every slow probe counts as one that waited.
    return {false, 0, 0, 0};
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
