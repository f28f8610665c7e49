// Files written by encoders outside this project.
#include "platform_probe.h"
#include "test_files.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

fs::path TestData(const char* sub) { return fs::path(QVR_TESTDATA_DIR) / sub; }

std::vector<fs::path> Files(const fs::path& dir, const char* extension)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == extension)
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// PngSuite names carry colour type (5th character) and bit depth (last two digits); the
// sNN images are NN by NN pixels, the basic ones 32 by 32; names starting with 'x' are broken.
TEST(PngSuite, PngFilesGiveTheirNamedDepthAndSize)
{
    fs::path dir = TestData("pngsuite/png");
    if (!fs::exists(dir))
        GTEST_SKIP() << "no test images at " << dir;
    int checked = 0;
    for (const fs::path& file : Files(dir, ".png")) {
        std::string stem = file.stem().string();
        ImageInfo info{};
        int result = ProbePng(&info, file.c_str());
        if (stem.rfind("xs", 0) == 0 || stem.rfind("xcr", 0) == 0 || stem.rfind("xlf", 0) == 0) {
            EXPECT_EQ(result, 0) << stem << ": broken signature";
            continue;
        }
        ASSERT_EQ(result, 1) << stem;
        uint32_t bits = uint32_t(std::stoi(stem.substr(6, 2)));
        int type = stem[4] - '0';
        if (stem[0] == 'x')
            continue; // broken colour type or depth: the header's values are taken as they are
        EXPECT_EQ(info.depth, (type == 2 || type == 6) ? bits * 3 : bits) << stem;
        ++checked;
        if (stem[0] != 's' && stem.rfind("bas", 0) != 0)
            continue; // other sizes are not in the name; the BMP test compares them
        int32_t side = stem[0] == 's' ? std::stoi(stem.substr(1, 2)) : 32;
        EXPECT_EQ(info.width, side) << stem;
        EXPECT_EQ(info.height, side) << stem;
    }
    EXPECT_GT(checked, 150);
}

// The BMP conversions made by another program: same dimensions as their PNG originals.
TEST(PngSuite, BmpConversionsMatchTheirOriginals)
{
    fs::path dir = TestData("pngsuite/bmp");
    if (!fs::exists(dir))
        GTEST_SKIP() << "no test images at " << dir;
    int checked = 0;
    for (const fs::path& file : Files(dir, ".bmp")) {
        fs::path png = TestData("pngsuite/png") / (file.stem().string() + ".png");
        ImageInfo bmpInfo{}, pngInfo{};
        ASSERT_EQ(ProbeImageFile(&bmpInfo, file.c_str()), 1) << file;
        ASSERT_EQ(ProbePng(&pngInfo, png.c_str()), 1) << png;
        EXPECT_EQ(bmpInfo.width, pngInfo.width) << file;
        EXPECT_EQ(std::abs(bmpInfo.height), pngInfo.height) << file;
        EXPECT_EQ(bmpInfo.depth, 32u) << file;
        EXPECT_EQ(bmpInfo.flags, 0u) << file;
        ReleaseShellIcon(bmpInfo.icon);
        ++checked;
    }
    EXPECT_GT(checked, 150);
}

// Each file's JSON lists its segments. Only files whose first segment is a JFIF APP0 are
// recognised; of those, only baseline (SOF0) files give dimensions, the others zeros.
TEST(JpegSuite, ResultsFollowTheSegmentLists)
{
    fs::path dir = TestData("jpegsuite");
    if (!fs::exists(dir))
        GTEST_SKIP() << "no test images at " << dir;
    int baseline = 0, zeros = 0, unrecognised = 0;
    for (const fs::path& file : Files(dir, ".jpg")) {
        fs::path answer = file;
        answer.replace_extension(".json");
        std::ifstream stream(answer);
        nlohmann::json json = nlohmann::json::parse(stream);
        const auto& segments = json["segments"];
        bool jfifFirst = segments.size() > 1 && segments[1]["type"] == "APP0" && segments[1].value("format", "") == "JFIF";
        const nlohmann::json* sof0 = nullptr;
        for (const auto& segment : segments)
            if (segment["type"] == "SOF0" && !sof0)
                sof0 = &segment;

        ImageInfo info{};
        int result = ProbeImageFile(&info, file.c_str());
        ReleaseShellIcon(info.icon);
        std::string label = file.lexically_relative(dir).string();
        if (!jfifFirst) {
            EXPECT_EQ(result, 0) << label;
            EXPECT_EQ(info.flags, uint32_t(INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED)) << label;
            ++unrecognised;
            continue;
        }
        EXPECT_EQ(result, 1) << label;
        EXPECT_EQ(info.flags, 0u) << label;
        if (sof0) {
            EXPECT_EQ(info.width, (*sof0)["samples_per_line"].get<int>()) << label;
            EXPECT_EQ(info.height, (*sof0)["number_of_lines"].get<int>()) << label;
            EXPECT_EQ(info.depth, (*sof0)["components"].size() == 3 ? 24u : 8u) << label;
            ++baseline;
        } else {
            EXPECT_EQ(info.width, 0) << label;
            EXPECT_EQ(info.height, 0) << label;
            EXPECT_EQ(info.depth, 0u) << label;
            ++zeros;
        }
    }
    EXPECT_GT(baseline, 20);
    EXPECT_GT(zeros, 200);
    EXPECT_GT(unrecognised, 20);
}

} // namespace
