#include "image_info.h"

#include "platform_probe.h"

#include <cstdio>
#include <cstring>

// The walk over the marker segments only ever moves forward, so the file is read once,
// front to back, through a window, and the walk's steps cost no file operations of their own.
static const size_t JPEG_WINDOW_SIZE = 64 * 1024;

struct JpegWindow {
    FILE* file;
    uint64_t base;  // file offset of data[0]
    size_t count;   // bytes held in data
    bool ended;     // the file has delivered its last byte
    unsigned char data[JPEG_WINDOW_SIZE];
};

// Reads up to `count` bytes behind the held ones; a short read means the end of the file.
static size_t ReadMore(JpegWindow* window, unsigned char* into, size_t count)
{
    size_t delivered = fread(into, 1, count, window->file);
    if (delivered < count)
        window->ended = true;
    return delivered;
}

// Makes the bytes from `offset` on (offset >= base) available, up to `wanted` (at most 16).
// Returns how many are held from `offset` on: fewer than wanted only at the end of the file.
static size_t HoldBytes(JpegWindow* window, uint64_t offset, size_t wanted)
{
    uint64_t skip = offset - window->base;
    if (skip + wanted <= window->count)
        return wanted;
    if (skip >= window->count) {
        // Everything held lies before `offset`: read over the gap. An offset past the end of
        // the file holds nothing, as a seek past the end followed by a read would.
        uint64_t gap = skip - window->count;
        window->base += window->count;
        window->count = 0;
        while (gap > 0 && !window->ended) {
            size_t ask = gap < JPEG_WINDOW_SIZE ? static_cast<size_t>(gap) : JPEG_WINDOW_SIZE;
            size_t delivered = ReadMore(window, window->data, ask);
            window->base += delivered;
            gap -= delivered;
        }
        if (gap > 0)
            return 0;
    } else {
        size_t keep = window->count - static_cast<size_t>(skip);
        memmove(window->data, window->data + skip, keep);
        window->base = offset;
        window->count = keep;
    }
    while (window->count < wanted && !window->ended)
        window->count += ReadMore(window, window->data + window->count,
                                  JPEG_WINDOW_SIZE - window->count);
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

// Offset of the first non-zero byte at or after `offset`, or the end of the file. The three
// zero bytes before `offset` stay held, so the walk can read a head that starts among them.
static uint64_t SkipZeroRun(JpegWindow* window, uint64_t offset)
{
    for (;;) {
        if (offset == window->base + window->count && !window->ended) {
            // Everything held is zero: a hole of a sparse file need not be read at all.
            uint64_t next = SkipFileHole(window->file, offset);
            if (next > offset) {
                memset(window->data, 0, 3);
                window->base = next - 3;
                window->count = 3;
                offset = next;
            }
        }
        if (HoldBytes(window, offset - 3, 4) < 4)
            return offset;
        size_t at = static_cast<size_t>(offset - window->base);
        size_t run = CountZeroBytes(window->data + at, window->count - at);
        offset += run;
        if (at + run < window->count)
            return offset;
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

int ProbeJpeg(ImageInfo* info, const char* path)
{
    if (!HasExtension(path, "jpg") && !HasExtension(path, "jpeg"))
        return 0;
    FILE* file = OpenHeaderStream(path);
    if (!file)
        return 0;
    JpegWindow window;
    window.file = file;
    window.base = 0;
    window.count = 0;
    window.ended = false;
    fseek(file, 0, SEEK_SET);

    unsigned char head[10] = {0};
    size_t held = HoldBytes(&window, 0, sizeof head);
    memcpy(head, window.data, held);
    if (head[0] != 0xFF || head[1] != 0xD8 || memcmp(head + 6, "\x4A\x46\x49\x46", 4) != 0) {
        fclose(file);
        return 0;
    }
    unsigned char frame[5] = {0};
    bool found = FindFrameHeader(&window, frame);
    fclose(file);

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
