// The batch and the walk over the fake platform: random trees walked with probes that finish out
// of order on purpose, the bounded window, a stop midway, trees deeper than a path can be long,
// trees that change while they are walked, and every schedule of small batches explored.
#include "cli_batch.h"
#include "cli_text.h"
#include "cli_walk.h"
#include "fake_cli_platform.h"
#include "schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

namespace {

// What a batch printed, in order: "O " before standard output, "E " before standard error.
struct Transcript {
    std::string text;
    int status = 0;
};

// A probe of a path takes the time this gives it (microseconds): a few take long, so later ones
// finish first. Under a schedule the time is the scheduler's: a probe that waits lets others go.
std::function<int(const std::string&)> g_delayMicroseconds = [](const std::string&) { return 0; };
std::atomic<uint64_t> g_probed{0}, g_printed{0};
std::atomic<bool> g_windowBroken{false};
size_t g_window;

void FakeReport(void*, const CliItem& item, const char* unprobed, CliResult* result)
{
    const std::string& path = item.path;
    if (g_window && ++g_probed > g_printed + g_window)
        g_windowBroken = true;
    int delay = g_delayMicroseconds(path);
    if (Scheduling()) {
        if (delay > 0)
            ScheduledPause("probe-waits", static_cast<uint64_t>(delay));
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    }
    bool known = g_fakeTree.count(path) != 0;
    if (known && !unprobed)
        result->out = path + "\n";
    else
        result->err = "missing " + path + (unprobed ? unprobed : "\n");
    result->failed = !known || unprobed;
}

bool FakePrint(void* context, const CliResult* result)
{
    Transcript* transcript = static_cast<Transcript*>(context);
    transcript->text += (result->out.empty() ? "" : "O " + result->out) + (result->err.empty() ? "" : "E " + result->err);
    transcript->status |= result->failed;
    ++g_printed;
    return true;
}

void NoTick(void*) {}

// What a batch over `arguments` printed; `oneFileSystem` as -x.
Transcript Batch(int jobs, bool recursive, const std::vector<std::string>& arguments, size_t window = 0,
                 bool oneFileSystem = false)
{
    Transcript transcript;
    CliBatchCalls calls = {FakeReport, FakePrint, NoTick, NoTick, &transcript};
    g_probed = g_printed = 0;
    g_window = window;
    StartCliBatch(jobs, &calls, window);
    CliWalk walk = {recursive, oneFileSystem, true, std::string(), {}};
    for (const std::string& argument : arguments)
        SubmitCliArgument(&walk, argument.c_str(), true);
    if (walk.going)
        EndCliBatch();
    FinishCliWalk(&walk);
    return transcript;
}

// The walk as it is meant to be, written out recursively: `ancestors` are the folders being walked.
void ExpectWalk(const std::string& folder, bool oneFileSystem, uint64_t volume,
                std::vector<std::pair<const std::string*, uint64_t>>* ancestors, std::string* text)
{
    const FakeNode& node = g_fakeTree.at(folder);
    uint64_t id = FakeId(folder).file;
    for (auto [ancestor, ancestorId] : *ancestors) {
        if (ancestorId == id) {
            *text += "E qvr: " + folder + ": not walked: a loop in the file system leads back to " + *ancestor + "\n";
            return;
        }
    }
    if (node.unreadable || folder.size() >= FAKE_PATH_LIMIT) {
        *text += "E qvr: " + folder + ": cannot read the folder: " +
                 (folder.size() >= FAKE_PATH_LIMIT ? "the path is too long" : "Permission denied") + "\n";
        return;
    }
    ancestors->push_back({&folder, id});
    std::vector<FakeEntry> entries = node.entries;
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return CompareCliNames(a.name.c_str(), b.name.c_str()) < 0; });
    for (const FakeEntry& entry : entries) {
        std::string path = folder + "/" + entry.name;
        const FakeNode& child = g_fakeTree.at(path);
        bool across = oneFileSystem && FakeId(path).volume != volume;
        if (entry.folder && !child.swapped && !across && path.size() < FAKE_PATH_LIMIT)
            ExpectWalk(path, oneFileSystem, volume, ancestors, text);
        else if (entry.folder && !child.swapped && !across)
            *text += "E qvr: " + path + ": cannot read the folder: the path is too long\n";
        else if (path.size() >= FAKE_PATH_LIMIT)
            *text += "E missing " + path + ": no such file (the path is too long)\n";
        else
            *text += "O " + path + "\n";
    }
    ancestors->pop_back();
}

std::string Expected(bool recursive, const std::vector<std::string>& arguments, bool oneFileSystem = false)
{
    std::string text;
    for (const std::string& argument : arguments) {
        auto found = g_fakeTree.find(argument);
        std::vector<std::pair<const std::string*, uint64_t>> ancestors;
        if (recursive && found != g_fakeTree.end() && found->second.folder)
            ExpectWalk(argument, oneFileSystem, FakeId(argument).volume, &ancestors, &text);
        else if (found != g_fakeTree.end())
            text += "O " + argument + "\n";
        else
            text += "E missing " + argument + "\n";
    }
    return text;
}

// A fake file system of `count` files, "f0" on, and their names as arguments.
std::vector<std::string> FlatFiles(int count)
{
    g_fakeTree.clear();
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back("f" + std::to_string(i));
        g_fakeTree[arguments.back()] = FakeNode{};
    }
    return arguments;
}

FakeNode Folder(std::vector<FakeEntry> entries, bool unreadable = false)
{
    return FakeNode{true, unreadable, std::move(entries), 0, false, ""};
}

// A random tree under `folder`: files, folders (some empty, some unreadable) and links to folders,
// which the walk must take as entries. Names share prefixes and differ in case, so that the
// order matters.
void GrowTree(std::mt19937* random, const std::string& folder, int depth, std::vector<std::string>* all)
{
    static const char* const names[] = {"a", "A", "a.png", "b", "B.jpg", "_x", "x_", "ab", "aB", "\xC3\xA9", "\xE6\x97\xA5.gif", "z9", "Z10"};
    g_fakeTree[folder] = Folder({}, (*random)() % 13 == 0);
    std::vector<std::string> chosen(std::begin(names), std::end(names));
    std::shuffle(chosen.begin(), chosen.end(), *random);
    chosen.resize((*random)() % 8);
    for (const std::string& name : chosen) {
        std::string path = folder + "/" + name;
        int kind = depth < 4 ? static_cast<int>((*random)() % 6) : 0;
        g_fakeTree[folder].entries.push_back({name, kind == 1 || kind == 2});
        all->push_back(path);
        if (kind == 1 || kind == 2)
            GrowTree(random, path, depth + 1, all);
        else
            g_fakeTree[path] = FakeNode{kind == 3, false, {}, 0, false, ""}; // kind 3: a link to a folder, an entry
    }
}

TEST(Batch, RandomTreesGiveTheSameOutputAtEveryJobCount)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        g_fakeTree.clear();
        std::vector<std::string> all;
        GrowTree(&random, "root", 0, &all);
        all.push_back("root");
        std::vector<std::string> arguments;
        for (int i = static_cast<int>(random() % 6); i >= 0; --i)
            arguments.push_back(random() % 7 == 0 ? "gone" + std::to_string(i) : all[random() % all.size()]);
        // About one probe in five takes up to 3 ms, at places that differ from round to round.
        unsigned salt = random();
        g_delayMicroseconds = [salt](const std::string& path) {
            size_t hash = std::hash<std::string>()(path) ^ salt;
            return hash % 5 == 0 ? static_cast<int>(hash % 3000) : 0;
        };
        for (bool recursive : {true, false}) {
            std::string expected = Expected(recursive, arguments);
            for (int jobs : {1, 3, 16, 64}) {
                Transcript got = Batch(jobs, recursive, arguments);
                ASSERT_EQ(got.text, expected) << "jobs " << jobs << (recursive ? ", recursive" : "");
                EXPECT_EQ(got.status, expected.find("E ") != std::string::npos);
            }
        }
    }
    g_delayMicroseconds = [](const std::string&) { return 0; };
}

// While the first path is held up, the others are probed only as far as the window reaches, and
// the paths after it wait to be submitted: the memory a batch takes does not grow with its size.
TEST(Batch, ResultsWaitInAWindowOfFixedSize)
{
    std::vector<std::string> arguments = FlatFiles(5000);
    std::mutex held;
    held.lock();
    std::atomic<int> probed{0};
    g_delayMicroseconds = [&](const std::string& path) {
        if (path == "f0") {
            held.lock();
            held.unlock();
        }
        ++probed;
        return 0;
    };
    Transcript got;
    std::thread batch([&] { got = Batch(8, false, arguments); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int waiting = probed;
    held.unlock();
    batch.join();
    g_delayMicroseconds = [](const std::string&) { return 0; };
    EXPECT_GE(waiting, 60); // the other probers went on
    EXPECT_LE(waiting, 64); // ... but no further than the window of 8 per job
    EXPECT_EQ(got.text, Expected(false, arguments));
}

// Probes deep in long files hold up nothing but themselves: the result before them is printed while
// they go on, though every prober is busy and paths still wait (they wait for it, ten seconds at
// most; printing tells no one, so they look again now and then).
TEST(Batch, LongProbesHoldUpNothingButThemselves)
{
    std::vector<std::string> arguments = FlatFiles(4);
    std::atomic<int> waited{0};
    g_delayMicroseconds = [&](const std::string& path) {
        for (int tenth = 0; (path == "f1" || path == "f2") && tenth < 1000; ++tenth) {
            if (g_printed >= 1) {
                ++waited;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return path == "f0" ? 50000 : 0; // done once everything is submitted
    };
    EXPECT_EQ(Batch(2, false, arguments).text, Expected(false, arguments));
    EXPECT_EQ(waited, 2);
    g_delayMicroseconds = [](const std::string&) { return 0; };
}

// A chain of folders deeper than a path can be long: the walk takes no stack per level, every
// file short enough is probed, a longer one is reported as missing, and the first folder too long
// to read is reported in its turn.
TEST(Batch, TreesDeeperThanAPathCanBeLong)
{
    g_fakeTree.clear();
    std::string folder = "d";
    for (int depth = 0; depth < 3000; ++depth) {
        std::string next = folder + "/d";
        g_fakeTree[folder] = Folder({{"d", true}, {"f.png", false}, {"looong-name.png", false}});
        g_fakeTree[folder + "/f.png"] = FakeNode{};
        g_fakeTree[folder + "/looong-name.png"] = FakeNode{};
        folder = next;
    }
    g_fakeTree[folder] = Folder({});
    std::string expected = Expected(true, {"d"});
    for (int jobs : {1, 16})
        EXPECT_EQ(Batch(jobs, true, {"d"}).text, expected);
    EXPECT_NE(expected.find("cannot read the folder: the path is too long"), std::string::npos);
    EXPECT_NE(expected.find("no such file (the path is too long)"), std::string::npos);
}

// The walk stays inside its tree and on what it listed: a folder swapped for a link between its
// listing and its turn is an entry, a folder that is one of the folders being walked (a file
// system that presents a loop) gets one message, and with -x a folder on another file system is
// an entry. The walk holds a few handles only, however many trees it walks, and lets go of all.
TEST(Walk, StaysInsideTheTreeItListed)
{
    g_fakeTree.clear();
    g_fakeTree["t"] = Folder({{"a", true}, {"swapped", true}, {"mnt", true}, {"x.png", false}});
    g_fakeTree["t/a"] = Folder({{"loop", true}, {"y.png", false}});
    g_fakeTree["t/a/loop"] = FakeNode{true, false, {{"never.png", false}}, 0, false, "t"};
    g_fakeTree["t/a/loop/never.png"] = FakeNode{};
    g_fakeTree["t/a/y.png"] = FakeNode{};
    g_fakeTree["t/swapped"] = FakeNode{true, false, {{"outside.png", false}}, 0, true, ""};
    g_fakeTree["t/swapped/outside.png"] = FakeNode{};
    g_fakeTree["t/mnt"] = FakeNode{true, false, {{"z.png", false}}, 2, false, ""};
    g_fakeTree["t/mnt/z.png"] = FakeNode{};
    g_fakeTree["t/x.png"] = FakeNode{};
    const struct {
        bool oneFileSystem;
        const char* expected;
    } cases[] = {
        {false, "E qvr: t/a/loop: not walked: a loop in the file system leads back to t\n"
                "O t/a/y.png\nO t/mnt/z.png\nO t/swapped\nO t/x.png\n"},
        {true, "E qvr: t/a/loop: not walked: a loop in the file system leads back to t\n"
               "O t/a/y.png\nO t/mnt\nO t/swapped\nO t/x.png\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Expected(true, {"t"}, c.oneFileSystem), c.expected); // the reference walk agrees
        for (int jobs : {1, 4}) {
            EXPECT_EQ(Batch(jobs, true, {"t"}, 0, c.oneFileSystem).text, c.expected)
                << "jobs " << jobs << (c.oneFileSystem ? ", -x" : "");
        }
    }
    // Forty trees in a row: each tree's handle is kept until its items are printed.
    std::vector<std::string> trees;
    for (int i = 0; i < 40; ++i) {
        trees.push_back("tree" + std::to_string(i));
        g_fakeTree[trees.back()] = Folder({{"f.png", false}});
        g_fakeTree[trees.back() + "/f.png"] = FakeNode{};
    }
    g_fakeMostHandles = 0;
    EXPECT_EQ(Batch(8, true, trees).text, Expected(true, trees));
    EXPECT_LE(g_fakeMostHandles, CLI_WALK_HANDLES);
    EXPECT_EQ(g_fakeOpenHandles, 0);
}

// A reparse point is walked as a folder unless it stands for another name, or its tag is unknown.
// Tags as documented.
TEST(Walk, ReparsePointsThatStandForAnotherNameAreEntries)
{
    const struct {
        uint32_t tag;
        bool walked;
    } tags[] = {
        {0, false},                                                       // not given (Wine's links)
        {0xA0000003, false}, {0xA000000C, false}, {0xA000001D, false},    // mount point, symbolic link, WSL link
        {0xA0000027, false},                                              // container link
        {0x9000001A, true}, {0x9000101A, true}, {0x9000F01A, true},       // cloud files
        {0x80000013, true}, {0x80000018, true}, {0x8000001B, true},       // dedup, container file, app exec link
        {0x80000017, true}, {0x8000000A, true},                           // WOF, DFS
    };
    for (const auto& t : tags)
        EXPECT_EQ(WalksCliReparsePoint(t.tag), t.walked) << std::hex << t.tag;
}

TEST(Walk, PathsJoinWithOneSeparator)
{
    for (auto [folder, name, joined] : {std::tuple{"a", "b", "a/b"}, {"a/", "b", "a/b"}, {"/", "b", "/b"}, {"a:", "b", "a:/b"}})
        EXPECT_EQ(JoinCliPath(folder, name), joined);
}

// Small batches under every schedule, bounded to two preemptions: every run ends, prints each item
// once and in order, and never probes further ahead than its window. Trees mix files, slow files
// (a probe that waits for the device, during which others go on) and unreadable folders. A stop
// (Ctrl+C, a closed output) at any point still ends the run, every prober with it, and what was
// printed is a beginning of the whole.
struct Scenario {
    const char* name;
    int jobs;
    size_t window;
    std::vector<std::string> arguments;
    int preemptions;
    bool stop = false;
};

void SmallTrees()
{
    g_fakeTree.clear();
    g_fakeTree["r"] = Folder({{"a.png", false}, {"zz", true}, {"b", true}});
    g_fakeTree["r/a.png"] = FakeNode{};
    g_fakeTree["r/zz"] = Folder({{"hidden", false}}, true);
    g_fakeTree["r/b"] = Folder({{"slow.png", false}, {"c.png", false}, {"no", true}});
    g_fakeTree["r/b/slow.png"] = FakeNode{};
    g_fakeTree["r/b/c.png"] = FakeNode{};
    g_fakeTree["r/b/no"] = Folder({}, true);
    for (const char* file : {"slow1", "f2", "slow3", "f4"})
        g_fakeTree[file] = FakeNode{};
    g_delayMicroseconds = [](const std::string& path) { return path.find("slow") != std::string::npos ? 200 : 0; };
}

std::string CheckRun(const Transcript& transcript, const std::string& expected, bool stopped)
{
    if (g_windowBroken)
        return "a probe ran further ahead than the window";
    if (transcript.text != expected.substr(0, stopped ? transcript.text.size() : std::string::npos))
        return "printed:\n" + transcript.text + "expected" + (stopped ? " a beginning of" : "") + ":\n" + expected;
    return std::string();
}

TEST(Schedules, EverySmallBatchEndsInOrderWithinItsWindow)
{
    SmallTrees();
    CheckScheduledSleepers(CliBatchWaiterMayGo);
    const Scenario scenarios[] = {
        {"two probers, window 1", 2, 1, {"r"}, 2},
        {"two probers, window 2", 2, 2, {"r"}, 2},
        {"two probers, window 4, messages first", 2, 4, {"r/zz", "r/b", "f2"}, 2},
        {"three probers, window 3", 3, 3, {"slow1", "r"}, 1},
        {"three probers, window 4, files", 3, 4, {"slow1", "f2", "slow3", "f4", "gone"}, 1},
        {"two probers, window 2, a stop anywhere", 2, 2, {"slow1", "r"}, 1, true},
    };
    for (const Scenario& scenario : scenarios) {
        std::string expected = Expected(true, scenario.arguments);
        Transcript transcript;
        Exploration explored = ExploreSchedules(
            scenario.preemptions, 2000000,
            [&] {
                g_windowBroken = false;
                if (scenario.stop)
                    ScheduledStart([](void*) { StopCliBatch(CLI_INTERRUPTED); }, nullptr);
                transcript = Batch(scenario.jobs, true, scenario.arguments, scenario.window);
            },
            [&] { return CheckRun(transcript, expected, scenario.stop); });
        EXPECT_EQ(explored.failure, "") << scenario.name;
        EXPECT_TRUE(explored.complete) << scenario.name << ": " << explored.schedules << " schedules";
        EXPECT_GT(explored.schedules, 50u) << scenario.name; // the exploration does explore
    }
    g_delayMicroseconds = [](const std::string&) { return 0; };
}

// The probers follow what probes wait for, not the submissions: a batch that fits in its window is
// submitted whole before any probe ends, and still reaches its job count when probes wait for the
// device, or as soon as the walk waited for it reading a folder; probes served from memory keep two
// probers.
TEST(Schedules, ProbersGrowWhileProbesWaitForTheDevice)
{
    std::vector<std::string> files = FlatFiles(100);
    g_fakeTree["slow"] = Folder({});
    g_fakeTree["slow"].slow = true;
    for (const std::string& file : files) {
        g_fakeTree["slow"].entries.push_back({file, false});
        g_fakeTree["slow/" + file] = FakeNode{};
    }
    const struct {
        int delay;
        std::vector<std::string> arguments;
        int probers;
    } cases[] = {{200000, files, 8}, {0, files, 2}, {0, {"slow"}, 8}};
    for (const auto& c : cases) {
        g_delayMicroseconds = [&c](const std::string&) { return c.delay; };
        Transcript transcript;
        Exploration explored = ExploreSchedules(
            0, 1,
            [&] { transcript = Batch(8, true, c.arguments, 128); },
            [&] { return std::string(); });
        EXPECT_EQ(explored.failure, "");
        EXPECT_EQ(transcript.text, Expected(true, c.arguments));
        EXPECT_EQ(CountScheduledThreads() - 1, c.probers) << "probes of " << c.delay << " us, " << c.arguments[0];
    }
    g_delayMicroseconds = [](const std::string&) { return 0; };
}

} // namespace
