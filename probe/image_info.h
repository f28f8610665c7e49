// The per-file record that a probe fills and the panel reads, and the probing steps.
// Portable: no platform header. All text is code page 932, zero-terminated.
#pragma once

#include <cstdint>
#include <cstddef>

enum ImageInfoFlags : uint32_t {
    INFO_DEFAULT_ICON = 0x01,       // show the stock warning icon instead of `icon`
    INFO_PLAIN_TITLE = 0x02,        // caption without the file name
    INFO_SIZE_UNKNOWN = 0x08,       // "??? Byte"
    INFO_SCALE_UNSUPPORTED = 0x10,  // dimensions "未サポート"
    INFO_COLORS_UNSUPPORTED = 0x20, // colours "未サポート"
};

enum {
    INFO_NAME_SIZE = 256,
    INFO_TYPE_NAME_SIZE = 80,
};

// A plain fixed-size value; cleared as a whole at the start of every probe.
struct ImageInfo {
    void* icon;                         // opaque platform icon handle (HICON on Windows); null = none
    char name[INFO_NAME_SIZE];          // display name, or a message in its place
    char typeName[INFO_TYPE_NAME_SIZE]; // shell type name (may be empty), or a message
    uint32_t fileSize;                  // low 32 bits of the size in bytes; see fileSizeHigh
    int32_t width;                      // 0 = not determined
    int32_t height;                     // 0 = not determined; a negative header value stays negative
    uint32_t depth;                     // bits per pixel; 0 = not determined
    uint32_t flags;                     // ImageInfoFlags
    uint32_t fileSizeHigh;              // high 32 bits of the size: the panel and the tools
                                        // show the whole size
    uint32_t readError;                 // the platform's error code (errno, GetLastError) when
                                        // the file is there but could not be looked up or read:
                                        // its facts are not determined; 0 otherwise
};

// What the platform took of a file when its probe began (on Linux: an O_PATH descriptor and what
// fstat said of it), so that every step looks at the same file. Only the platform file reads it.
struct FileLook {
    intptr_t handle; // -1: none, or the path could not be looked up
    uint32_t mode;
    uint64_t device;
    uint64_t inode;
    uint64_t size;
    uint32_t error = 0; // without a handle: the platform's code when the path may name something
                        // that could not be looked at; 0 when nothing is there
};

// The path of one probe, as every step takes it: the text the detectors test the extension of,
// the form that reaches the file system where it differs, and the platform's look at the file.
// It lives for one probe on the prober's stack, so probes running side by side share nothing.
struct ProbePath {
    const char* text;    // as the driver was given it; code page 932 on Windows
    const wchar_t* wide; // Windows: the exact Unicode path the file system gets; null elsewhere
    FileLook look;
    // Linux, for a walked tree: `text` from `beneath` on lies below the open folder `folder` and
    // is looked up there, no link followed but the last, so that nothing outside the tree is
    // reached however the tree changes meanwhile.
    bool inFolder;
    intptr_t folder;
    size_t beneath;
};

// Fills `info` for `path`. 1 when a detector recognised the file, else 0; the record carries
// every outcome either way.
int ProbeImageFile(ImageInfo* info, const char* path);

// The same for a path whose file-system form is given beside its text (`path->wide`); the driver
// takes and drops the look itself.
int ProbeImagePath(ImageInfo* info, ProbePath* path);

// Icon, type name, display name and size. 1 when the shell answered and the file was found. A
// lookup that failed for a reason other than the file's absence sets `readError`.
int GetShellFileFacts(ImageInfo* info, const ProbePath* path);

// What GetShellFileFacts writes when the shell does not answer, and when the file is not found.
inline constexpr char INFO_NO_TYPE_NAME_TEXT[] = "ファイルタイプを取得できません。";
inline constexpr char INFO_BAD_FILE_NAME_TEXT[] = "ファイル名が不正です。";

// Clears `info` and fills it as a probe does for a path that the shell does not know and the
// search does not find: both messages, no icon, the plain caption and no numbers. For a path
// that is not probed at all (too long to be taken whole, or naming nothing this program can open).
void BuildMissingFileRecord(ImageInfo* info);

// Detectors: 1 = recognised and fields stored; 0 = not this format, record unchanged, or the
// file could not be opened or read: then `readError` says why (the first failure of the probe
// is kept) and nothing else is stored.
int ProbeBmp(ImageInfo* info, const ProbePath* path);
int ProbeGif(ImageInfo* info, const ProbePath* path);
int ProbePng(ImageInfo* info, const ProbePath* path);
int ProbeMng(ImageInfo* info, const ProbePath* path);
int ProbeJpeg(ImageInfo* info, const ProbePath* path);
int ProbePixia(ImageInfo* info, const ProbePath* path);
int ProbeRif(ImageInfo* info, const ProbePath* path);

// True when the last strlen(extension) bytes of `path` equal `extension`, ASCII case ignored.
bool HasExtension(const char* path, const char* extension);

// Reverses `count` bytes in place (count <= 256); turns a big-endian field little-endian.
void ReverseBytes(unsigned char* bytes, int count);
