// The threads of a run are coroutines on the exploring thread (ucontext): only one ever runs, and
// handing the turn on is a switch of stacks, cheap enough to run a schedule in microseconds.
#include "schedule.h"

#include <memory>
#include <ucontext.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

enum {
    STEP_LIMIT = 20000,      // turns in one run: more is a livelock
    STACK_SIZE = 256 * 1024, // a prober's stack
};

struct SimThread {
    enum State { RUNNABLE, WANTS_LOCK, WAITING, JOINING, FINISHED };
    int id = 0;
    State state = RUNNABLE;
    int condition = -1;        // WAITING: what for; WANTS_LOCK after a wake: what it was woken from
    uint64_t deviceWaits = 0;  // pauses that waited for the device
    uint64_t offProcessor = 0; // microseconds of them
    ucontext_t context;
    std::unique_ptr<char[]> stack;     // none for the exploring thread
    const void* stackBottom = nullptr; // for AddressSanitizer
    size_t stackSize = 0;
    void (*run)(void* context) = nullptr;
    void* argument = nullptr;
};

// A point where more than one thread could go on: which ones, and which one went.
struct Choice {
    std::vector<int> options;
    size_t taken;
};

// Thrown out of a turn when a run is abandoned: every thread of the run unwinds and ends.
struct Abandoned {};

std::vector<std::unique_ptr<SimThread>> g_threads;
SimThread* g_self; // the thread whose turn it is
bool g_active;
std::vector<Choice> g_path; // the schedule: replayed up to its end, extended beyond it
bool g_tracing;

// The state of one run.
struct Run {
    bool abandoning = false;
    bool unwinding = false; // the exploring thread has unwound: the others do, one after the other
    int lockOwner = -1;
    int bound = 0, preemptions = 0;
    size_t depth = 0; // choices of g_path taken
    size_t steps = 0;
    uint64_t clock = 1000000;
    std::string trace;   // the turns of this run, kept when a failing schedule is run again
    std::string failure; // why this run was abandoned
} g_run;
int g_lastThreads;
bool (*g_mayGo)(int condition);

void Trace(const char* what)
{
    if (g_tracing)
        g_run.trace += std::to_string(g_self->id) + ":" + what + " ";
}

bool AllOthersFinished(const SimThread* self)
{
    for (const auto& thread : g_threads) {
        if (thread.get() != self && thread->state != SimThread::FINISHED)
            return false;
    }
    return true;
}

bool CanRun(const SimThread* thread)
{
    switch (thread->state) {
    case SimThread::RUNNABLE:
        return true;
    case SimThread::WANTS_LOCK:
        return g_run.lockOwner < 0;
    case SimThread::JOINING:
        return AllOthersFinished(thread);
    default:
        return false;
    }
}

// Takes the next choice of the schedule, or makes a new one (its first option).
int Choose(const std::vector<int>& options)
{
    if (options.size() == 1)
        return options[0];
    if (g_run.depth == g_path.size())
        g_path.push_back({options, 0});
    Choice& choice = g_path[g_run.depth++];
    if (choice.options != options) { // the run went otherwise than the schedule: a fault of the scheduler
        g_run.failure = "the schedule does not replay";
        return options[0];
    }
    return choice.options[choice.taken];
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer is told of every switch of stacks; the exploring thread's own stack is learnt
// when it first leaves it.
void FinishSwitch(void* fakeStack)
{
    const void* fromBottom;
    size_t fromSize;
    __sanitizer_finish_switch_fiber(fakeStack, &fromBottom, &fromSize);
    if (!g_threads[0]->stackBottom)
        g_threads[0]->stackBottom = fromBottom, g_threads[0]->stackSize = fromSize;
}
#endif

// Hands the processor to `next`; returns when some thread hands it back.
void SwitchTo(SimThread* next)
{
    SimThread* self = g_self;
    g_self = next;
#if defined(__SANITIZE_ADDRESS__)
    void* fakeStack = nullptr;
    __sanitizer_start_switch_fiber(self->state == SimThread::FINISHED ? nullptr : &fakeStack, next->stackBottom,
                                   next->stackSize);
    swapcontext(&self->context, &next->context);
    FinishSwitch(fakeStack);
#else
    swapcontext(&self->context, &next->context);
#endif
}

[[noreturn]] void Abandon(const std::string& why)
{
    if (g_run.failure.empty())
        g_run.failure = why;
    g_run.abandoning = true;
    if (!g_run.unwinding && g_self != g_threads[0].get())
        SwitchTo(g_threads[0].get()); // the exploring thread unwinds first, then each of the others
    throw Abandoned();
}

// The thread whose turn comes next, after the calling one has set its state; null when it is the
// last thread of the run. Nothing of it stays on the stack: a thread that has ended never returns
// from handing on its turn.
SimThread* PickNext(const char* what)
{
    SimThread* self = g_self;
    if (g_run.abandoning)
        Abandon(g_run.failure);
    g_run.clock += 1;
    Trace(what);
    std::vector<int> options;
    bool selfCanRun = CanRun(self);
    if (selfCanRun)
        options.push_back(self->id);
    if (!selfCanRun || g_run.preemptions < g_run.bound) {
        for (const auto& thread : g_threads) {
            if (thread.get() != self && CanRun(thread.get()))
                options.push_back(thread->id);
        }
    }
    if (options.empty()) {
        if (self->state == SimThread::FINISHED && AllOthersFinished(self))
            return nullptr; // the last thread of the run
        Abandon("deadlock: no thread can go on");
    }
    if (++g_run.steps > STEP_LIMIT)
        Abandon("livelock: no end after " + std::to_string(STEP_LIMIT) + " turns");
    int next = Choose(options);
    if (selfCanRun && next != self->id)
        ++g_run.preemptions;
    SimThread* chosen = g_threads[static_cast<size_t>(next)].get();
    if (chosen->state == SimThread::WANTS_LOCK)
        g_run.lockOwner = next;
    if (chosen->state != SimThread::FINISHED) {
        chosen->state = SimThread::RUNNABLE;
        chosen->condition = -1;
    }
    return chosen;
}

// The calling thread has set its state; hands the turn to the thread the schedule picks and waits
// until its own turn comes again.
void Switch(const char* what)
{
    SimThread* next = PickNext(what);
    if (next && next != g_self)
        SwitchTo(next);
    if (g_run.abandoning)
        Abandon(g_run.failure);
}

// With the lock just let go: a condition whose waiters may go on has one of them woken.
void CheckSleepers()
{
    if (!g_mayGo || !g_run.failure.empty())
        return;
    for (int condition = 0; condition < 2; ++condition) {
        bool asleep = false, woken = false;
        for (const auto& thread : g_threads) {
            asleep |= thread->state == SimThread::WAITING && thread->condition == condition;
            woken |= thread->state == SimThread::WANTS_LOCK && thread->condition == condition;
        }
        if (asleep && !woken && g_mayGo(condition))
            g_run.failure = "lost wake-up: a thread waiting on condition " + std::to_string(condition) + " may go on, yet sleeps";
    }
}

SimThread* AddThread()
{
    g_threads.push_back(std::make_unique<SimThread>());
    g_threads.back()->id = static_cast<int>(g_threads.size() - 1);
    return g_threads.back().get();
}

void RunThread()
{
    SimThread* self = g_self;
#if defined(__SANITIZE_ADDRESS__)
    FinishSwitch(nullptr);
#endif
    try {
        if (!g_run.abandoning)
            self->run(self->argument);
    } catch (const Abandoned&) {
    }
    self->state = SimThread::FINISHED;
    if (g_run.lockOwner == self->id && !g_run.abandoning) {
        g_run.lockOwner = -1;
        if (g_run.failure.empty())
            g_run.failure = "a thread ended holding the lock";
    }
    try {
        if (!g_run.abandoning)
            Switch("end");
    } catch (const Abandoned&) {
    }
    SwitchTo(g_threads[0].get()); // never resumed: the thread is over
}

// One run under the schedule in g_path; false when it was abandoned.
bool RunOnce(int preemptions, const std::function<void()>& scenario)
{
    g_threads.clear();
    g_active = true;
    g_run = Run();
    g_run.bound = preemptions;
    g_self = AddThread();
    bool ended = true;
    try {
        scenario();
        ScheduledJoin(); // the run ends when every thread has
    } catch (const Abandoned&) {
        ended = false;
    }
    // Whatever did not end unwinds now, one thread after the other.
    g_run.abandoning = g_run.unwinding = true;
    for (const auto& thread : g_threads) {
        if (thread->state != SimThread::FINISHED)
            SwitchTo(thread.get());
    }
    g_lastThreads = static_cast<int>(g_threads.size());
    g_threads.clear();
    g_active = false;
    g_self = nullptr;
    return ended && g_run.failure.empty();
}

// Moves the schedule on to the next one not yet run; false when none is left.
bool NextSchedule()
{
    g_path.resize(g_run.depth);
    while (!g_path.empty() && g_path.back().taken + 1 == g_path.back().options.size())
        g_path.pop_back();
    if (g_path.empty())
        return false;
    ++g_path.back().taken;
    return true;
}

std::string Schedule()
{
    std::string text;
    for (size_t i = 0; i < g_run.depth && i < g_path.size(); ++i)
        text += std::to_string(g_path[i].options[g_path[i].taken]) + " ";
    return text;
}

} // namespace

Exploration ExploreSchedules(int preemptions, size_t limit, const std::function<void()>& scenario,
                             const std::function<std::string()>& check)
{
    Exploration exploration = {0, false, std::string()};
    g_path.clear();
    for (;;) {
        bool ended = RunOnce(preemptions, scenario);
        ++exploration.schedules;
        std::string wrong = ended ? check() : g_run.failure;
        if (!wrong.empty()) {
            // The same schedule once more, its turns written down.
            std::string schedule = Schedule();
            g_path.resize(g_run.depth);
            g_tracing = true;
            RunOnce(preemptions, scenario);
            g_tracing = false;
            exploration.failure = wrong + "\nschedule (thread per choice): " + schedule + "\nturns: " + g_run.trace;
            return exploration;
        }
        if (!NextSchedule()) {
            exploration.complete = true;
            return exploration;
        }
        if (exploration.schedules == limit)
            return exploration;
    }
}

void CheckScheduledSleepers(bool (*mayGo)(int condition)) { g_mayGo = mayGo; }

int CountScheduledThreads() { return g_lastThreads; }

bool Scheduling() { return g_active; }

void ScheduledLock()
{
    g_self->state = SimThread::WANTS_LOCK;
    g_self->condition = -1;
    Switch("lock");
}

void ScheduledUnlock()
{
    if (g_run.lockOwner != g_self->id)
        Abandon("unlock of a lock not held");
    g_run.lockOwner = -1; // the next turn is taken at the next lock: only what the lock guards is shared
    Trace("unlock");
    CheckSleepers();
}

void ScheduledWait(int condition)
{
    if (g_run.lockOwner != g_self->id)
        Abandon("wait without the lock");
    g_run.lockOwner = -1;
    g_self->state = SimThread::WAITING;
    g_self->condition = condition;
    CheckSleepers();
    Switch(condition == 0 ? "wait-work" : "wait-result");
}

void ScheduledWake(int condition, bool all)
{
    std::vector<int> waiting;
    for (const auto& thread : g_threads) {
        if (thread->state == SimThread::WAITING && thread->condition == condition)
            waiting.push_back(thread->id);
    }
    if (!all && !waiting.empty())
        waiting = {Choose(waiting)}; // any one of them may be the one woken
    for (int id : waiting)
        g_threads[static_cast<size_t>(id)]->state = SimThread::WANTS_LOCK;
    Trace(all ? "wake-all" : "wake");
}

bool ScheduledStart(void (*run)(void* context), void* context)
{
    SimThread* thread = AddThread();
    thread->run = run;
    thread->argument = context;
    thread->stack.reset(new char[STACK_SIZE]);
    thread->stackBottom = thread->stack.get();
    thread->stackSize = STACK_SIZE;
    getcontext(&thread->context);
    thread->context.uc_stack.ss_sp = thread->stack.get();
    thread->context.uc_stack.ss_size = STACK_SIZE;
    thread->context.uc_link = nullptr;
    makecontext(&thread->context, RunThread, 0);
    Trace("start");
    return true;
}

void ScheduledJoin()
{
    g_self->state = SimThread::JOINING;
    Switch("join");
}

void ScheduledPause(const char* what, uint64_t waited)
{
    g_run.clock += waited;
    g_self->deviceWaits += waited > 0;
    g_self->offProcessor += waited;
    g_self->state = SimThread::RUNNABLE;
    Switch(what);
}

uint64_t ScheduledClock() { return g_run.clock; }

uint64_t ScheduledDeviceWaits() { return g_self->deviceWaits; }

uint64_t ScheduledProcessorTime() { return g_run.clock - g_self->offProcessor; }
