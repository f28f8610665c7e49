// qvr's platform: arguments as the kernel passes them (the shell has expanded any pattern), names
// as the file system's bytes (UTF-8 as far as they are valid), UTF-8 on the terminal, code page
// 932 read through glibc's table, one character at a time, remembered once looked up; folders
// through readdir, threads through pthreads.
#include "cli_platform.h"
#include "cli_text.h"
#include "cp932_text.h"
#include "image_info.h"
#include "open_beneath_linux.h"
#include "platform_probe.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

const char g_cliProgramName[] = "qvr";
const char g_cliUsagePaths[] = "";
const int g_cliNameEncoding = TEXT_UTF8;
const int g_cliTerminalEncoding = TEXT_UTF8;

static char** g_arguments;
static bool OpenCp932Converter();

int OpenCliArguments(int argc, char** argv)
{
    g_arguments = argv;
    OpenCp932Converter(); // before anything else takes a descriptor; tried again when it failed
    return argc;
}

const char* GetCliArgument(int index, char*, bool* exact)
{
    *exact = true;
    return g_arguments[index];
}

void ForEachCliPath(const char* argument, bool, bool, CliPathVisitor visit, void* context)
{
    visit(context, argument, true, false);
}

int ProbeCliPath(ImageInfo* info, const CliItem* item)
{
    ProbePath path = {item->path.c_str(), nullptr, {-1, 0, 0, 0, 0}, item->tree >= 0, item->tree, item->beneath};
    return ProbeImagePath(info, &path);
}

// Descriptors open now, counted in /proc; without it, those below 256 (the tools open few).
static long CountOpenDescriptors(long limit)
{
    long count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(folder))
            count += entry->d_name[0] != '.';
        closedir(folder);
        return count - 1; // the folder's own
    }
    for (int fd = 0; fd < limit && fd < 256; ++fd)
        count += fcntl(fd, F_GETFD) != -1;
    return count;
}

int LimitCliProbers(int jobs)
{
    // Out of descriptors a probe fails, and what it shows then depends on what the others hold:
    // the soft limit goes up to the hard one, and no more probers run than the descriptors left
    // (once the probe took what it keeps, and those of the walk put aside) let run at once.
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = {limit.rlim_max, limit.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    PrepareFileProbes();
    long most = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (1u << 30) ? 1l << 30 : static_cast<long>(limit.rlim_cur);
    long spare = most - CountOpenDescriptors(most) - CLI_WALK_HANDLES;
    long probers = spare / PROBE_HANDLES;
    return probers < 1 ? 1 : probers < jobs ? static_cast<int>(probers) : jobs;
}

const char g_cliPathSeparator[] = "/";
const size_t g_cliPathLimit = PATH_MAX;

namespace {

bool Identify(int fd, CliFolderId* id)
{
    struct stat status;
    if (fstat(fd, &status) != 0)
        return false;
    *id = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    return true;
}

} // namespace

int OpenCliTree(const char* path, bool, CliFolder* tree, std::string*)
{
    int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !Identify(fd, &tree->id)) {
        if (fd >= 0)
            close(fd);
        return CLI_NOT_A_FOLDER; // probed as the path it is, which says why
    }
    tree->handle = fd;
    return CLI_OPENED;
}

int OpenCliFolder(const CliFolder* tree, const char* path, size_t beneath, const CliFolderId* listed,
                  CliFolder* folder, std::string* reason)
{
    const char* below = path + beneath;
    int fd = OpenBeneath(static_cast<int>(tree->handle), listed ? below : "", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return CLI_NOT_A_FOLDER; // a link or a file now stands there
        *reason = std::strerror(errno);
        return CLI_UNREADABLE;
    }
    if (!Identify(fd, &folder->id) ||
        (listed && (folder->id.volume != listed->volume || folder->id.file != listed->file))) {
        close(fd);
        return CLI_NOT_A_FOLDER; // another folder than the one listed
    }
    folder->handle = fd;
    return CLI_OPENED;
}

bool ReadCliFolder(CliFolder* folder, CliFolderList* list, std::string* reason)
{
    int fd = static_cast<int>(folder->handle);
    folder->handle = -1;
    DIR* directory = fdopendir(fd);
    if (!directory) {
        *reason = std::strerror(errno);
        close(fd);
        return false;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory);
        if (!entry) {
            error = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        // A folder is told by what stands there now, never through a link; it is remembered as
        // listed, so that the folder opened later can be checked to be this one.
        struct stat status;
        bool folderHere = (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN) &&
                          fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
        CliFolderId id = {0, 0};
        if (folderHere)
            id = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
        if (!AddCliFolderEntry(list, name, std::strlen(name), folderHere, &id)) {
            error = ENOMEM;
            break;
        }
    }
    closedir(directory);
    if (error != 0)
        *reason = std::strerror(error);
    return error == 0;
}

void CloseCliFolder(CliFolder* folder)
{
    if (folder->handle >= 0)
        close(static_cast<int>(folder->handle));
    folder->handle = -1;
}

namespace {

// Held for a few instructions at a time: a thread that finds it taken spins a little before it sleeps.
pthread_mutex_t g_batchLock = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
pthread_cond_t g_conditions[CLI_CONDITIONS] = {PTHREAD_COND_INITIALIZER, PTHREAD_COND_INITIALIZER};
// Threads started, until joined; any thread may start one.
pthread_mutex_t g_threadsLock = PTHREAD_MUTEX_INITIALIZER;
std::vector<pthread_t> g_threads;
std::atomic<bool> g_interrupted(false);
void (*g_stop)();
int g_stopStatus;
sigset_t g_stopSignals;

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

void* RunThread(void* start)
{
    ThreadStart what = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    what.run(what.context);
    return nullptr;
}

// Takes the stop signals one at a time, never in a handler: the batch is stopped from here, under
// its lock, and the process ends should the run not end by itself in time.
void* WatchSignals(void*)
{
    for (;;) {
        if (sigwaitinfo(&g_stopSignals, nullptr) < 0)
            continue;
        g_interrupted = true;
        g_stop();
        timespec grace = {0, CLI_STOP_GRACE * 1000L};
        while (nanosleep(&grace, &grace) != 0 && errno == EINTR) {
        }
        // The system call itself: nothing else runs in the process on the way out (a sanitizer's
        // _exit would first wait for the thread blocked in its write).
        syscall(SYS_exit_group, g_stopStatus);
    }
}

} // namespace

void LockCliBatch()
{
    pthread_mutex_lock(&g_batchLock);
}

void UnlockCliBatch()
{
    pthread_mutex_unlock(&g_batchLock);
}

void WaitCliBatch(int condition)
{
    pthread_cond_wait(&g_conditions[condition], &g_batchLock);
}

void WakeCliBatch(int condition, bool all)
{
    if (all)
        pthread_cond_broadcast(&g_conditions[condition]);
    else
        pthread_cond_signal(&g_conditions[condition]);
}

bool StartCliThread(void (*run)(void* context), void* context)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1 << 20); // a probe needs little; many threads add up
    ThreadStart* start = new ThreadStart{run, context};
    pthread_t thread;
    pthread_mutex_lock(&g_threadsLock);
    bool started = pthread_create(&thread, &attributes, RunThread, start) == 0;
    if (started)
        g_threads.push_back(thread);
    pthread_mutex_unlock(&g_threadsLock);
    pthread_attr_destroy(&attributes);
    if (!started)
        delete start;
    return started;
}

void JoinCliThreads()
{
    for (;;) {
        pthread_mutex_lock(&g_threadsLock);
        bool none = g_threads.empty();
        pthread_t thread = none ? pthread_t() : g_threads.back();
        if (!none)
            g_threads.pop_back();
        pthread_mutex_unlock(&g_threadsLock);
        if (none)
            return;
        pthread_join(thread, nullptr);
    }
}

void WatchCliInterrupts(void (*stop)(), int status)
{
    g_stop = stop;
    g_stopStatus = status;
    sigemptyset(&g_stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before;
        // A signal ignored from the start stays ignored, as in a background job of a script.
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaddset(&g_stopSignals, signal);
    }
    std::signal(SIGPIPE, SIG_IGN); // a reader that went away is a failed write, seen as EPIPE
    // Blocked in this thread and so in every thread it starts: only the watcher takes them.
    pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1 << 16);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t watcher;
    if (pthread_create(&watcher, &attributes, WatchSignals, nullptr) != 0)
        pthread_sigmask(SIG_UNBLOCK, &g_stopSignals, nullptr); // without a watcher they end the process at once
    pthread_attr_destroy(&attributes);
}

bool CliInterrupted()
{
    return g_interrupted;
}

bool IsCliOutputGone(int error)
{
    return error == EPIPE;
}

bool IsCliTerminal(FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

size_t CliTerminalColumns(FILE* stream)
{
    winsize size;
    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void SetCliOutputEncoding(FILE*, int) {} // a terminal takes the bytes as they are

size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count)
{
    return std::fwrite(bytes, 1, count, stream);
}

CliThreadUse GetCliThreadUse()
{
    rusage usage;
    if (getrusage(RUSAGE_THREAD, &usage) != 0)
        return {false, 0, 0, 0};
    auto microseconds = [](const timeval& time) {
        return static_cast<uint64_t>(time.tv_sec) * 1000000u + static_cast<uint64_t>(time.tv_usec);
    };
    return {true, microseconds(usage.ru_utime) + microseconds(usage.ru_stime), static_cast<uint64_t>(usage.ru_inblock),
            static_cast<uint64_t>(usage.ru_nvcsw)};
}

uint64_t CurrentCliThread()
{
    return static_cast<uint64_t>(pthread_self());
}

uint64_t CliMicroseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

enum {
    LEAD_BYTES = 60,   // 0x81-0x9F and 0xE0-0xFC
    TRAIL_BYTES = 189, // 0x40-0xFC
};
static const uint16_t PAIR_UNKNOWN = 0; // not looked up yet (U+0000 is no double-byte character)
static const uint16_t PAIR_INVALID = 0xFFFF;

// Every double-byte character stands for one character of the Basic Multilingual Plane. Probers
// format their results side by side: the table is read and filled by several threads, and the
// converter, which holds a state, is used by one at a time.
static std::atomic<uint16_t> g_pairs[LEAD_BYTES][TRAIL_BYTES];
static iconv_t g_fromCp932 = reinterpret_cast<iconv_t>(-1);
static pthread_mutex_t g_converterLock = PTHREAD_MUTEX_INITIALIZER;

// With the converter lock held, or before any thread starts.
static bool OpenCp932Converter()
{
    if (g_fromCp932 == reinterpret_cast<iconv_t>(-1))
        g_fromCp932 = iconv_open("UTF-16LE", "CP932");
    return g_fromCp932 != reinterpret_cast<iconv_t>(-1);
}

// The character of a pair; PAIR_UNKNOWN when the converter cannot be opened (out of descriptors,
// say): that is no answer, and the next character asks again.
static uint16_t LookUpPair(unsigned char lead, unsigned char trail)
{
    if (!OpenCp932Converter())
        return PAIR_UNKNOWN;
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char out[4];
    char* inNext = in;
    char* outNext = reinterpret_cast<char*>(out);
    size_t inLeft = sizeof in;
    size_t outLeft = sizeof out;
    iconv(g_fromCp932, nullptr, nullptr, nullptr, nullptr);
    if (iconv(g_fromCp932, &inNext, &inLeft, &outNext, &outLeft) == static_cast<size_t>(-1) ||
        outLeft != 2)
        return PAIR_INVALID;
    uint16_t unit = static_cast<uint16_t>(out[0] | out[1] << 8);
    return unit == PAIR_UNKNOWN || (unit >= 0xD800 && unit <= 0xDFFF) ? PAIR_INVALID : unit;
}

uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail)
{
    std::atomic<uint16_t>& known = g_pairs[lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31][trail - 0x40];
    uint16_t pair = known.load(std::memory_order_relaxed);
    if (pair == PAIR_UNKNOWN) {
        pthread_mutex_lock(&g_converterLock);
        pair = LookUpPair(lead, trail);
        pthread_mutex_unlock(&g_converterLock);
        if (pair != PAIR_UNKNOWN)
            known.store(pair, std::memory_order_relaxed);
    }
    return pair == PAIR_INVALID || pair == PAIR_UNKNOWN ? CP932_INVALID : pair;
}

size_t EncodeCp932(uint32_t codePoint, char bytes[2])
{
    // qvr writes UTF-8 only; the code page 932 console is qvrc.exe's, and this search through
    // the table above serves the tests of its text.
    if (const char* standIn = Cp932StandIn(codePoint)) {
        std::memcpy(bytes, standIn, 2);
        return 2;
    }
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F) { // half-width katakana
        bytes[0] = static_cast<char>(0xA1 + (codePoint - 0xFF61));
        return 1;
    }
    for (unsigned lead = 0x81; lead <= 0xFC; lead = lead == 0x9F ? 0xE0 : lead + 1) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F && DecodeCp932Pair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)) == codePoint) {
                bytes[0] = static_cast<char>(lead);
                bytes[1] = static_cast<char>(trail);
                return 2;
            }
        }
    }
    return 0;
}
