// qvr's batches as a user meets them on Linux: a stop ends the run at once whatever holds it up, a
// tree that changes under the walk is never left, -x keeps to the file systems given, a file
// system that loops is walked once, and a run out of memory says so and ends on a whole result.
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli_platform.h"
#include "run_qvr.h"
#include "test_files.h"

#include <cstdio>
#include <regex>

namespace {

std::pair<std::string, int> BashIn(const std::filesystem::path& folder, const std::string& script)
{
    return Bash(script, folder.string());
}

void MakeFiles(const TempDir& dir, const std::string& folder, int count)
{
    std::filesystem::create_directories(dir.path / folder);
    for (int i = 0; i < count; ++i)
        dir.Write(folder + "/f" + std::to_string(i) + ".png", Png(2, 3));
}

// A JFIF file of `size` bytes made of small segments: its walk reads every one of them.
void MakeLongJpeg(const TempDir& dir, const std::string& name, size_t size)
{
    std::ofstream file(dir.path / name, std::ios::binary);
    file.write("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    std::string segments;
    for (int i = 0; i < (1 << 20) / 6; ++i)
        segments += std::string("\xFF\xFE\x00\x04", 4) + "ab";
    for (size_t written = 20; written < size; written += segments.size())
        file.write(segments.data(), static_cast<std::streamsize>(segments.size()));
}

// SIGINT, SIGTERM and SIGHUP end a run with status 130 within a fraction of a second, also while
// its output is blocked by a reader that does not read, and while a probe is deep in a long file,
// at any number of jobs. The result in hand is not printed; those before it are not lost.
TEST(QvrStops, AtOnceWhateverHoldsTheRunUp)
{
    TempDir dir;
    MakeFiles(dir, "t", 2000);
    MakeLongJpeg(dir, "long.jpg", size_t(1) << 30);
    const struct {
        const char* what;
        const char* run;     // starts qvr in the background, its pid in $!
        const char* printed; // a result printed before the long probe, which stays in the output
    } holds[] = {
        {"a reader that does not read", "\"$QVR\" -r t > >(sleep 20 >/dev/null) &", ""},
        {"a long probe at -j 1", "\"$QVR\" -j1 --json t/f1.png long.jpg >out &", "\"path\":\"t/f1.png\""},
        {"a long probe at -j 8", "\"$QVR\" -j8 --json t/f2.png long.jpg t >out &", "\"path\":\"t/f2.png\""},
    };
    for (const auto& hold : holds) {
        for (const char* signal : {"INT", "TERM", "HUP"}) {
            auto [shown, status] = BashIn(dir.path, std::string("set -m; rm -f out; ") + hold.run +
                                                 " pid=$!; sleep 1; kill -" + signal + " $pid; start=$(date +%s%N); "
                                                 "wait $pid; echo \"$? $((($(date +%s%N) - start) / 1000000))\"; cat out 2>/dev/null");
            int exitStatus = -1, milliseconds = -1;
            std::sscanf(shown.c_str(), "%d %d", &exitStatus, &milliseconds);
            EXPECT_EQ(exitStatus, 130) << hold.what << ", SIG" << signal << ": " << shown.substr(0, 200);
            EXPECT_LT(milliseconds, 1500) << hold.what << ", SIG" << signal;
            EXPECT_EQ(shown.find("long.jpg\""), std::string::npos) << "the interrupted probe was printed";
            EXPECT_NE(shown.find(hold.printed), std::string::npos) << hold.what << ": a whole result was lost";
        }
    }
}

// A folder swapped for a link while the walk waits to write (its reader reads one line, then waits
// for the swap) is reported as the entry it now is, and nothing beneath the link is walked or read.
TEST(QvrWalk, AFolderSwappedForALinkIsAnEntry)
{
    TempDir dir;
    MakeFiles(dir, "t/a", 3000); // far more than the pipe and the window hold
    MakeFiles(dir, "t/b", 2);
    MakeFiles(dir, "outside", 2);
    std::string command = "cd " + Quoted(dir.path) + " && ASAN_OPTIONS=detect_leaks=0 " QVR_BINARY " -r --json t";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    std::filesystem::rename(dir.path / "t/b", dir.path / "b.real");
    std::filesystem::create_directory_symlink("../outside", dir.path / "t/b");
    std::string rest;
    while (fgets(line, sizeof line, pipe))
        rest += line;
    EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 0);
    EXPECT_EQ(rest.find("\"path\":\"t/b/"), std::string::npos) << "walked through the link";
    EXPECT_NE(rest.find("\"path\":\"t/b\",\"result\":0,\"name\":\"b\",\"typeName\":"), std::string::npos) << rest.substr(rest.size() - 600);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 3000); // t/a/f1.png on, and t/b
}

// With root's right to mount: a file system mounted inside the tree is walked, but with -x it is an
// entry; a folder mounted again beneath itself (a file system that loops) gets one message and is
// walked once. Mounts stay inside the test's own folder.
TEST(QvrWalk, FileSystemsAndLoops)
{
    TempDir dir;
    MakeFiles(dir, "t/a", 1);
    std::filesystem::create_directories(dir.path / "t/mnt");
    std::filesystem::create_directories(dir.path / "t/a/loop");
    std::string mnt = (dir.path / "t/mnt").string(), loop = (dir.path / "t/a/loop").string();
    if (mount("qvr-test", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount here (not root?)";
    dir.Write("t/mnt/m.png", Png(1, 1));
    bool looped = mount((dir.path / "t").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) == 0;
    const struct {
        const char* options;
        const char* out;
    } cases[] = {
        {"-r", "t/a/f0.png\nt/mnt/m.png\n"},
        {"-r -x", "t/a/f0.png\nt/mnt\n"},
        {"-r --one-file-system -j1", "t/a/f0.png\nt/mnt\n"},
    };
    for (const auto& c : cases) {
        auto [shown, status] = BashIn(dir.path, std::string("\"$QVR\" --json ") + c.options + " t 2>err | grep -o '\"path\":\"[^\"]*' | cut -c9-; cat err");
        std::string err = looped ? "qvr: t/a/loop: not walked: a loop in the file system leads back to t\n" : "";
        EXPECT_EQ(shown, c.out + err) << c.options;
    }
    if (looped)
        umount(loop.c_str());
    umount(mnt.c_str());
}

// The platform's opening of a listed folder: through no link anywhere below the tree, and only the
// very folder that was listed. Each row changes the tree after it was listed.
TEST(QvrWalk, AListedFolderOpensOnlyAsListed)
{
    const struct {
        const char* change;
        int opened;
    } rows[] = {
        {"", CLI_OPENED},
        {"mv t/a/b t/a/b.real && ln -s b.real t/a/b", CLI_NOT_A_FOLDER},     // the folder itself a link
        {"mv t/a t/a.real && ln -s a.real t/a", CLI_NOT_A_FOLDER},           // a link above it, to the same folder
        {"mv t/a/b t/a/b.old && mkdir t/a/b", CLI_NOT_A_FOLDER},             // another folder in its place
        {"rm -r t/a/b && touch t/a/b", CLI_NOT_A_FOLDER},                     // a file in its place
        {"mv t/a/b t/a/b.old", CLI_UNREADABLE},                               // gone
        {"chmod 0 t/a/b", geteuid() == 0 ? CLI_OPENED : CLI_UNREADABLE},      // not to be read
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::filesystem::create_directories(dir.path / "t/a/b");
        CliFolder tree;
        std::string reason;
        std::string root = (dir.path / "t").string();
        ASSERT_EQ(OpenCliTree(root.c_str(), false, &tree, &reason), CLI_OPENED);
        CliFolder folder;
        ASSERT_EQ(OpenCliFolder(&tree, root.c_str(), root.size(), nullptr, &folder, &reason), CLI_OPENED);
        CliFolderList list;
        ASSERT_TRUE(ReadCliFolder(&folder, &list, &reason));
        struct stat status;
        ASSERT_EQ(stat((dir.path / "t/a/b").c_str(), &status), 0);
        CliFolderId listed = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
        ASSERT_EQ(BashIn(dir.path, row.change).second, 0) << row.change;
        int opened = OpenCliFolder(&tree, (root + "/a/b").c_str(), root.size() + 1, &listed, &folder, &reason);
        EXPECT_EQ(opened, row.opened) << row.change << ": " << reason;
        if (opened == CLI_OPENED)
            CloseCliFolder(&folder);
        CloseCliFolder(&tree);
        BashIn(dir.path, "chmod -R u+rwx t");
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A folder too big for the memory allowed: the run says so on standard error, ends its output on
// a whole result and exits with status 2, never aborting. (The sanitizers need more address space
// than any such limit leaves.)
TEST(QvrWalk, MemoryThatRunsOutEndsTheRunOnAWholeResult)
{
    TempDir dir;
    MakeFiles(dir, "a", 3);
    std::filesystem::create_directories(dir.path / "big");
    std::string name(200, 'n');
    for (int i = 0; i < 40000; ++i) // 8 MB of names
        std::ofstream(dir.path / "big" / (name + std::to_string(i)));
    // The limit: the least a run over the small folder needs, and 4 MiB more.
    auto [shown, exitStatus] = BashIn(dir.path, "for vm in $(seq 8192 2048 1000000); do "
                                         "(ulimit -v $vm; \"$QVR\" -j1 -r a >/dev/null 2>&1) && break; done; "
                                         "ulimit -v $((vm + 4096)); \"$QVR\" -j1 -r a big 2>err >out; echo $?; "
                                         "cat err; grep -c 'Pixel$' out; tail -c 1 out | od -An -c");
    EXPECT_EQ(exitStatus, 0);
    EXPECT_NE(shown.find("qvr: out of memory\n"), std::string::npos) << shown;
    EXPECT_EQ(shown, "2\nqvr: out of memory\n3\n  \\n\n"); // the three files of a, whole
}
#endif

} // namespace
