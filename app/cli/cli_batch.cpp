#include "cli_batch.h"

#include "cli_platform.h"

#include <vector>

namespace {

enum {
    WINDOW_PER_JOB = 8, // results that may wait, per prober, for an earlier one to be printed
    MIN_WINDOW = 64,
    BUSY_PROBERS = 2,   // probers kept running from the start: a probe served from memory is
                        // mostly work for the processor, and more threads than cores only contend
    WAITING_PROBE = 30, // microseconds: a probe this slow that had to wait, waited for the device
    SAMPLED_PROBES = 4, // one probe in so many is watched for waits
    GROWTH_SAMPLES = 4, // watched probes, at least, behind each growth of the probers
};

struct Slot {
    CliItem item;
    const char* unprobed;
    bool done;          // `result` is final: only the submitting thread touches the slot until printed
    CliResult result;
};

// Item n waits in slot n % size. Items are submitted, claimed by probers and printed in the same
// order, so g_printed <= g_claimed <= g_submitted <= g_printed + size. Everything here is guarded
// by the batch lock, but for a claimed slot, which belongs to its prober until it is done.
std::vector<Slot> g_slots;
CliBatchCalls g_calls;
int g_jobs;
unsigned long g_submitted, g_claimed, g_printed;
int g_started, g_idle;
bool g_ending, g_stopped;
// The submitting thread, when it waits, is woken once the oldest item is finished and so are
// `g_wakeAfter` items since it began to wait, or the probers have nothing left: each wake then
// frees a good part of the window, not a slot at a time.
bool g_submitterWaits;
unsigned long g_finished, g_finishedBefore, g_wakeAfter;
// Watched probes since the probers last grew, and how many of them waited for the device.
int g_watchedProbes, g_waitingProbes;

Slot* SlotOf(unsigned long item)
{
    return &g_slots[item % g_slots.size()];
}

void Report(Slot* slot)
{
    slot->result.out.clear();
    slot->result.err.clear();
    slot->result.failed = false;
    g_calls.report(g_calls.context, slot->item, slot->unprobed, &slot->result);
}

enum Watch {
    NOT_WATCHED,
    WATCHED,
    WAITED, // slow, and its thread gave way: a probe merely interrupted by other threads does not count
};

// Probes `slot`, watching one probe in SAMPLED_PROBES for waits.
Watch ReportWatched(Slot* slot, unsigned long item)
{
    if (item % SAMPLED_PROBES != 0) {
        Report(slot);
        return NOT_WATCHED;
    }
    uint64_t start = CliMicroseconds(), waits = CliThreadWaits();
    Report(slot);
    bool waited = CliMicroseconds() - start > WAITING_PROBE && CliThreadWaits() != waits;
    return waited ? WAITED : WATCHED;
}

void RunProber(void*)
{
    LockCliBatch();
    for (;;) {
        if (g_claimed == g_submitted) {
            if (g_ending)
                break;
            ++g_idle;
            WaitCliBatch(CLI_WORK_READY);
            --g_idle;
            continue;
        }
        unsigned long item = g_claimed++;
        Slot* slot = SlotOf(item);
        if (slot->done)
            continue; // a message: nothing to probe
        UnlockCliBatch();
        Watch watch = ReportWatched(slot, item);
        LockCliBatch();
        slot->done = true;
        ++g_finished;
        g_watchedProbes += watch != NOT_WATCHED;
        g_waitingProbes += watch == WAITED;
        if (g_submitterWaits && SlotOf(g_printed)->done &&
            (g_finished - g_finishedBefore >= g_wakeAfter || g_claimed == g_submitted))
            WakeCliBatch(CLI_RESULT_READY, false);
    }
    UnlockCliBatch();
}

// Prints the finished items at the head of the window, in order. With the lock held; it is
// released while printing. False once the batch has stopped.
bool PrintFinished()
{
    while (!g_stopped && g_printed != g_submitted && SlotOf(g_printed)->done) {
        Slot* head = SlotOf(g_printed);
        UnlockCliBatch();
        bool printed = g_calls.print(g_calls.context, &head->result);
        g_calls.tick(g_calls.context);
        LockCliBatch();
        head->done = false;
        ++g_printed;
        if (g_claimed < g_printed)
            g_claimed = g_printed; // a message printed before any prober passed it by
        g_stopped = !printed;
    }
    return !g_stopped;
}

// Waits until the oldest item is finished, and with it a quarter of the window or everything
// claimed. With the lock held. False when interrupted.
bool WaitForHead()
{
    g_submitterWaits = true;
    g_finishedBefore = g_finished;
    g_wakeAfter = g_slots.size() / 4;
    bool going = true;
    while (!SlotOf(g_printed)->done ||
           (g_finished - g_finishedBefore < g_wakeAfter && g_claimed != g_submitted)) {
        if (CliInterrupted()) {
            going = false;
            break;
        }
        WaitCliBatch(CLI_RESULT_READY);
        UnlockCliBatch();
        g_calls.tick(g_calls.context);
        LockCliBatch();
    }
    g_submitterWaits = false;
    return going;
}

// Sees that the new item finds a prober. A prober that is awake takes item after item without
// being woken; a sleeping one is woken only when none is awake or the awake ones fall behind.
// BUSY_PROBERS start at once; beyond them, up to `jobs`, the probers double whenever at least
// half of the probes watched since they last grew waited for the device (a cold disk, a network
// share, where more probes at once make the batch faster); a probe that waited now and then for
// a lock or a page does not make them grow. False when none is running and none could be started.
bool FindProber()
{
    int awake = g_started - g_idle;
    unsigned long waiting = g_submitted - g_claimed;
    if (g_idle > 0 && (awake == 0 || waiting > 2ul * static_cast<unsigned long>(awake))) {
        WakeCliBatch(CLI_WORK_READY, false);
        return true;
    }
    bool devicesWait = g_watchedProbes >= GROWTH_SAMPLES && 2 * g_waitingProbes >= g_watchedProbes;
    int wanted = devicesWait ? 2 * g_started : BUSY_PROBERS;
    if (g_started < wanted)
        g_watchedProbes = g_waitingProbes = 0;
    while (g_started < wanted && g_started < g_jobs && StartCliThread(RunProber, nullptr))
        ++g_started;
    return g_started > 0;
}

bool Submit(const CliItem& item, const char* unprobed, const CliResult* given)
{
    if (g_stopped || CliInterrupted())
        return !(g_stopped = true);
    if (g_jobs == 1) {
        // One at a time needs no thread: probe and print on the spot.
        Slot* slot = &g_slots[0];
        slot->item = item;
        slot->unprobed = unprobed;
        if (given)
            slot->result = *given;
        else
            Report(slot);
        g_stopped = !g_calls.print(g_calls.context, &slot->result);
        g_calls.tick(g_calls.context);
        ++g_printed;
        return !g_stopped;
    }
    LockCliBatch();
    while (g_submitted - g_printed == g_slots.size() && !g_stopped) {
        if (!WaitForHead())
            g_stopped = true;
        PrintFinished();
    }
    if (!g_stopped) {
        Slot* slot = SlotOf(g_submitted);
        slot->item = item;
        slot->unprobed = unprobed;
        slot->done = given != nullptr;
        if (given)
            slot->result = *given;
        ++g_submitted;
        if (!given && !FindProber()) {
            // No thread to be had, and none running: the item is probed here.
            g_claimed = g_submitted;
            Report(slot);
            slot->done = true;
        }
        PrintFinished();
    }
    bool going = !g_stopped;
    UnlockCliBatch();
    return going;
}

void KeepInString(void* keeper, const char* bytes, size_t count)
{
    static_cast<std::string*>(keeper)->append(bytes, count);
}

} // namespace

TextOutput CliStringOutput(char* bytes, size_t capacity, std::string* text)
{
    TextOutput out = {bytes, capacity, 0, nullptr, false, 0, KeepInString, text};
    return out;
}

void StartCliBatch(int jobs, const CliBatchCalls* calls)
{
    g_calls = *calls;
    g_jobs = LimitCliProbers(jobs < 1 ? 1 : jobs > CLI_MAX_JOBS ? CLI_MAX_JOBS : jobs);
    g_slots.assign(g_jobs == 1 ? 1 : g_jobs * WINDOW_PER_JOB < MIN_WINDOW ? MIN_WINDOW : g_jobs * WINDOW_PER_JOB, Slot());
    g_submitted = g_claimed = g_printed = 0;
    g_started = g_idle = g_watchedProbes = g_waitingProbes = 0;
    g_ending = g_stopped = false;
}

bool SubmitCliPath(const CliItem& item, const char* unprobed)
{
    return Submit(item, unprobed, nullptr);
}

bool SubmitCliResult(const CliResult& result)
{
    return Submit(CliItem{std::string(), false, -1, 0}, nullptr, &result);
}

bool EndCliBatch()
{
    if (g_jobs == 1)
        return !g_stopped;
    LockCliBatch();
    while (!g_stopped && g_printed != g_submitted) {
        if (!WaitForHead())
            g_stopped = true;
        PrintFinished();
    }
    g_ending = true;
    WakeCliBatch(CLI_WORK_READY, true);
    bool finished = !g_stopped;
    UnlockCliBatch();
    if (finished)
        JoinCliThreads(); // when stopped, probers may be deep in a file: the process ends without them
    return finished;
}

unsigned long CliBatchDone()
{
    return g_printed;
}
