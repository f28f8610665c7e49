// The probe with the real Linux platform file: GIO, the file system, special files, big files.
#include "platform_probe.h"
#include "test_files.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <gio/gio.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Probes on another thread so that a probe that blocks fails the test instead of hanging it.
ImageInfo ProbeWithin(const std::string& path, int seconds, int* result)
{
    auto probe = std::async(std::launch::async, [path, result] {
        ImageInfo info{};
        *result = ProbeImageFile(&info, path.c_str());
        return info;
    });
    if (probe.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        ADD_FAILURE() << "probing " << path << " took more than " << seconds << " s";
        _exit(1); // the blocked thread cannot be joined
    }
    return probe.get();
}

const Bytes kPng = Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(3)}, {20, Be32(2)}, {24, {8, 6}}});

TEST(LinuxPlatform, RegularFileGetsTypeIconNameAndSize)
{
    TempDir dir;
    std::string path = dir.Write("pic.png", kPng);
    int result = 0;
    ImageInfo info = ProbeWithin(path, 10, &result);
    EXPECT_EQ(result, 1);
    EXPECT_NE(info.icon, nullptr);
    EXPECT_GT(strlen(info.typeName), 0u);
    EXPECT_EQ(std::string(info.name), "pic.png");
    EXPECT_EQ(info.fileSize, kPng.size());
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.width, 3);
    ReleaseShellIcon(info.icon);
}

TEST(LinuxPlatform, MissingFileGetsBothMessages)
{
    TempDir dir;
    int result = 1;
    ImageInfo info = ProbeWithin((dir.path / "gone.png").string(), 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(info.icon, nullptr);
    EXPECT_EQ(std::string(info.name), "ファイル名が不正です。");
    EXPECT_EQ(std::string(info.typeName), "ファイルタイプを取得できません。");
    EXPECT_EQ(info.flags, uint32_t(INFO_DEFAULT_ICON | INFO_PLAIN_TITLE | INFO_SIZE_UNKNOWN));
}

// File names are UTF-8 on disk and CP932 in the record; '?' for what CP932 cannot hold.
TEST(LinuxPlatform, NamesBecomeCodePage932)
{
    struct { const char* onDisk; const char* shown; } table[] = {
        {u8"表ソ能.png", "\x95\x5C\x83\x5C\x94\x5C.png"},
        {u8"画像 01.png", "画像 01.png"},
        {u8"caf\u00E9\U0001F600.png", "caf??.png"},
        {"a\\b.png", "a\x81\x5F" "b.png"}, // a backslash is part of a Linux name
        {"bad\xFF.png", "bad?.png"},
    };
    TempDir dir;
    for (const auto& row : table) {
        std::string path = dir.Write(row.onDisk, kPng);
        int result = 0;
        ImageInfo info = ProbeWithin(path, 10, &result);
        EXPECT_EQ(std::string(info.name), row.shown) << row.onDisk;
        EXPECT_EQ(info.width, 3) << row.onDisk;
        ReleaseShellIcon(info.icon);
    }
}

// Directories, FIFOs, devices and kernel files return at once and are never read by a detector.
TEST(LinuxPlatform, SpecialFilesAreNeverOpenedByADetector)
{
    TempDir dir;
    std::string directory = (dir.path / "folder.png").string();
    std::string fifo = (dir.path / "pipe.jpg").string();
    std::string device = (dir.path / "null.bmp").string();
    std::string fifoLink = (dir.path / "link.gif").string();
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
    ASSERT_EQ(symlink(fifo.c_str(), fifoLink.c_str()), 0);
    std::string procLink = (dir.path / "status.png").string(); // a regular file, but on procfs
    ASSERT_EQ(symlink("/proc/self/status", procLink.c_str()), 0);
    // Every open of these shows as an inotify event; a device node of our own needs root.
    std::vector<std::string> watched = {directory, fifo};
    std::string ownDevice = (dir.path / "own-null.png").string();
    if (mknod(ownDevice.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        watched.push_back(ownDevice);
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(notify, 0);
    for (const std::string& path : watched)
        ASSERT_GE(inotify_add_watch(notify, path.c_str(), IN_OPEN), 0) << path;
    std::vector<std::string> paths = {directory, fifo, device, fifoLink, procLink};
    paths.insert(paths.end(), watched.begin() + 2, watched.end());
    for (const std::string& path : paths) {
        HeaderFile file;
        EXPECT_EQ(OpenHeaderFile(path.c_str(), &file), 0) << path;
        int result = 1;
        auto start = Clock::now();
        ImageInfo info = ProbeWithin(path, 10, &result);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << path;
        EXPECT_EQ(result, 0) << path;
        EXPECT_EQ(info.width, 0);
        // Known to the file system, recognised by no detector.
        EXPECT_EQ(info.flags, uint32_t(INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED)) << path;
        ReleaseShellIcon(info.icon);
    }
    char events[4096];
    EXPECT_EQ(read(notify, events, sizeof events), -1) << "a special file was opened";
    close(notify);
}

// The path changes between a PNG and a FIFO while it is probed, again and again: what is read
// is what was looked at, so the FIFO is never opened, and some probes still read the PNG.
TEST(LinuxPlatform, APathSwappedWithAFifoNeverOpensTheFifo)
{
    TempDir dir;
    std::string png = dir.Write("a.png", kPng), fifo = (dir.path / "f.png").string(), path = (dir.path / "x.png").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(notify, fifo.c_str(), IN_OPEN), 0);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            for (const std::string& stand : {png, fifo}) {
                rename(stand.c_str(), path.c_str());
                rename(path.c_str(), stand.c_str());
            }
        }
    });
    int probes = 0, read = 0;
    for (auto end = Clock::now() + std::chrono::milliseconds(1500); Clock::now() < end; ++probes) {
        ImageInfo info{};
        read += ProbeImageFile(&info, path.c_str());
        ReleaseShellIcon(info.icon);
    }
    stop = true;
    swapper.join();
    EXPECT_GT(read, 0) << probes << " probes";
    char events[4096];
    EXPECT_EQ(::read(notify, events, sizeof events), -1) << "the FIFO was opened";
    close(notify);
}

// The type name goes by the name, as the Windows shell goes by the extension: content is never
// sniffed, and a special file gets the type of what it is, whatever it is called.
TEST(LinuxPlatform, TypeNameComesFromTheNameOrTheKindOfFile)
{
    TempDir dir;
    auto typeOf = [](const std::string& path) {
        int result = 0;
        ImageInfo info = ProbeWithin(path, 10, &result);
        ReleaseShellIcon(info.icon);
        return std::string(info.typeName);
    };
    std::string png = typeOf(dir.Write("real.png", kPng));
    EXPECT_EQ(typeOf(dir.Write("fake.png", {'G', 'I', 'F', '8', '9', 'a'})), png);
    EXPECT_NE(typeOf(dir.Write("real.gif", {'G', 'I', 'F', '8', '9', 'a'})), png);
    // Without a known extension PNG bytes and no bytes at all look alike.
    EXPECT_EQ(typeOf(dir.Write("noextension", kPng)), typeOf(dir.Write("empty", {})));
    std::string folder = (dir.path / "folder.png").string();
    std::string fifo = (dir.path / "pipe.png").string();
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string folderType = typeOf(folder), fifoType = typeOf(fifo), deviceType = typeOf("/dev/null");
    for (const std::string& special : {folderType, fifoType, deviceType})
        EXPECT_NE(special, png);
    EXPECT_NE(folderType, fifoType);
    EXPECT_NE(fifoType, deviceType);
}

// Types are looked up once and remembered in a few slots; answers stay the same when more types
// come by than there are slots, and an icon handed out stays valid after its slot was reused.
TEST(LinuxPlatform, RememberedTypesGiveTheSameAnswersAndLiveIcons)
{
    const char* names[] = {"a.png", "a.gif", "a.jpg", "a.bmp", "a.mng", "a.txt", "a.pdf", "a.zip",
                           "a.html", "a.mp3", "a.tar", "a.svg", "a.css", "a.c", "a.odt", "a.wav",
                           "a.avi", "a.ttf", "a.xml", "a.csv"};
    TempDir dir;
    std::vector<std::string> firstTypes;
    std::vector<void*> firstIcons;
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < std::size(names); ++i) {
            std::string path = dir.Write(names[i], {1});
            int result = 0;
            ImageInfo info = ProbeWithin(path, 10, &result);
            ASSERT_NE(info.icon, nullptr) << names[i];
            if (round == 0) {
                firstTypes.push_back(info.typeName);
                firstIcons.push_back(info.icon);
                continue;
            }
            EXPECT_EQ(std::string(info.typeName), firstTypes[i]) << names[i];
            EXPECT_TRUE(g_icon_equal(static_cast<GIcon*>(info.icon), static_cast<GIcon*>(firstIcons[i])))
                << names[i];
            ReleaseShellIcon(info.icon);
        }
    }
    for (void* icon : firstIcons) {
        EXPECT_TRUE(G_IS_ICON(icon));
        ReleaseShellIcon(icon);
    }
}

// Sparse files: the size field holds the low 32 bits, the high ones stand apart.
TEST(LinuxPlatform, SizesOfFourGibibytesAndMoreKeepTheLow32Bits)
{
    TempDir dir;
    std::string path = dir.Write("big.dat", {1, 2, 3});
    for (uint64_t size : {uint64_t(1) << 32, (uint64_t(1) << 32) + 5, (uint64_t(1) << 33) - 1, uint64_t(0)}) {
        std::filesystem::resize_file(path, size);
        int result = 1;
        ImageInfo info = ProbeWithin(path, 10, &result);
        EXPECT_EQ(info.fileSize, uint32_t(size)) << size;
        EXPECT_EQ(info.fileSizeHigh, uint32_t(size >> 32)) << size;
        EXPECT_EQ(info.flags & INFO_SIZE_UNKNOWN, 0u) << size;
        ReleaseShellIcon(info.icon);
    }
}

// Four gibibytes of nothing after a JFIF head: the walk must not crawl over the zeros two
// bytes at a time. In the second file a head near the end sends the walk to a frame header
// only when it lands on the even offsets that the 2-byte stepping over the zeros lands on.
TEST(LinuxPlatform, FourGibibyteSparseJpegsAreProbedQuicklyAndExactly)
{
    const Bytes jfif = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    const uint64_t jump = (uint64_t(1) << 32) - 0x4000;
    struct { const char* name; std::vector<std::pair<uint64_t, Bytes>> patches; int32_t width, height; uint32_t depth; } table[] = {
        {"nothing.jpg", {}, 0, 0, 0},
        {"far.jpg", {{jump, {0x12, 0x34}}, {jump + 0x1234, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x20, 0x03}}}, 32, 16, 24},
        // Data that starts with zeros inside a block: the walk lands 3 bytes before 12, odd.
        {"odd.jpg", {{jump + 0x777, {0x12, 0x34}}, {jump + 0x777 + 17, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x07, 0x00, 0x09, 0x01}}}, 9, 7, 8},
    };
    TempDir dir;
    for (const auto& row : table) {
        std::string path = dir.Write(row.name, jfif);
        std::filesystem::resize_file(path, uint64_t(1) << 32);
        FILE* file = fopen(path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        for (const auto& [offset, bytes] : row.patches) {
            ASSERT_EQ(fseeko(file, off_t(offset), SEEK_SET), 0);
            fwrite(bytes.data(), 1, bytes.size(), file);
        }
        fclose(file);

        int result = 0;
        auto start = Clock::now();
        ImageInfo info = ProbeWithin(path, 60, &result);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << row.name;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(info.width, row.width) << row.name;
        EXPECT_EQ(info.height, row.height) << row.name;
        EXPECT_EQ(info.depth, row.depth) << row.name;
        EXPECT_EQ(info.fileSize, 0u);
        ReleaseShellIcon(info.icon);
        std::filesystem::remove(path);
    }
}

} // namespace
