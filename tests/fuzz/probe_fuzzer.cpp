// Each input probed under every extension: both texts end within their fields, JPEG results equal the plain walk's.
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

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = getenv("TMPDIR");
    g_directory = std::string(tmp && *tmp ? tmp : "/tmp") + "/qvr-fuzz-XXXXXX";
    if (!mkdtemp(g_directory.data()))
        abort();
    atexit([] { rmdir(g_directory.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JpegReference jpeg = WalkJpegReference(data, size);
    for (const char* extension : g_extensions) {
        std::string path = g_directory + "/input" + extension;
        FILE* file = fopen(path.c_str(), "wb");
        if (!file || (size > 0 && fwrite(data, 1, size, file) != size) || fclose(file) != 0)
            abort();
        ImageInfo info;
        memset(&info, 0xA5, sizeof info);
        int result = ProbeImageFile(&info, path.c_str());
        ReleaseShellIcon(info.icon);
        unlink(path.c_str());
        if (!memchr(info.name, '\0', sizeof info.name) || !memchr(info.typeName, '\0', sizeof info.typeName))
            __builtin_trap();
        bool sameAsPlainWalk = result == jpeg.result && (!result || (info.width == jpeg.width &&
                               info.height == jpeg.height && info.depth == jpeg.depth));
        if (strncmp(extension, ".jp", 3) == 0 && !sameAsPlainWalk)
            __builtin_trap();
    }
    return 0;
}
