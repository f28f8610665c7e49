#include "image_info.h"

#include "platform_probe.h"

#include <cstring>

typedef int (*ProbeStep)(ImageInfo* info, const ProbePath* path);

// Only one detector accepts any given extension, so the order decides how many extension tests
// run, never which detector recognises a file.
static const ProbeStep g_detectors[] = {
    ProbeBmp, ProbeGif, ProbePng, ProbeMng, ProbeJpeg, ProbePixia, ProbeRif,
};

int ProbeImageFile(ImageInfo* info, const char* path)
{
    ProbePath probePath = {path, nullptr, {-1, 0, 0, 0, 0}, false, -1, 0};
    return ProbeImagePath(info, &probePath);
}

int ProbeImagePath(ImageInfo* info, ProbePath* path)
{
    memset(info, 0, sizeof *info);
    BeginFileProbe(path);
    int shellAnswered = GetShellFileFacts(info, path);
    int recognised = 0;
    for (ProbeStep detect : g_detectors) {
        recognised = detect(info, path);
        if (recognised || info->readError)
            break;
    }
    EndFileProbe(path);
    // Without the shell's facts, or when the file could not be read, its format is not known: the
    // panel shows placeholders instead of "unsupported".
    if (!recognised && shellAnswered && !info->readError)
        info->flags |= INFO_SCALE_UNSUPPORTED | INFO_COLORS_UNSUPPORTED;
    return recognised;
}
