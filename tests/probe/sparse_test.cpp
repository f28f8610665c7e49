// Sparse JPEG files: holes are skipped, not read, and the walk still lands where reading every
// zero would have taken it.
#include "platform_probe.h"
#include "test_files.h"

#include <fstream>

namespace {

// Bytes this process has read so far, by any means.
uint64_t BytesRead()
{
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        uint64_t value = 0;
        io >> value;
        if (key == "rchar:")
            return value;
    }
    return 0;
}

TEST(SparseJpeg, HolesAreSkippedAndTheWalkKeepsItsParity)
{
    const Bytes jfif = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0};
    const Bytes oddSegment = Cat({{0xFF, 0xE1, 0x00, 0x11}, Bytes(15, 0x55)}); // the next head is odd
    auto frame = [](uint8_t width, uint8_t height, uint8_t components) {
        return Bytes{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, height, 0x00, width, components};
    };
    const uint64_t MiB = 1 << 20, GiB = uint64_t(1) << 30, far = 4 * GiB - 0x4000;
    // Over zeros the walk steps 2 bytes at a time. Landing on 00 00 12 34 sends it 0x1234 on, to a
    // frame header; landing one byte off reads 00 12 34 00 and misses it.
    const struct { const char* name; uint64_t size; std::vector<std::pair<uint64_t, Bytes>> data; int32_t width, height; uint32_t depth; } table[] = {
        {"nothing.jpg", 4 * GiB, {{0, jfif}}, 0, 0, 0},
        {"odd.jpg", 2 * MiB, {{0, Cat({jfif, oddSegment})}, {MiB + 1, {0x12, 0x34}}, {MiB + 1 + 0x1234, frame(9, 7, 1)}}, 9, 7, 8},
        {"even.jpg", 2 * MiB, {{0, Cat({jfif, oddSegment})}, {MiB, {0x12, 0x34}}, {MiB + 0x1234, frame(9, 7, 1)}}, 0, 0, 0},
        {"far.jpg", 4 * GiB, {{0, jfif}, {far, {0x12, 0x34}}, {far + 0x1234, frame(32, 16, 3)}}, 32, 16, 24},
    };
    TempDir dir;
    for (const auto& row : table) {
        std::string path = (dir.path / row.name).string();
        {
            std::ofstream file(path, std::ios::binary);
            for (const auto& [offset, bytes] : row.data)
                file.seekp(std::streamoff(offset)).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        std::filesystem::resize_file(path, row.size);
        uint64_t before = BytesRead();
        ImageInfo info{};
        EXPECT_EQ(ProbeImageFile(&info, path.c_str()), 1) << row.name;
        EXPECT_LT(BytesRead() - before, MiB) << row.name << ": the holes were read";
        EXPECT_EQ(info.width, row.width) << row.name;
        EXPECT_EQ(info.height, row.height) << row.name;
        EXPECT_EQ(info.depth, row.depth) << row.name;
        ReleaseShellIcon(info.icon);
        std::filesystem::remove(path);
    }
}

} // namespace
