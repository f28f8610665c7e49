#include "image_info.h"

#include "platform_probe.h"

#include <cstring>

// The walk over the marker segments only ever moves forward. It reads the file through a window
// whose reads start small and grow while the walk goes on, so a frame header near the start
// costs one small read, and segment bodies that the walk jumps over are never read.
static const size_t JPEG_FIRST_READ = 4096;
static const size_t JPEG_WINDOW_SIZE = 64 * 1024;

struct JpegWindow {
    HeaderFile* file;
    uint64_t base;   // file offset of data[0]
    size_t count;    // bytes held in data
    size_t readSize; // size of the next read
    bool ended;      // a read came back short: nothing lies beyond base + count
    unsigned char data[JPEG_WINDOW_SIZE];
};

// Makes the bytes from `offset` on available, up to `wanted` (at most the window size).
// Returns how many are held from `offset` on: fewer than wanted only at the end of the file.
static size_t HoldBytes(JpegWindow* window, uint64_t offset, size_t wanted)
{
    if (offset >= window->base && offset - window->base <= window->count) {
        size_t skip = static_cast<size_t>(offset - window->base);
        if (skip + wanted <= window->count)
            return wanted;
        memmove(window->data, window->data + skip, window->count - skip);
        window->count -= skip;
    } else {
        window->count = 0;
        window->ended = false;
    }
    window->base = offset;
    while (window->count < wanted && !window->ended) {
        size_t room = JPEG_WINDOW_SIZE - window->count;
        size_t ask = window->readSize < room ? window->readSize : room;
        size_t delivered = ReadHeaderBytes(window->file, window->base + window->count,
                                           window->data + window->count, ask);
        window->count += delivered;
        window->ended = delivered < ask; // the end of the file, or a failed read (file->error)
        if (window->readSize < JPEG_WINDOW_SIZE)
            window->readSize *= 2;
    }
    return window->count < wanted ? window->count : wanted;
}

static size_t CountZeroBytes(const unsigned char* bytes, size_t count)
{
    static const unsigned char zeros[256] = {0};
    size_t run = 0;
    while (count - run >= sizeof zeros && memcmp(bytes + run, zeros, sizeof zeros) == 0)
        run += sizeof zeros;
    while (run < count && bytes[run] == 0)
        ++run;
    return run;
}

// Offset of the first non-zero byte at or after `offset`, or the end of the file.
static uint64_t SkipZeroRun(JpegWindow* window, uint64_t offset)
{
    for (;;) {
        if (HoldBytes(window, offset, 1) == 0)
            return offset;
        size_t at = static_cast<size_t>(offset - window->base);
        size_t run = CountZeroBytes(window->data + at, window->count - at);
        offset += run;
        if (at + run < window->count)
            return offset;
        // Everything held is zero: a hole of a sparse file need not be read at all.
        offset = SkipFileHole(window->file, offset);
    }
}

// Walks the segment heads from offset 2 on. Each head is a 16-bit big-endian marker and a
// 16-bit big-endian length; the next head starts at the head plus 2 plus the length, whatever
// the bytes are, until FF C0 or the end of the file.
static bool FindFrameHeader(JpegWindow* window, unsigned char frame[5])
{
    uint64_t offset = 2;
    for (;;) {
        if (HoldBytes(window, offset, 4) < 4)
            return false;
        unsigned char head[4];
        memcpy(head, window->data + (offset - window->base), sizeof head);
        if ((head[0] | head[1] | head[2] | head[3]) == 0) {
            // Over zeros the walk moves 2 bytes at a time and learns nothing; jump to the last
            // such step whose head reaches the next non-zero byte, keeping the parity.
            uint64_t nonZero = SkipZeroRun(window, offset + 4);
            uint64_t distance = nonZero - 3 - offset;
            offset += (distance + 1) & ~static_cast<uint64_t>(1);
            continue;
        }
        ReverseBytes(head, 2);
        ReverseBytes(head + 2, 2);
        uint32_t marker = static_cast<uint32_t>(head[0] | head[1] << 8);
        uint32_t length = static_cast<uint32_t>(head[2] | head[3] << 8);
        if (marker == 0xFFC0) {
            // Over the sample precision to Y, X and Nf; a cut-off header leaves zeros.
            size_t held = HoldBytes(window, offset + 5, 5);
            if (held > 0)
                memcpy(frame, window->data + (offset + 5 - window->base), held);
            return true;
        }
        offset += 2 + length;
    }
}

int ProbeJpeg(ImageInfo* info, const ProbePath* path)
{
    if (!HasExtension(path->text, "jpg") && !HasExtension(path->text, "jpeg"))
        return 0;
    HeaderFile file;
    if (!OpenHeaderFile(path, &file)) {
        if (file.error && !info->readError)
            info->readError = file.error;
        return 0;
    }
    JpegWindow window;
    window.file = &file;
    window.base = 0;
    window.count = 0;
    window.readSize = JPEG_FIRST_READ;
    window.ended = false;

    unsigned char head[10] = {0};
    memcpy(head, window.data, HoldBytes(&window, 0, sizeof head));
    bool signature = head[0] == 0xFF && head[1] == 0xD8 && memcmp(head + 6, "\x4A\x46\x49\x46", 4) == 0;
    unsigned char frame[5] = {0};
    bool found = signature && !file.error && FindFrameHeader(&window, frame);
    CloseHeaderFile(&file);
    if (file.error) {
        // Wherever the read failed, at the signature or in the walk, nothing is determined.
        if (!info->readError)
            info->readError = file.error;
        return 0;
    }
    if (!signature)
        return 0;

    if (found) {
        ReverseBytes(frame, 2);
        ReverseBytes(frame + 2, 2);
        info->height = static_cast<int32_t>(frame[0] | frame[1] << 8);
        info->width = static_cast<int32_t>(frame[2] | frame[3] << 8);
        info->depth = frame[4] == 3 ? 24 : 8;
    } else {
        info->width = 0;
        info->height = 0;
        info->depth = 0;
    }
    return 1;
}
