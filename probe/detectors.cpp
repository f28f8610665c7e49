#include "image_info.h"

#include "platform_probe.h"

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

static void NoteReadError(ImageInfo* info, const HeaderFile* file)
{
    if (file->error && !info->readError)
        info->readError = file->error;
}

// Reads the first `count` bytes of the file when its name ends in `extension` and the file
// begins with `signature`. The name is tested first, so a file of another format is never
// opened; one read serves the signature and every field. Bytes that a short file does not hold
// read as 0 ("not determined") rather than as stale data. A file that could not be read is of
// no format: its failure goes into the record.
static bool ReadFormatHeader(ImageInfo* info, const ProbePath* path, const char* extension,
                             const unsigned char* signature, size_t signatureLength, unsigned char* header,
                             size_t count)
{
    if (!HasExtension(path->text, extension))
        return false;
    HeaderFile file;
    if (!OpenHeaderFile(path, &file)) {
        NoteReadError(info, &file);
        return false;
    }
    memset(header, 0, count);
    size_t delivered = ReadHeaderBytes(&file, 0, header, count);
    CloseHeaderFile(&file);
    NoteReadError(info, &file);
    return !file.error && delivered >= signatureLength && memcmp(header, signature, signatureLength) == 0;
}

int ProbeBmp(ImageInfo* info, const ProbePath* path)
{
    static const unsigned char signature[] = {'B', 'M'};
    unsigned char header[30];
    if (!ReadFormatHeader(info, path, "bmp", signature, sizeof signature, header, sizeof header))
        return 0;
    // The header size at 14 tells the old 12-byte core header, whose 16-bit unsigned fields
    // stand at other offsets, from every later header with its signed 32-bit fields.
    if (ReadLe32(header + 14) == 12) {
        info->width = static_cast<int32_t>(ReadLe16(header + 18));
        info->height = static_cast<int32_t>(ReadLe16(header + 20));
        info->depth = ReadLe16(header + 24);
    } else {
        info->width = static_cast<int32_t>(ReadLe32(header + 18));
        info->height = static_cast<int32_t>(ReadLe32(header + 22));
        info->depth = ReadLe16(header + 28);
    }
    return 1;
}

int ProbeGif(ImageInfo* info, const ProbePath* path)
{
    static const unsigned char signature[] = {'G', 'I', 'F'};
    unsigned char header[11];
    if (!ReadFormatHeader(info, path, "gif", signature, sizeof signature, header, sizeof header))
        return 0;
    info->width = static_cast<int32_t>(ReadLe16(header + 6));
    info->height = static_cast<int32_t>(ReadLe16(header + 8));
    // Colour resolution 3 (4 bits per primary) is the only one told apart.
    info->depth = (header[10] & 0x70) == 0x30 ? 4 : 8;
    return 1;
}

static const unsigned char g_pngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
static const unsigned char g_mngSignature[] = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

int ProbePng(ImageInfo* info, const ProbePath* path)
{
    unsigned char header[26];
    if (!ReadFormatHeader(info, path, "png", g_pngSignature, sizeof g_pngSignature, header, sizeof header))
        return 0;
    info->width = static_cast<int32_t>(ReadBe32(header + 16));
    info->height = static_cast<int32_t>(ReadBe32(header + 20));
    // Truecolour (types 2 and 6) has three samples per pixel; alpha is not counted.
    info->depth = (header[25] & 0x03) == 0x02 ? header[24] * 3u : header[24];
    return 1;
}

int ProbeMng(ImageInfo* info, const ProbePath* path)
{
    unsigned char header[24];
    if (!ReadFormatHeader(info, path, "mng", g_mngSignature, sizeof g_mngSignature, header, sizeof header))
        return 0;
    info->width = static_cast<int32_t>(ReadBe32(header + 16));
    info->height = static_cast<int32_t>(ReadBe32(header + 20));
    info->flags |= INFO_COLORS_UNSUPPORTED;
    return 1;
}

int ProbePixia(ImageInfo* info, const ProbePath* path)
{
    static const unsigned char signature[] = {'P', 'i', 'x', 'i', 'a'};
    unsigned char header[236];
    if (!ReadFormatHeader(info, path, "pxa", signature, sizeof signature, header, sizeof header))
        return 0;
    info->width = static_cast<int32_t>(ReadLe32(header + 228));
    info->height = static_cast<int32_t>(ReadLe32(header + 232));
    info->depth = 24;
    return 1;
}

int ProbeRif(ImageInfo* info, const ProbePath* path)
{
    static const unsigned char signature[] = {0x00, 0x02, 0x00, 0x01};
    unsigned char header[8];
    if (!ReadFormatHeader(info, path, "rif", signature, sizeof signature, header, sizeof header))
        return 0;
    // Height first, then width.
    info->height = static_cast<int32_t>(ReadBe16(header + 4));
    info->width = static_cast<int32_t>(ReadBe16(header + 6));
    info->depth = 24;
    return 1;
}
