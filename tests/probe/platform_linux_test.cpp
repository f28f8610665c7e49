// The probe with the real Linux platform file, and over files written by encoders outside this project.
#include "platform_probe.h"
#include "test_files.h"

#include <atomic>
#include <thread>
#include <nlohmann/json.hpp>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Eight probers give what each file gives alone, and of a path swapped among special files only the PNG is opened.
TEST(LinuxPlatform, ProbesSideBySideGiveWhatEachGivesAlone)
{
    TempDir dir;
    std::string path = (dir.path / "x.png").string();
    std::vector<std::string> stands = {dir.Write("a.png", Png(3, 2)), path + ".fifo", path + ".dir", path + ".dev"};
    ASSERT_EQ(std::system(("mkfifo " + stands[1] + " && mkdir " + stands[2] + " && { mknod " + stands[3] + " c 1 3 || :; }").c_str()), 0);
    int notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (size_t i = 1; i < stands.size(); ++i)
        inotify_add_watch(notify, stands[i].c_str(), IN_OPEN); // fails only for a device that could not be made
    const char* types[] = {"png", "gif", "jpg", "bmp", "mng", "txt", "pdf", "zip", "html", "mp3", "tar",
                           "svg", "css", "c", "odt", "wav", "avi", "rif", "pxa", "jpeg"};
    std::vector<std::string> files, alone;
    for (size_t i = 0; i < 60; ++i)
        files.push_back(dir.Write(std::string(i % 3 ? "a" : u8"表〜é") + std::to_string(i) + "." + types[i % 20], Png(i + 1, 2)));
    std::atomic<int> read{0}, icons{0}, differing{0};
    auto probe = [&](const std::string& file) {
        ImageInfo info{};
        read += ProbeImageFile(&info, file.c_str());
        icons += info.icon != nullptr;
        ReleaseShellIcon(info.icon);
        info.icon = nullptr;
        return std::string(reinterpret_cast<const char*>(&info), sizeof info);
    };
    for (const std::string& file : files)
        alone.push_back(probe(file));
    const int filesRead = read.exchange(0) * 160, fileIcons = icons.exchange(0) * 160; // in 20 rounds of 8 probers
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            for (const std::string& stand : stands)
                rename(stand.c_str(), path.c_str()), rename(path.c_str(), stand.c_str());
        }
    });
    std::vector<std::thread> probers;
    for (int t = 0; t < 8; ++t) {
        probers.emplace_back([&, t] {
            for (size_t n = 0; n < 20 * files.size(); ++n) { // each thread in an order of its own
                size_t at = (n * 7 + static_cast<size_t>(t) * 13) % files.size();
                differing += probe(files[at]) != alone[at];
                for (int again = 0; again < 10; ++again)
                    probe(path);
            }
        });
    }
    for (std::thread& prober : probers)
        prober.join();
    stop = true;
    swapper.join();
    EXPECT_EQ(differing, 0);
    EXPECT_GT(read, filesRead);
    EXPECT_GT(icons - fileIcons, read - filesRead); // the FIFO, folder and device are known to the shell, only not read
    char events[4096];
    EXPECT_EQ(::read(notify, events, sizeof events), -1) << "a special file was opened";
    close(notify);
}

// A file shorter than a detector asks for is read once: its size tells its end, and a read is a round trip on a share.
TEST(LinuxPlatform, AShortFileIsReadOnce)
{
    TempDir dir;
    Bytes jpeg = Cat({{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0},
                      {0xFF, 0xC0, 0, 11, 8, 0, 48, 0, 64, 3, 1, 0x11, 0, 2, 0x11, 0}});
    for (auto [path, width] : {std::pair{dir.Write("small.jpg", jpeg), 64}, {dir.Write("short.bmp", {'B', 'M', 7, 7}), 0}}) {
        ImageInfo info;
        ProbeImageFile(&info, path.c_str()); // the MIME database is read once per type, first
        std::ifstream io("/proc/thread-self/io");
        std::string key;
        uint64_t before = 0, after = 0;
        while (io >> key >> before && key != "syscr:") {}
        ProbeImageFile(&info, path.c_str());
        io.seekg(0);
        while (io >> key >> after && key != "syscr:") {}
        EXPECT_EQ(after - before, 2u) << path; // one read of the file, one of the count itself
        EXPECT_EQ(info.width, width) << path;
    }
}

// Result, width, height, depth and flags of a probe.
std::vector<int64_t> Probed(const fs::path& file)
{
    ImageInfo info{};
    int result = ProbeImageFile(&info, file.c_str());
    ReleaseShellIcon(info.icon);
    return {result, info.width, info.height, info.depth, info.flags};
}

TEST(SharedImages, EachFileGivesWhatIsKnownOfIt)
{
    const fs::path data = QVR_TESTDATA_DIR;
    if (!fs::exists(data))
        GTEST_SKIP() << "no test images at " << data;
    // PngSuite names: colour type (5th character), bit depth (last two), sNN is NN by NN, bas 32 by 32, x broken.
    int checked = 0;
    for (const fs::path& file : fs::directory_iterator(data / "pngsuite/png")) {
        std::string stem = file.stem();
        std::vector<int64_t> png = Probed(file);
        if (stem[0] == 'x') { // broken: a bad signature is refused, any other header taken as it is
            EXPECT_EQ(png[0], stem[1] == 's' || stem.rfind("xcr", 0) == 0 || stem.rfind("xlf", 0) == 0 ? 0 : 1) << stem;
            continue;
        }
        int64_t type = stem[4] - '0', bits = std::stoi(stem.substr(6, 2)), side = stem[0] == 's' ? std::stoi(stem.substr(1, 2)) : 32;
        bool sized = stem[0] == 's' || stem.rfind("bas", 0) == 0; // other sizes are not in the name
        EXPECT_EQ(png, std::vector<int64_t>({1, sized ? side : png[1], sized ? side : png[2], type == 2 || type == 6 ? bits * 3 : bits, 0})) << stem;
        EXPECT_EQ(Probed(data / "pngsuite/bmp" / (stem + ".bmp")), std::vector<int64_t>({1, png[1], png[2], 32, 0})) << stem;
        ++checked;
    }
    EXPECT_GT(checked, 150);
    // Each answer file lists segments: a JFIF APP0 first is recognised, and a baseline (SOF0) frame gives dimensions.
    int kinds[3] = {}; // unrecognised, without dimensions, baseline
    for (const fs::path& file : fs::recursive_directory_iterator(data / "jpegsuite")) {
        if (file.extension() != ".jpg")
            continue;
        auto segments = nlohmann::json::parse(std::ifstream(fs::path(file).replace_extension(".json")))["segments"];
        bool jfif = segments.size() > 1 && segments[1]["type"] == "APP0" && segments[1].value("format", "") == "JFIF";
        auto sof0 = std::find_if(segments.begin(), segments.end(), [](const auto& s) { return s["type"] == "SOF0"; });
        bool baseline = jfif && sof0 != segments.end();
        std::vector<int64_t> expected = {jfif, 0, 0, 0, jfif ? 0 : INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED};
        if (baseline)
            expected = {1, (*sof0)["samples_per_line"], (*sof0)["number_of_lines"], (*sof0)["components"].size() == 3 ? 24 : 8, 0};
        EXPECT_EQ(Probed(file), expected) << file;
        ++kinds[jfif + baseline];
    }
    EXPECT_GT(std::min(kinds[0], kinds[2]), 20);
    EXPECT_GT(kinds[1], 200);
}

} // namespace
