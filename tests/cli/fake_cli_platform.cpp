// Stand-in for the command-line tools' platform file: folders from an in-memory tree that a test
// builds, threads from the standard library or, while a schedule is explored, from the scheduler.
// Linked in place of the real platform file, so that walks and batches can be driven through
// every case.
#include "fake_cli_platform.h"

#include "cli_platform.h"
#include "cli_text.h"
#include "schedule.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

FakeTree g_fakeTree;
int g_fakeOpenHandles, g_fakeMostHandles;

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

int LimitCliProbers(int jobs) { return jobs; }

CliFolderId FakeId(const std::string& path)
{
    const FakeNode& node = g_fakeTree.at(path);
    if (!node.sameAs.empty())
        return FakeId(node.sameAs);
    return {node.volume ? node.volume : 1, std::hash<std::string>()(path)};
}

namespace {

intptr_t OpenHandle()
{
    g_fakeMostHandles = std::max(g_fakeMostHandles, ++g_fakeOpenHandles);
    return 1;
}

} // namespace

int OpenCliTree(const char* path, bool, CliFolder* tree, std::string*)
{
    auto found = g_fakeTree.find(path);
    if (found == g_fakeTree.end() || !found->second.folder)
        return CLI_NOT_A_FOLDER;
    tree->id = FakeId(path);
    tree->handle = OpenHandle();
    return CLI_OPENED;
}

int OpenCliFolder(const CliFolder*, const char* path, size_t, const CliFolderId* listed, CliFolder* folder,
                  std::string* reason)
{
    auto found = g_fakeTree.find(path);
    if (found == g_fakeTree.end()) {
        *reason = "No such file or directory";
        return CLI_UNREADABLE;
    }
    const FakeNode& node = found->second;
    if (!node.folder || (listed && node.swapped))
        return CLI_NOT_A_FOLDER;
    folder->id = FakeId(path);
    if (listed && (folder->id.volume != listed->volume || folder->id.file != listed->file))
        return CLI_NOT_A_FOLDER;
    if (node.unreadable) {
        *reason = "Permission denied";
        return CLI_UNREADABLE;
    }
    folder->handle = reinterpret_cast<intptr_t>(&found->first);
    OpenHandle();
    return CLI_OPENED;
}

bool ReadCliFolder(CliFolder* folder, CliFolderList* list, std::string*)
{
    const std::string& path = *reinterpret_cast<const std::string*>(folder->handle);
    CloseCliFolder(folder);
    if (g_fakeTree.at(path).slow && Scheduling())
        ScheduledPause("read-folder-waits", 1000);
    for (const FakeEntry& entry : g_fakeTree.at(path).entries) {
        CliFolderId id = entry.folder ? FakeId(path + "/" + entry.name) : CliFolderId{0, 0};
        AddCliFolderEntry(list, entry.name.c_str(), entry.name.size(), entry.folder, &id);
    }
    return true;
}

void CloseCliFolder(CliFolder* folder)
{
    if (folder->handle != -1)
        --g_fakeOpenHandles;
    folder->handle = -1;
}

namespace {

std::mutex g_lock;
std::condition_variable g_conditions[CLI_CONDITIONS];
std::mutex g_threadsLock;
std::vector<std::thread> g_threads;

} // namespace

void LockCliBatch() { Scheduling() ? ScheduledLock() : g_lock.lock(); }

void UnlockCliBatch() { Scheduling() ? ScheduledUnlock() : g_lock.unlock(); }

void WaitCliBatch(int condition)
{
    if (Scheduling()) {
        ScheduledWait(condition);
        return;
    }
    std::unique_lock<std::mutex> held(g_lock, std::adopt_lock);
    g_conditions[condition].wait(held);
    held.release();
}

void WakeCliBatch(int condition, bool all)
{
    if (Scheduling())
        ScheduledWake(condition, all);
    else if (all)
        g_conditions[condition].notify_all();
    else
        g_conditions[condition].notify_one();
}

bool StartCliThread(void (*run)(void* context), void* context)
{
    if (Scheduling())
        return ScheduledStart(run, context);
    std::lock_guard<std::mutex> held(g_threadsLock);
    g_threads.emplace_back(run, context);
    return true;
}

void JoinCliThreads()
{
    if (Scheduling()) {
        ScheduledJoin();
        return;
    }
    for (;;) {
        std::thread thread;
        {
            std::lock_guard<std::mutex> held(g_threadsLock);
            if (g_threads.empty())
                return;
            thread = std::move(g_threads.back());
            g_threads.pop_back();
        }
        thread.join();
    }
}

void WatchCliInterrupts(void (*)(), int) {}
bool CliInterrupted() { return false; }
bool IsCliOutputGone(int) { return false; }
bool IsCliTerminal(FILE*) { return false; }
size_t WriteCliOutput(FILE* stream, const char* bytes, size_t count) { return fwrite(bytes, 1, count, stream); }

CliThreadUse GetCliThreadUse()
{
    // Under a schedule a probe that waits for the device is one that reads from one; elsewhere
    // every slow probe counts as waiting: delayed probes grow the probers.
    if (Scheduling())
        return {true, ScheduledProcessorTime(), ScheduledDeviceWaits(), ScheduledDeviceWaits()};
    return {false, 0, 0, 0};
}

uint64_t CliMicroseconds()
{
    if (Scheduling())
        return ScheduledClock();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch()).count());
}

uint64_t CurrentCliThread() { return std::hash<std::thread::id>()(std::this_thread::get_id()); }
