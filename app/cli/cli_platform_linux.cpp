// qvr's platform: arguments as the kernel passes them (the shell has expanded any pattern), names
// as the file system's bytes (UTF-8 as far as they are valid), UTF-8 on the terminal, code page
// 932 read through glibc's table, one character at a time, remembered once looked up; folders
// through readdir, threads through pthreads.
#include "cli_platform.h"
#include "cli_text.h"
#include "cp932_text.h"
#include "image_info.h"

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
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

const char g_cliProgramName[] = "qvr";
const char g_cliUsagePaths[] = "";
const int g_cliNameEncoding = TEXT_UTF8;
const int g_cliTerminalEncoding = TEXT_UTF8;

static char** g_arguments;

int OpenCliArguments(int argc, char** argv)
{
    g_arguments = argv;
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
    return ProbeImageFile(info, item->path.c_str());
}

int LimitCliProbers(int jobs)
{
    return jobs;
}

const char g_cliPathSeparator[] = "/";
const size_t g_cliPathLimit = PATH_MAX;

bool IsCliFolder(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool ReadCliFolder(const char* folder, std::vector<CliFolderEntry>* entries, std::string* reason)
{
    DIR* directory = opendir(folder);
    if (!directory) {
        *reason = std::strerror(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory);
        if (!entry)
            break;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool descend = entry->d_type == DT_DIR;
        struct stat status; // not every file system tells the type in the entry
        if (entry->d_type == DT_UNKNOWN && fstatat(dirfd(directory), name, &status, AT_SYMLINK_NOFOLLOW) == 0)
            descend = S_ISDIR(status.st_mode);
        entries->push_back({name, descend});
    }
    int error = errno;
    closedir(directory);
    if (error != 0)
        *reason = std::strerror(error);
    return error == 0;
}

namespace {

// Held for a few instructions at a time: a thread that finds it taken spins a little before it sleeps.
pthread_mutex_t g_batchLock = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
pthread_cond_t g_conditions[CLI_CONDITIONS];
std::vector<pthread_t> g_threads;
volatile sig_atomic_t g_interrupted;

void OnInterrupt(int)
{
    g_interrupted = 1;
}

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
    static bool s_made = [] {
        pthread_condattr_t monotonic;
        pthread_condattr_init(&monotonic);
        pthread_condattr_setclock(&monotonic, CLOCK_MONOTONIC);
        for (pthread_cond_t& made : g_conditions)
            pthread_cond_init(&made, &monotonic);
        return true;
    }();
    (void)s_made;
    // A tenth of a second at most, so that an interrupt is seen.
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += 100 * 1000 * 1000;
    if (until.tv_nsec >= 1000 * 1000 * 1000) {
        until.tv_nsec -= 1000 * 1000 * 1000;
        ++until.tv_sec;
    }
    pthread_cond_timedwait(&g_conditions[condition], &g_batchLock, &until);
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
    bool started = pthread_create(&thread, &attributes, RunThread, start) == 0;
    pthread_attr_destroy(&attributes);
    if (started)
        g_threads.push_back(thread);
    else
        delete start;
    return started;
}

void JoinCliThreads()
{
    for (pthread_t thread : g_threads)
        pthread_join(thread, nullptr);
    g_threads.clear();
}

void WatchCliInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART; // a write in progress goes on: the output ends on a whole result
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before;
        // A signal ignored from the start stays ignored, as in a background job of a script.
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN); // a reader that went away is a failed write, seen as EPIPE
}

bool CliInterrupted()
{
    return g_interrupted != 0;
}

bool IsCliOutputGone(int error)
{
    return error == EPIPE;
}

bool IsCliTerminal(FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

void SetCliOutputEncoding(FILE*, int) {} // a terminal takes the bytes as they are

size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count)
{
    return std::fwrite(bytes, 1, count, stream);
}

uint64_t CliThreadWaits()
{
    rusage usage;
    return getrusage(RUSAGE_THREAD, &usage) == 0 ? static_cast<uint64_t>(usage.ru_nvcsw) : 0;
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

static uint16_t LookUpPair(unsigned char lead, unsigned char trail)
{
    if (g_fromCp932 == reinterpret_cast<iconv_t>(-1))
        g_fromCp932 = iconv_open("UTF-16LE", "CP932");
    if (g_fromCp932 == reinterpret_cast<iconv_t>(-1))
        return PAIR_INVALID;
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
        known.store(pair, std::memory_order_relaxed);
    }
    return pair == PAIR_INVALID ? CP932_INVALID : pair;
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
