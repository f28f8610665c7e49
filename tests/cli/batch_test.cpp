// The batch and the walk over the fake platform: random trees walked with probes that finish out
// of order on purpose, the bounded window, a stop midway, trees deeper than a path can be long.
#include "cli_batch.h"
#include "cli_text.h"
#include "cli_walk.h"
#include "fake_cli_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A probe of a path takes the time this gives it: a few take long, so later ones finish first.
std::function<int(const std::string&)> g_delayMicroseconds = [](const std::string&) { return 0; };

void FakeReport(void*, const CliItem& item, const char* unprobed, CliResult* result)
{
    const std::string& path = item.path;
    std::this_thread::sleep_for(std::chrono::microseconds(g_delayMicroseconds(path)));
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
    return true;
}

void NoTick(void*) {}

Transcript RunBatch(int jobs, bool recursive, const std::vector<std::string>& arguments)
{
    Transcript transcript;
    CliBatchCalls calls = {FakeReport, FakePrint, NoTick, &transcript};
    StartCliBatch(jobs, &calls);
    CliWalk walk = {recursive, true, std::string()};
    for (const std::string& argument : arguments)
        SubmitCliArgument(&walk, argument.c_str(), true);
    EXPECT_TRUE(walk.going && EndCliBatch());
    return transcript;
}

// The walk as it is meant to be, written out recursively.
void ExpectWalk(const std::string& folder, std::string* text)
{
    const FakeNode& node = g_fakeTree.at(folder);
    if (node.unreadable || folder.size() >= FAKE_PATH_LIMIT) {
        *text += "E qvr: " + folder + ": cannot read the folder: " +
                 (node.unreadable ? "Permission denied" : "the path is too long") + "\n";
        return;
    }
    std::vector<CliFolderEntry> entries = node.entries;
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return CompareCliNames(a.name.c_str(), b.name.c_str()) < 0; });
    for (const CliFolderEntry& entry : entries) {
        std::string path = folder + "/" + entry.name;
        if (entry.descend)
            ExpectWalk(path, text);
        else if (path.size() >= FAKE_PATH_LIMIT)
            *text += "E missing " + path + ": no such file (the path is too long)\n";
        else
            *text += "O " + path + "\n";
    }
}

std::string Expected(bool recursive, const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& argument : arguments) {
        auto found = g_fakeTree.find(argument);
        if (recursive && found != g_fakeTree.end() && found->second.folder)
            ExpectWalk(argument, &text);
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
        g_fakeTree[arguments.back()] = {false, false, {}};
    }
    return arguments;
}

// A random tree under `folder`: files, folders (some empty, some unreadable) and links to folders,
// which the walk must take as entries. Names share prefixes and differ in case, so that the
// order matters.
void GrowTree(std::mt19937* random, const std::string& folder, int depth, std::vector<std::string>* all)
{
    static const char* const names[] = {"a", "A", "a.png", "b", "B.jpg", "_x", "x_", "ab", "aB", "\xC3\xA9", "\xE6\x97\xA5.gif", "z9", "Z10"};
    FakeNode& node = g_fakeTree[folder];
    node.folder = true;
    node.unreadable = (*random)() % 13 == 0;
    std::vector<std::string> chosen(std::begin(names), std::end(names));
    std::shuffle(chosen.begin(), chosen.end(), *random);
    chosen.resize((*random)() % 8);
    for (const std::string& name : chosen) {
        std::string path = folder + "/" + name;
        int kind = depth < 4 ? static_cast<int>((*random)() % 6) : 0;
        node.entries.push_back({name, kind == 1 || kind == 2});
        all->push_back(path);
        if (kind == 1 || kind == 2)
            GrowTree(random, path, depth + 1, all);
        else
            g_fakeTree[path] = {kind == 3, false, {}}; // kind 3: a link to a folder, taken as an entry
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
                Transcript got = RunBatch(jobs, recursive, arguments);
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
    std::thread batch([&] { got = RunBatch(8, false, arguments); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int waiting = probed;
    held.unlock();
    batch.join();
    g_delayMicroseconds = [](const std::string&) { return 0; };
    EXPECT_GE(waiting, 60); // the other probers went on
    EXPECT_LE(waiting, 64); // ... but no further than the window of 8 per job
    EXPECT_EQ(got.text, Expected(false, arguments));
}

// An interrupt stops the batch between results: what was printed is a beginning of the whole.
TEST(Batch, AnInterruptStopsOnAWholeResult)
{
    std::vector<std::string> arguments = FlatFiles(3000);
    std::string whole = Expected(false, arguments);
    for (int jobs : {1, 16}) {
        Transcript transcript;
        CliBatchCalls calls = {FakeReport, [](void* context, const CliResult* result) {
                                   FakePrint(context, result);
                                   if (static_cast<Transcript*>(context)->text.size() > 2000)
                                       g_fakeInterrupted = true;
                                   return true;
                               }, NoTick, &transcript};
        StartCliBatch(jobs, &calls);
        CliWalk walk = {false, true, std::string()};
        for (const std::string& argument : arguments)
            SubmitCliArgument(&walk, argument.c_str(), true);
        bool finished = walk.going;
        finished = EndCliBatch() && finished; // lets the probers go, but waits for nothing
        EXPECT_FALSE(finished) << "jobs " << jobs;
        g_fakeInterrupted = false;
        JoinCliThreads();
        EXPECT_LT(transcript.text.size(), whole.size() / 4) << "jobs " << jobs;
        EXPECT_EQ(transcript.text, whole.substr(0, transcript.text.size())) << "jobs " << jobs;
        EXPECT_EQ(transcript.text.back(), '\n');
    }
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
        g_fakeTree[folder] = {true, false, {{"d", true}, {"f.png", false}, {"looong-name.png", false}}};
        g_fakeTree[folder + "/f.png"] = {false, false, {}};
        g_fakeTree[folder + "/looong-name.png"] = {false, false, {}};
        folder = next;
    }
    g_fakeTree[folder] = {true, false, {}};
    std::string expected = Expected(true, {"d"});
    for (int jobs : {1, 16})
        EXPECT_EQ(RunBatch(jobs, true, {"d"}).text, expected);
    EXPECT_NE(expected.find("cannot read the folder: the path is too long"), std::string::npos);
    EXPECT_NE(expected.find("no such file (the path is too long)"), std::string::npos);
}

TEST(Walk, PathsJoinWithOneSeparator)
{
    for (auto [folder, name, joined] : {std::tuple{"a", "b", "a/b"}, {"a/", "b", "a/b"}, {"/", "b", "/b"}, {"a:", "b", "a:/b"}})
        EXPECT_EQ(JoinCliPath(folder, name), joined);
}

} // namespace
