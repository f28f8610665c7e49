#include "cli_batch.h"

#include "cli_platform.h"

#include <algorithm>
#include <vector>

namespace {

enum {
    WINDOW_PER_JOB = 8, // results that may wait, per prober, for an earlier one to be printed
    MIN_WINDOW = 64,
    BUSY_PROBERS = 2,   // probers started at once: a probe served from memory is mostly work for
                        // the processor, and more threads than cores only contend
    WAITING_PROBE = 30,    // microseconds: a probe this slow may have waited for the device
    MAYBE_DEVICE = 1000,   // microseconds off the processor, having given it up: a device, or a
                           // lock whose holder lost the processor meanwhile
    SURELY_DEVICE = 10000, // ... longer than a busy processor keeps any thread from a lock
    SAMPLED_PROBES = 4,    // of fast probes, one in so many is watched for waits
    GROWTH_SAMPLES = 4,    // watched probes, at least, that maybe waited, half of those watched
    SURE_WAITS = 2,        // waits that surely were for the device, enough on their own
    RECENT_PROBES = 64,    // watched probes that count in full
};

struct Slot {
    CliItem item;
    const char* unprobed;
    bool message;    // submitted as a result: nothing to probe
    bool done;       // `result` is final: only the submitting thread touches the slot until printed
    CliResult result;
};

// The whole state of a batch, in one record. Item n waits in slot n % window. Items are submitted,
// claimed by probers and printed in that order:
//
//     printed <= claimed <= submitted <= printed + window
//
// Slots [printed, claimed) are being probed or done; slots [claimed, submitted) wait for a prober,
// and the slot at `claimed`, when there is one, is always a path (messages are passed over as
// soon as they reach it). Everything is guarded by the batch lock but a claimed slot that is not
// done, which belongs to its prober. Every change that a waiter may wait for is followed by
// WakeWhoMayGo, the one place that decides whom to wake; each waiter waits for the predicate that
// function tests, so no wake-up is lost and no wait needs a time-out.
struct Batch {
    CliBatchCalls calls;
    int jobs; // probers at most; 1: no prober, everything on the submitting thread
    std::vector<Slot> slots;
    uint64_t submitted, claimed, printed;
    uint64_t finished; // probes finished since the start
    int started;       // probers started (or being started)
    int idle;          // probers waiting for work
    int stop;          // CliStop
    bool ending;       // nothing more will be submitted
    // The submitting thread, when it waits for the oldest item, is woken once that item is done
    // and so are `wakeAfter` items since it began to wait, or nothing is left to claim: each wake
    // then frees a good part of the window, not a slot at a time.
    bool submitterWaits;
    uint64_t finishedBefore, wakeAfter;
    // Watched probes of late, how many of them maybe waited for the device, and how many waits
    // (of probes and of the walk's folder reads) surely did.
    int watched, waited, sure;
    bool devicesWait; // probes wait for the device: every waiting path gets a prober from now on
};

Batch g_batch;

Slot* SlotOf(uint64_t item)
{
    return &g_batch.slots[item % g_batch.slots.size()];
}

uint64_t Waiting()
{
    return g_batch.submitted - g_batch.claimed;
}

// What the submitting thread waits for.
bool SubmitterMayGo()
{
    const Batch& b = g_batch;
    if (b.stop != CLI_GOING)
        return true;
    if (b.printed == b.submitted || !SlotOf(b.printed)->done)
        return false;
    return b.finished - b.finishedBefore >= b.wakeAfter || b.claimed == b.submitted;
}

// What a prober waits for.
bool ProberMayGo()
{
    return g_batch.stop != CLI_GOING || g_batch.ending || Waiting() > 0;
}

// Whether a sleeping prober is wanted: whenever a path waits. The probers awake may all be deep in
// long probes, and a path left waiting for them holds up every result after it.
bool ProberWanted()
{
    return Waiting() > 0;
}

// With the lock held, after any change of the batch.
void WakeWhoMayGo()
{
    Batch& b = g_batch;
    if (b.stop != CLI_GOING || b.ending) {
        WakeCliBatch(CLI_WORK_READY, true);
        WakeCliBatch(CLI_RESULT_READY, true);
        return;
    }
    if (b.submitterWaits && SubmitterMayGo())
        WakeCliBatch(CLI_RESULT_READY, false);
    if (b.idle > 0 && ProberWanted())
        WakeCliBatch(CLI_WORK_READY, false);
}

// Moves `claimed` over the messages at its place. With the lock held.
void PassMessages()
{
    Batch& b = g_batch;
    while (b.claimed < b.submitted && SlotOf(b.claimed)->message)
        ++b.claimed;
}

void Report(Slot* slot)
{
    slot->result.out.clear();
    slot->result.err.clear();
    slot->result.failed = false;
    g_batch.calls.report(g_batch.calls.context, slot->item, slot->unprobed, &slot->result);
}

enum Wait {
    NO_WAIT,
    MAYBE_WAITED,  // for the device or for a lock
    SURELY_WAITED, // for the device
};

// Whether the calling thread waited for the device since `watch` began: surely when it read from a
// block device or gave the processor up for longer than any lock keeps it, maybe when for longer
// than a lock is held. A thread that only waited for its turn on a busy processor gave nothing up.
Wait WaitedForDevice(const CliWatch& watch)
{
    uint64_t elapsed = CliMicroseconds() - watch.start;
    if (elapsed <= WAITING_PROBE)
        return NO_WAIT;
    CliThreadUse now = GetCliThreadUse();
    if (!now.known || !watch.use.known)
        return SURELY_WAITED;
    uint64_t off = elapsed - std::min(elapsed, now.processor - watch.use.processor);
    if (now.blockReads != watch.use.blockReads || (now.waits != watch.use.waits && off > SURELY_DEVICE))
        return SURELY_WAITED;
    return now.waits != watch.use.waits && off > MAYBE_DEVICE ? MAYBE_WAITED : NO_WAIT;
}

// Counts what a watch of the calling thread saw. With the lock held.
void CountWait(Wait wait)
{
    Batch& b = g_batch;
    ++b.watched;
    b.waited += wait != NO_WAIT;
    b.sure += wait == SURELY_WAITED;
    if (b.watched >= RECENT_PROBES) // what was watched long ago counts for less and less
        b.watched /= 2, b.waited /= 2;
}

// Probes `slot`; false when it was not watched. One fast probe in SAMPLED_PROBES is watched for
// waits, and every probe after a slow one, so that a slow device is seen from its first probes on.
bool ReportWatched(Slot* slot, uint64_t item, bool* watchNext, Wait* wait)
{
    bool watched = *watchNext || item % SAMPLED_PROBES == 0;
    CliWatch watch = {CliMicroseconds(), watched ? GetCliThreadUse() : CliThreadUse{false, 0, 0, 0}};
    Report(slot);
    *watchNext = CliMicroseconds() - watch.start > WAITING_PROBE;
    if (watched)
        *wait = WaitedForDevice(watch);
    return watched;
}

// Decides, with the lock held, how many probers to start: BUSY_PROBERS at once; beyond them, up to
// `jobs`, one for every waiting path once probes or the walk's folder reads surely waited for the
// device twice, or at least half of the probes watched of late maybe did (a cold disk, a network
// share, where more probes at once make the batch faster); a probe that waited now and then for a
// lock does not make them grow. The caller starts them (WakeAndGrow).
int ProbersToStart()
{
    Batch& b = g_batch;
    b.devicesWait = b.devicesWait || b.sure >= SURE_WAITS || (b.watched >= GROWTH_SAMPLES && 2 * b.waited >= b.watched);
    uint64_t wanted = static_cast<uint64_t>(std::max(b.started, static_cast<int>(BUSY_PROBERS)));
    if (b.devicesWait) // from then on, every path waiting gets a prober
        wanted = std::max(wanted, static_cast<uint64_t>(b.started - b.idle) + Waiting());
    wanted = std::min(wanted, static_cast<uint64_t>(b.jobs));
    if (wanted <= static_cast<uint64_t>(b.started))
        return 0;
    int count = static_cast<int>(wanted) - b.started;
    b.started += count; // counted now, so that no other thread starts them too
    return count;
}

void RunProber(void*);

// Claims the path at `claimed` and probes it without the lock. With the lock held, before and after.
void ProbeNext(bool* watchNext)
{
    Batch& b = g_batch;
    uint64_t item = b.claimed++;
    PassMessages();
    WakeWhoMayGo();
    Slot* slot = SlotOf(item);
    UnlockCliBatch();
    Wait wait = NO_WAIT;
    bool watched = ReportWatched(slot, item, watchNext, &wait);
    LockCliBatch();
    slot->done = true;
    ++b.finished;
    if (watched)
        CountWait(wait);
}

// With the lock held, after a change: wakes whoever may go on and starts the probers the batch now
// wants, without the lock while they start.
void WakeAndGrow()
{
    int count = ProbersToStart();
    WakeWhoMayGo();
    if (count == 0)
        return;
    UnlockCliBatch();
    int started = 0;
    while (started < count && StartCliThread(RunProber, nullptr))
        ++started;
    LockCliBatch();
    g_batch.started -= count - started;
    WakeWhoMayGo();
}

void RunProber(void*)
{
    Batch& b = g_batch;
    bool watchNext = true;
    LockCliBatch();
    for (;;) {
        while (!ProberMayGo()) {
            ++b.idle;
            WaitCliBatch(CLI_WORK_READY);
            --b.idle;
        }
        if (b.stop != CLI_GOING || Waiting() == 0)
            break; // stopped, or ending with nothing left
        ProbeNext(&watchNext);
        WakeAndGrow();
    }
    UnlockCliBatch();
}

// Prints the finished items at the head of the window, in order. With the lock held; it is
// released while printing. False once the batch has stopped.
bool PrintFinished()
{
    Batch& b = g_batch;
    while (b.stop == CLI_GOING && b.printed != b.submitted && SlotOf(b.printed)->done) {
        Slot* head = SlotOf(b.printed);
        UnlockCliBatch();
        bool printed = b.calls.print(b.calls.context, &head->result);
        b.calls.tick(b.calls.context);
        LockCliBatch();
        head->done = false;
        head->message = false;
        ++b.printed;
        if (!printed && b.stop == CLI_GOING)
            b.stop = CLI_OUTPUT_GONE;
        WakeWhoMayGo();
    }
    return b.stop == CLI_GOING;
}

// Waits until the oldest item is finished, and with it `batch` items or everything claimed, or the
// batch stops. With the lock held.
void WaitForHead(uint64_t batch)
{
    Batch& b = g_batch;
    b.submitterWaits = true;
    b.finishedBefore = b.finished;
    b.wakeAfter = batch;
    if (!SubmitterMayGo()) {
        UnlockCliBatch();
        b.calls.flush(b.calls.context);
        LockCliBatch();
    }
    while (!SubmitterMayGo()) {
        WaitCliBatch(CLI_RESULT_READY);
        UnlockCliBatch();
        b.calls.tick(b.calls.context);
        LockCliBatch();
    }
    b.submitterWaits = false;
}

// Prints everything submitted, waiting as needed; with `room`, only until a slot is free: then a
// quarter of the window at a time, when more paths are to come; else each result as soon as it
// is the oldest, as nothing else would print it. With the lock held. False once stopped.
bool PrintUntil(bool room)
{
    Batch& b = g_batch;
    while (b.stop == CLI_GOING && (room ? b.submitted - b.printed == b.slots.size() : b.printed != b.submitted)) {
        WaitForHead(room ? b.slots.size() / 4 : 1);
        PrintFinished();
    }
    return b.stop == CLI_GOING;
}

// One at a time needs no thread: probe and print on the spot.
bool SubmitHere(const CliItem& item, const char* unprobed, const CliResult* given)
{
    Batch& b = g_batch;
    Slot* slot = &b.slots[0];
    slot->item = item;
    slot->unprobed = unprobed;
    if (given) {
        slot->result = *given;
    } else {
        b.calls.flush(b.calls.context);
        Report(slot);
    }
    LockCliBatch();
    bool going = b.stop == CLI_GOING; // a probe that was interrupted is not printed
    ++b.submitted;
    UnlockCliBatch();
    if (going && !b.calls.print(b.calls.context, &slot->result))
        StopCliBatch(CLI_OUTPUT_GONE);
    b.calls.tick(b.calls.context);
    LockCliBatch();
    ++b.printed;
    going = b.stop == CLI_GOING;
    UnlockCliBatch();
    return going;
}

bool Submit(const CliItem& item, const char* unprobed, const CliResult* given)
{
    Batch& b = g_batch;
    if (b.jobs == 1)
        return CliBatchStop() == CLI_GOING && SubmitHere(item, unprobed, given);
    LockCliBatch();
    if (!PrintUntil(true)) {
        UnlockCliBatch();
        return false;
    }
    Slot* slot = SlotOf(b.submitted);
    UnlockCliBatch();
    // The slot is free and no prober looks at it: it is filled without the lock.
    slot->item = item;
    slot->unprobed = unprobed;
    slot->message = given != nullptr;
    slot->done = given != nullptr;
    if (given)
        slot->result = *given;
    LockCliBatch();
    ++b.submitted;
    PassMessages();
    WakeAndGrow();
    if (b.started == 0 && Waiting() > 0) {
        // No thread to be had: the path is probed here, after what was printed goes out.
        UnlockCliBatch();
        b.calls.flush(b.calls.context);
        LockCliBatch();
        bool watchNext = false;
        ProbeNext(&watchNext);
        WakeWhoMayGo();
    }
    bool going = PrintFinished();
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

void StartCliBatch(int jobs, const CliBatchCalls* calls, size_t window)
{
    Batch& b = g_batch;
    b.calls = *calls;
    b.jobs = LimitCliProbers(jobs < 1 ? 1 : jobs > CLI_JOBS_LIMIT ? CLI_JOBS_LIMIT : jobs);
    if (b.jobs < 1)
        b.jobs = 1;
    if (window == 0)
        window = std::max(static_cast<size_t>(b.jobs) * WINDOW_PER_JOB, static_cast<size_t>(MIN_WINDOW));
    b.slots.assign(b.jobs == 1 ? 1 : window, Slot());
    b.submitted = b.claimed = b.printed = b.finished = 0;
    b.started = b.idle = b.watched = b.waited = b.sure = 0;
    b.stop = CLI_GOING;
    b.ending = b.submitterWaits = b.devicesWait = false;
    b.finishedBefore = b.wakeAfter = 0;
}

bool SubmitCliPath(const CliItem& item, const char* unprobed)
{
    return Submit(item, unprobed, nullptr);
}

bool SubmitCliResult(const CliResult& result)
{
    return Submit(CliItem{std::string(), false, -1, 0}, nullptr, &result);
}

bool DrainCliBatch()
{
    if (g_batch.jobs == 1)
        return CliBatchStop() == CLI_GOING;
    LockCliBatch();
    bool going = PrintUntil(false);
    UnlockCliBatch();
    return going;
}

void StopCliBatch(int why)
{
    LockCliBatch();
    if (g_batch.stop == CLI_GOING)
        g_batch.stop = why;
    WakeWhoMayGo();
    UnlockCliBatch();
}

int CliBatchStop()
{
    LockCliBatch();
    int stop = g_batch.stop;
    UnlockCliBatch();
    return stop;
}

bool EndCliBatch()
{
    Batch& b = g_batch;
    if (b.jobs == 1)
        return CliBatchStop() == CLI_GOING;
    LockCliBatch();
    bool finished = PrintUntil(false);
    b.ending = true;
    WakeWhoMayGo();
    UnlockCliBatch();
    if (finished)
        JoinCliThreads(); // stopped: probers may be deep in a file, and the process ends without them
    return finished;
}

CliWatch StartCliWatch()
{
    return {CliMicroseconds(), GetCliThreadUse()};
}

void NoteCliFolderRead(const CliWatch& watch)
{
    Wait wait = WaitedForDevice(watch);
    if (wait == NO_WAIT)
        return;
    LockCliBatch();
    CountWait(wait);
    g_batch.sure += wait == SURELY_WAITED ? SURE_WAITS : 0; // the device is the walk's first
    UnlockCliBatch();
}

bool CliBatchWaiterMayGo(int condition)
{
    if (condition == CLI_RESULT_READY)
        return g_batch.submitterWaits && SubmitterMayGo();
    return ProberMayGo();
}

uint64_t CliBatchSubmitted()
{
    return g_batch.submitted; // written by the submitting thread alone
}

uint64_t CliBatchPrinted()
{
    return g_batch.printed; // written by the submitting thread alone
}
