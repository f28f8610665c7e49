// Stand-in for the command-line tools' platform file: folders from an in-memory tree that a test
// builds, threads from the standard library, an interrupt a test can raise. Linked in place of the
// real platform file, so that walks and batches can be driven through every case.
#include "fake_cli_platform.h"

#include "cli_platform.h"
#include "cli_text.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

FakeTree g_fakeTree;
std::atomic<bool> g_fakeInterrupted{false};

const char g_cliProgramName[] = "qvr";
const char g_cliUsagePaths[] = "";
const int g_cliNameEncoding = TEXT_UTF8;
const int g_cliTerminalEncoding = TEXT_UTF8;
const char g_cliPathSeparator[] = "/";
const size_t g_cliPathLimit = FAKE_PATH_LIMIT;

uint32_t DecodeCp932Pair(unsigned char, unsigned char) { return CP932_INVALID; }
size_t EncodeCp932(uint32_t, char*) { return 0; }

void ForEachCliPath(const char* argument, bool exact, bool, CliPathVisitor visit, void* context)
{
    visit(context, argument, exact, false);
}

int LimitCliProbers(int jobs)
{
    return jobs;
}

bool IsCliFolder(const char* path)
{
    auto found = g_fakeTree.find(path);
    return found != g_fakeTree.end() && found->second.folder;
}

bool ReadCliFolder(const char* folder, std::vector<CliFolderEntry>* entries, std::string* reason)
{
    auto found = g_fakeTree.find(folder);
    if (found == g_fakeTree.end() || !found->second.folder) {
        *reason = "No such file or directory";
        return false;
    }
    if (found->second.unreadable) {
        *reason = "Permission denied";
        return false;
    }
    *entries = found->second.entries;
    return true;
}

namespace {

std::mutex g_lock;
std::condition_variable g_conditions[CLI_CONDITIONS];
std::vector<std::thread> g_threads;

} // namespace

void LockCliBatch() { g_lock.lock(); }
void UnlockCliBatch() { g_lock.unlock(); }

void WaitCliBatch(int condition)
{
    std::unique_lock<std::mutex> held(g_lock, std::adopt_lock);
    g_conditions[condition].wait_for(held, std::chrono::milliseconds(100));
    held.release();
}

void WakeCliBatch(int condition, bool all)
{
    if (all)
        g_conditions[condition].notify_all();
    else
        g_conditions[condition].notify_one();
}

bool StartCliThread(void (*run)(void* context), void* context)
{
    g_threads.emplace_back(run, context);
    return true;
}

void JoinCliThreads()
{
    for (std::thread& thread : g_threads)
        thread.join();
    g_threads.clear();
}

void WatchCliInterrupts() {}
bool CliInterrupted() { return g_fakeInterrupted; }
bool IsCliOutputGone(int) { return false; }
bool IsCliTerminal(FILE*) { return false; }
size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count) { return fwrite(bytes, 1, count, stream); }

uint64_t CliThreadWaits()
{
    static std::atomic<uint64_t> s_calls{0};
    return ++s_calls; // every slow probe counts as waiting: delayed probes grow the probers
}

uint64_t CliMicroseconds()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch()).count());
}
