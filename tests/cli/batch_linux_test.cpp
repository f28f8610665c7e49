// qvr's runs on Linux: how a run ends early, the progress line, the walk's folders, memory that runs out.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_platform.h"
#include "run_qvr.h"
#include "test_files.h"

namespace {

// 120,000 entries in "big/dN", hard links to three PNG files (a file has at most some 65,000): about a second's run.
void MakeBigTree(const TempDir& dir)
{
    for (int folder = 0; folder < 120; ++folder) {
        std::string png = dir.Write("one" + std::to_string(folder / 40) + ".png", Png(4, 3));
        std::filesystem::path at = dir.path / "big" / ("d" + std::to_string(folder));
        std::filesystem::create_directories(at);
        for (int file = 0; file < 1000; ++file)
            ASSERT_EQ(link(png.c_str(), (at / ("f" + std::to_string(file) + ".png")).c_str()), 0) << at;
    }
}

// SIGINT, SIGTERM and SIGHUP end a run at once with 130, whatever holds it up, on a whole result, none lost.
TEST(QvrStops, AtOnceWhateverHoldsTheRunUp)
{
    TempDir dir;
    MakeBigTree(dir);
    // A JFIF head and 1 GiB of small segments, each one read.
    ASSERT_EQ(Bash("printf '\\377\\330\\377\\340\\0\\20JFIF\\0\\1\\1\\0\\0\\1\\0\\1\\0\\0' >long.jpg && "
                   "printf '\\377\\376\\0\\4ab%.0s' $(seq 174762) >s && for i in $(seq 1024); do cat s; done >>long.jpg",
                   dir.path.string()).second, 0);
    const struct { const char *run, *printed; } holds[] = { // each starts qvr in the background, its pid in $!
        {"\"$QVR\" -r big/d0 > >(sleep 20 >/dev/null) &", ""},
        {"\"$QVR\" -j1 --json big/d0/f1.png long.jpg >out &", "\"path\":\"big/d0/f1.png\""},
        {"\"$QVR\" -j8 --json big/d0/f2.png long.jpg big >out &", "\"path\":\"big/d0/f2.png\""},
        {"\"$QVR\" -r --json -j4 big >out &", "\"path\":\"big/d0/f0.png\""},
    };
    for (const auto& hold : holds) {
        for (const char* signal : {"INT", "TERM", "HUP"}) {
            auto [shown, status] = Bash(std::string("set -m; rm -f out; ") + hold.run + " pid=$!; for i in $(seq 100); do "
                                        "[ -s out ] && break; sleep 0.01; done; kill -" + signal + " $pid; start=$(date +%s%N); "
                                        "wait $pid; echo \"$? $((($(date +%s%N) - start) / 1000000))\"; cat out 2>/dev/null",
                                        dir.path.string());
            int exitStatus = -1, milliseconds = -1;
            std::sscanf(shown.c_str(), "%d %d", &exitStatus, &milliseconds);
            SCOPED_TRACE(hold.run + std::string(", SIG") + signal + ": " + shown.substr(0, 200));
            EXPECT_EQ(exitStatus, 130);
            EXPECT_LT(milliseconds, 1500);
            EXPECT_EQ(shown.find("long.jpg\""), std::string::npos) << "the interrupted probe was printed";
            EXPECT_NE(shown.find(hold.printed), std::string::npos) << "a whole result was lost";
            EXPECT_EQ(shown.back(), '\n'); // the output ends on a whole line
        }
    }
    // A reader that goes away ends the run as soon, with status 2 and no message.
    auto [shown, status] = Bash("start=$(date +%s%N); timeout 60 \"$QVR\" -r --json big 2>err | head -n 1 >/dev/null; "
                                "echo \"${PIPESTATUS[0]} $((($(date +%s%N) - start) / 1000000))\"; cat err", dir.path.string());
    int exitStatus = -1, milliseconds = -1;
    std::sscanf(shown.c_str(), "%d %d", &exitStatus, &milliseconds);
    EXPECT_EQ(exitStatus, 2) << shown;
    EXPECT_LT(milliseconds, 500);
    EXPECT_EQ(shown.find('\n'), shown.size() - 1) << shown;
}

// Only on a terminal: a progress line short of its width (a wrap would leave a line behind), erased at the end.
TEST(Qvr, AProgressLineOnlyOnATerminal)
{
    TempDir dir;
    MakeBigTree(dir);
    for (int columns : {50, 24}) {
        auto [shown, status] = Bash("script -qec 'stty cols " + std::to_string(columns) + "; \"$QVR\" -r -j2 big >out' "
                                    "/dev/null", dir.path.string());
        SCOPED_TRACE(std::to_string(columns) + " columns: " + shown.substr(0, 300));
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(std::regex_match(shown, std::regex("[^\n]*\r +\r"))) << "a line ended, or the last was not erased";
        size_t redraws = 0, widest = 0;
        for (size_t at = shown.find('\r'); at != std::string::npos; at = shown.find('\r', at + 1)) {
            std::string drawn = shown.substr(at + 1, shown.find_first_of("\r\n", at + 1) - at - 1);
            widest = std::max(widest, drawn.size()); // the folders here are ASCII
            redraws += std::regex_search(drawn, std::regex(columns > 24 ? "^[1-9][0-9]* files, [0-9]+/s, in big/d[0-9]+$"
                                                                        : "^[1-9][0-9]* files, "));
        }
        EXPECT_GT(redraws, 1u);
        EXPECT_LT(widest, size_t(columns));
    }
    for (std::string both : {"script -qec '\"$QVR\" -r -j2 big/d0' /dev/null", "\"$QVR\" -r big/d0 2>&1 >/dev/null"})
        EXPECT_EQ(Bash(both, dir.path.string()).first.find(" files, "), std::string::npos) << both;
}

// As root: a file system mounted in the tree is walked, with -x an entry; a folder bound beneath itself is walked once.
TEST(QvrWalk, FileSystemsAndLoops)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path / "t/a/loop");
    std::filesystem::create_directories(dir.path / "t/mnt");
    std::string mnt = (dir.path / "t/mnt").string(), loop = (dir.path / "t/a/loop").string();
    if (mount("qvr-test", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount here (not root?)";
    dir.Write("t/a/f0.png", Png(1, 1));
    dir.Write("t/mnt/m.png", Png(1, 1));
    bool looped = mount((dir.path / "t").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) == 0;
    std::string err = looped ? "qvr: t/a/loop: not walked: a loop in the file system leads back to t\n" : "";
    for (auto [options, out] : {std::pair{"-r", "t/a/f0.png\nt/mnt/m.png\n"}, {"-r -x", "t/a/f0.png\nt/mnt\n"},
                                {"-r --one-file-system -j1", "t/a/f0.png\nt/mnt\n"}}) {
        EXPECT_EQ(Bash(std::string("\"$QVR\" --json ") + options + " t 2>err | grep -o '\"path\":\"[^\"]*' | cut -c9-; cat err",
                       dir.path.string()).first, out + err) << options;
    }
    if (looped)
        umount(loop.c_str());
    umount(mnt.c_str());
}

// The platform opens a listed folder through no link anywhere below the tree, and only the very folder listed.
TEST(QvrWalk, AListedFolderOpensOnlyAsListed)
{
    for (auto [change, opened] : {std::pair{"", CLI_OPENED}, // each row changes the tree after it was listed
             {"mv t/a/b t/a/b.real && ln -s b.real t/a/b", CLI_NOT_A_FOLDER}, // the folder itself a link
             {"mv t/a t/a.real && ln -s a.real t/a", CLI_NOT_A_FOLDER},       // a link above it, to the same folder
             {"mv t/a/b t/a/b.old && mkdir t/a/b", CLI_NOT_A_FOLDER},         // another folder in its place
             {"rm -r t/a/b && touch t/a/b", CLI_NOT_A_FOLDER},                 // a file in its place
             {"mv t/a/b t/a/b.old", CLI_UNREADABLE},                           // gone
             {"chmod 0 t/a/b", geteuid() == 0 ? CLI_OPENED : CLI_UNREADABLE}}) { // not to be read
        TempDir dir;
        std::filesystem::create_directories(dir.path / "t/a/b");
        std::string root = (dir.path / "t").string(), reason;
        CliFolder tree, folder;
        CliFolderList list;
        ASSERT_EQ(OpenCliTree(root.c_str(), false, &tree, &reason), CLI_OPENED);
        ASSERT_EQ(OpenCliFolder(&tree, root.c_str(), root.size(), nullptr, &folder, &reason), CLI_OPENED);
        ASSERT_TRUE(ReadCliFolder(&folder, &list, &reason));
        struct stat status;
        ASSERT_EQ(stat((root + "/a/b").c_str(), &status), 0);
        CliFolderId listed = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
        ASSERT_EQ(Bash(change, dir.path.string()).second, 0) << change;
        EXPECT_EQ(OpenCliFolder(&tree, (root + "/a/b").c_str(), root.size() + 1, &listed, &folder, &reason), opened)
            << change << ": " << reason;
        if (opened == CLI_OPENED)
            CloseCliFolder(&folder);
        CloseCliFolder(&tree);
        Bash("chmod -R u+rwx t", dir.path.string());
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Memory that runs out ends the run on a whole result with status 2 (the sanitizers need more address space).
TEST(QvrWalk, MemoryThatRunsOutEndsTheRunOnAWholeResult)
{
    TempDir dir;
    for (int i = 0; i < 3; ++i)
        dir.Write("a/f" + std::to_string(i) + ".png", Png(2, 3));
    std::filesystem::create_directories(dir.path / "big");
    for (int i = 0; i < 40000; ++i) // 8 MB of names
        std::ofstream(dir.path / "big" / (std::string(200, 'n') + std::to_string(i)));
    auto [shown, status] = Bash("for vm in $(seq 8192 2048 1000000); do (ulimit -v $vm; \"$QVR\" -j1 -r a >/dev/null 2>&1) "
                                "&& break; done; ulimit -v $((vm + 4096)); \"$QVR\" -j1 -r a big 2>err >out; echo $?; "
                                "cat err; grep -c 'Pixel$' out; tail -c 1 out | od -An -c", dir.path.string());
    EXPECT_EQ(shown, "2\nqvr: out of memory\n3\n  \\n\n"); // the three files of a, whole
}
#endif

} // namespace
