// A scheduler that runs the batch's threads one at a time and explores, run after run, every order
// in which they can take their turns: at the lock, at waits, at the end of threads and in the
// middle of probes that wait for the device, which waiter a wake wakes, with a bound on how often
// a thread that could go on is preempted. What the lock guards is all the threads share, so a
// turn taken at each lock stands for every interleaving of what they do in between. A
// schedule in which no thread can go on is a deadlock: the run is abandoned and reported with its
// schedule, never left hanging. The fake platform routes its threads here while one is explored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct Exploration {
    size_t schedules;    // runs made
    bool complete;       // every schedule within the bound was run
    std::string failure; // the first failure, with the schedule that led to it; empty: none
};

// Runs `scenario` on the calling thread under every schedule with at most `preemptions`
// preemptions, up to `limit` runs; after each run `check` says what went wrong ("" for nothing).
Exploration ExploreSchedules(int preemptions, size_t limit, const std::function<void()>& scenario,
                             const std::function<std::string()>& check);

// Asked whenever the lock is let go: whether a thread waiting on `condition` may go on. A run in
// which one may, while every thread waiting on it still sleeps, fails: a wake-up was lost (even if
// a later one would hide it).
void CheckScheduledSleepers(bool (*mayGo)(int condition));

// Threads of the last run, the exploring one included.
int CountScheduledThreads();

// For the fake platform.
bool Scheduling(); // a schedule is being explored
void ScheduledLock();
void ScheduledUnlock();
void ScheduledWait(int condition); // with the lock held
void ScheduledWake(int condition, bool all);
bool ScheduledStart(void (*run)(void* context), void* context);
void ScheduledJoin(); // waits until every other thread has finished
// A turn another thread may take, `waited` microseconds of a probe that waited for the device.
void ScheduledPause(const char* what, uint64_t waited);
uint64_t ScheduledClock();         // microseconds: moves on with every turn and every wait
uint64_t ScheduledDeviceWaits();   // pauses of the calling thread that waited for the device
uint64_t ScheduledProcessorTime(); // the clock less the calling thread's waits for the device
