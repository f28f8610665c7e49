// Writes each input to a file under every extension the probe knows and probes it with the
// platform file it is linked with. The JPEG results must equal those of the plain walk.
#include "image_info.h"
#include "jpeg_reference.h"
#include "platform_probe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

static const char* const g_extensions[] = {".bmp", ".gif", ".png", ".mng", ".jpg", ".jpeg", ".pxa", ".rif"};

static std::string g_directory;

static void RemoveDirectory()
{
    for (const char* extension : g_extensions)
        unlink((g_directory + "/input" + extension).c_str());
    rmdir(g_directory.c_str());
}

static const std::string& Directory()
{
    if (g_directory.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvr-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            abort();
        g_directory = pattern;
        atexit(RemoveDirectory);
    }
    return g_directory;
}

static void CheckText(const char* text, size_t size)
{
    if (!memchr(text, '\0', size))
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const char* extension : g_extensions) {
        std::string path = Directory() + "/input" + extension;
        FILE* file = fopen(path.c_str(), "wb");
        if (!file)
            abort();
        if (size > 0 && fwrite(data, 1, size, file) != size)
            abort();
        fclose(file);

        ImageInfo info;
        memset(&info, 0xA5, sizeof info);
        int result = ProbeImageFile(&info, path.c_str());
        CheckText(info.name, sizeof info.name);
        CheckText(info.typeName, sizeof info.typeName);
        if (strncmp(extension, ".jp", 3) == 0) {
            JpegReference expected = WalkJpegReference(data, size);
            if (result != expected.result ||
                (result && (info.width != expected.width || info.height != expected.height ||
                            info.depth != expected.depth)))
                __builtin_trap();
        }
        ReleaseShellIcon(info.icon);
    }
    return 0;
}
