// The JPEG walk done the plain way, step by step over the bytes in memory: the yardstick for
// the detector's faster walk. Shared by the unit tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct JpegReference { int result; int32_t width, height; uint32_t depth; };

inline JpegReference WalkJpegReference(const unsigned char* data, size_t size)
{
    auto byteAt = [&](uint64_t offset) -> unsigned { return offset < size ? data[offset] : 0u; };
    if (size < 10 || data[0] != 0xFF || data[1] != 0xD8 || memcmp(data + 6, "JFIF", 4) != 0)
        return {0, 0, 0, 0};
    for (uint64_t at = 2; at + 4 <= size;) {
        unsigned marker = byteAt(at) << 8 | byteAt(at + 1);
        unsigned length = byteAt(at + 2) << 8 | byteAt(at + 3);
        if (marker == 0xFFC0) {
            // Bytes past the end read as zero.
            int32_t height = static_cast<int32_t>(byteAt(at + 5) << 8 | byteAt(at + 6));
            int32_t width = static_cast<int32_t>(byteAt(at + 7) << 8 | byteAt(at + 8));
            return {1, width, height, byteAt(at + 9) == 3 ? 24u : 8u};
        }
        at += 2 + length;
    }
    return {1, 0, 0, 0};
}
