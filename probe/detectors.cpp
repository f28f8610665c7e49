#include "image_info.h"

#include "platform_probe.h"

#include <cstdio>
#include <cstring>

static char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasExtension(const char* path, const char* extension)
{
    size_t count = strlen(extension);
    size_t length = strlen(path);
    if (length < count)
        return false;
    const char* tail = path + length - count;
    for (size_t i = 0; i < count; ++i) {
        if (ToLowerAscii(tail[i]) != ToLowerAscii(extension[i]))
            return false;
    }
    return true;
}

void ReverseBytes(unsigned char* bytes, int count)
{
    if (count <= 0 || count > 256)
        return;
    unsigned char scratch[256];
    for (int i = 0; i < count; ++i)
        scratch[i] = bytes[count - 1 - i];
    memcpy(bytes, scratch, static_cast<size_t>(count));
}

static uint32_t ReadLe16(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0] | bytes[1] << 8);
}

static uint32_t ReadLe32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

static uint32_t ReadBe16(unsigned char* bytes)
{
    ReverseBytes(bytes, 2);
    return ReadLe16(bytes);
}

static uint32_t ReadBe32(unsigned char* bytes)
{
    ReverseBytes(bytes, 4);
    return ReadLe32(bytes);
}

// Length of a read is never checked: `bytes` starts zeroed, so what a short file did not
// deliver reads as 0 ("not determined") rather than as stale data.
static void ReadAt(FILE* file, long offset, unsigned char* bytes, size_t count)
{
    fseek(file, offset, SEEK_SET);
    size_t delivered = fread(bytes, 1, count, file);
    (void)delivered;
}

// Opens the file when its name ends in `extension` and its first bytes are `signature`. The
// name is tested first, so a file of another format is never opened; a mismatching one is
// closed again.
static FILE* OpenFormat(const char* path, const char* extension, const unsigned char* signature,
                        size_t length)
{
    if (!HasExtension(path, extension))
        return nullptr;
    FILE* file = OpenHeaderStream(path);
    if (!file)
        return nullptr;
    unsigned char head[8] = {0};
    ReadAt(file, 0, head, length);
    if (memcmp(head, signature, length) != 0) {
        fclose(file);
        return nullptr;
    }
    return file;
}

int ProbeBmp(ImageInfo* info, const char* path)
{
    static const unsigned char signature[] = {'B', 'M'};
    FILE* file = OpenFormat(path, "bmp", signature, sizeof signature);
    if (!file)
        return 0;
    // Header size, then the fields of either the 40-byte (or later) header or the old 12-byte
    // core header, whose 16-bit unsigned fields stand at other offsets.
    unsigned char header[16] = {0};
    ReadAt(file, 14, header, sizeof header);
    if (ReadLe32(header) == 12) {
        info->width = static_cast<int32_t>(ReadLe16(header + 4));
        info->height = static_cast<int32_t>(ReadLe16(header + 6));
        info->depth = ReadLe16(header + 10);
    } else {
        info->width = static_cast<int32_t>(ReadLe32(header + 4));
        info->height = static_cast<int32_t>(ReadLe32(header + 8));
        info->depth = ReadLe16(header + 14);
    }
    fclose(file);
    return 1;
}

int ProbeGif(ImageInfo* info, const char* path)
{
    static const unsigned char signature[] = {'G', 'I', 'F'};
    FILE* file = OpenFormat(path, "gif", signature, sizeof signature);
    if (!file)
        return 0;
    unsigned char size[4] = {0};
    unsigned char packed[1] = {0};
    ReadAt(file, 6, size, sizeof size);
    ReadAt(file, 10, packed, sizeof packed);
    fclose(file);
    info->width = static_cast<int32_t>(ReadLe16(size));
    info->height = static_cast<int32_t>(ReadLe16(size + 2));
    // Colour resolution 3 (4 bits per primary) is the only one told apart.
    info->depth = (packed[0] & 0x70) == 0x30 ? 4 : 8;
    return 1;
}

static const unsigned char g_pngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
static const unsigned char g_mngSignature[] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

int ProbePng(ImageInfo* info, const char* path)
{
    FILE* file = OpenFormat(path, "png", g_pngSignature, sizeof g_pngSignature);
    if (!file)
        return 0;
    unsigned char size[8] = {0};
    unsigned char format[2] = {0};
    ReadAt(file, 16, size, sizeof size);
    ReadAt(file, 24, format, sizeof format);
    fclose(file);
    info->width = static_cast<int32_t>(ReadBe32(size));
    info->height = static_cast<int32_t>(ReadBe32(size + 4));
    // Truecolour (types 2 and 6) has three samples per pixel; alpha is not counted.
    info->depth = (format[1] & 0x03) == 0x02 ? format[0] * 3u : format[0];
    return 1;
}

int ProbeMng(ImageInfo* info, const char* path)
{
    FILE* file = OpenFormat(path, "mng", g_mngSignature, sizeof g_mngSignature);
    if (!file)
        return 0;
    unsigned char size[8] = {0};
    ReadAt(file, 16, size, sizeof size);
    fclose(file);
    info->width = static_cast<int32_t>(ReadBe32(size));
    info->height = static_cast<int32_t>(ReadBe32(size + 4));
    info->flags |= INFO_COLORS_UNSUPPORTED;
    return 1;
}

int ProbePixia(ImageInfo* info, const char* path)
{
    static const unsigned char signature[] = {'P', 'i', 'x', 'i', 'a'};
    FILE* file = OpenFormat(path, "pxa", signature, sizeof signature);
    if (!file)
        return 0;
    unsigned char size[8] = {0};
    ReadAt(file, 228, size, sizeof size);
    fclose(file);
    info->width = static_cast<int32_t>(ReadLe32(size));
    info->height = static_cast<int32_t>(ReadLe32(size + 4));
    info->depth = 24;
    return 1;
}

int ProbeRif(ImageInfo* info, const char* path)
{
    static const unsigned char signature[] = {0x00, 0x02, 0x00, 0x01};
    FILE* file = OpenFormat(path, "rif", signature, sizeof signature);
    if (!file)
        return 0;
    unsigned char size[4] = {0};
    ReadAt(file, 4, size, sizeof size);
    fclose(file);
    // Height first, then width.
    info->height = static_cast<int32_t>(ReadBe16(size));
    info->width = static_cast<int32_t>(ReadBe16(size + 2));
    info->depth = 24;
    return 1;
}
