// The probe with the real Linux platform file while the path it probes is swapped under it.
#include "platform_probe.h"
#include "test_files.h"

#include <atomic>
#include <thread>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// The path is renamed back and forth between a PNG, a FIFO, a folder and (as root) a device of its
// own while it is probed again and again: only what was looked at is read, so nothing but the PNG
// is ever opened, and the PNG still is now and then.
TEST(LinuxPlatform, APathSwappedUnderTheProbeOpensOnlyTheRegularFile)
{
    TempDir dir;
    std::string path = (dir.path / "x.png").string();
    std::vector<std::string> stands = {dir.Write("a.png", Png(3, 2)), path + ".fifo", path + ".dir", path + ".dev"};
    ASSERT_EQ(std::system(("mkfifo " + stands[1] + " && mkdir " + stands[2] + " && { mknod " + stands[3] + " c 1 3 || :; }").c_str()), 0);
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (size_t i = 1; i < stands.size(); ++i)
        inotify_add_watch(notify, stands[i].c_str(), IN_OPEN); // fails only for a device that could not be made
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            for (const std::string& stand : stands)
                rename(stand.c_str(), path.c_str()), rename(path.c_str(), stand.c_str());
        }
    });
    int read = 0, icons = 0;
    for (int probe = 0; probe < 100000; ++probe) {
        ImageInfo info{};
        read += ProbeImageFile(&info, path.c_str());
        icons += info.icon != nullptr;
        ReleaseShellIcon(info.icon);
    }
    stop = true;
    swapper.join();
    EXPECT_GT(read, 0);
    EXPECT_GT(icons, read); // the FIFO, folder and device are known to the shell, only not read
    char events[4096];
    EXPECT_EQ(::read(notify, events, sizeof events), -1) << "a special file was opened";
    close(notify);
}

} // namespace
