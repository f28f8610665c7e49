// Temporary files for probe tests: a private directory removed with everything in it; Write makes the folders.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image_info.h"

using Bytes = std::vector<unsigned char>;

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvr-probe-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        std::string file = (path / name).string();
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
};

// A probe step's path for `text`, as the driver hands it on, no look taken.
inline ProbePath PathOf(const char* text)
{
    return {text, nullptr, {-1, 0, 0, 0, 0}, false, -1, 0};
}

// Bytes at fixed offsets in an otherwise zero buffer of `size` bytes.
inline Bytes Header(size_t size, std::initializer_list<std::pair<size_t, Bytes>> fields)
{
    Bytes bytes(size, 0);
    for (const auto& [offset, field] : fields)
        std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

inline Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes Le16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes Be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Png(uint32_t width, uint32_t height, uint8_t bitDepth = 8, uint8_t colourType = 2)
{
    return Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {8, {0, 0, 0, 13, 'I', 'H', 'D', 'R'}},
                       {16, Be32(width)}, {20, Be32(height)}, {24, {bitDepth, colourType}}});
}
