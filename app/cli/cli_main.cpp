// The front end of both command-line tools, qvr on Linux and qvrc.exe on Windows: probes each
// path with the same driver and panel as the dialog and prints what the dialog would show, as
// text or as one JSON object per line, in the order of the arguments (folders walked with -r),
// however many probes run at once. Portable; the platform supplies arguments, encodings,
// folders and threads.
#include "cli_batch.h"
#include "cli_options.h"
#include "cli_platform.h"
#include "cli_text.h"
#include "cli_walk.h"
#include "cp932_text.h"
#include "image_info.h"
#include "panel_texts.h"
#include "platform_probe.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#ifndef QVR_VERSION_SHORT
#error "QVR_VERSION_SHORT must come from the build"
#endif

namespace {

enum {
    OUTPUT_SIZE = 1 << 15,
    MESSAGE_SIZE = 512,
    PROGRESS_INTERVAL = 250000, // microseconds: the progress line is redrawn at most four times a second
    PROGRESS_FOLDER_COLUMNS = 48,
    STATUS_INTERRUPTED = 130,
};

const char USAGE_OPTIONS[] =
    " [--json] [-r] [-x] [-j N] [--] PATH...\n"
    "Shows what the QVR dialog shows for each image file: name, type, size,\n"
    "pixel dimensions and colours, read from the file's header.\n"
    "\n"
    "  --json            one JSON object per line and file instead of text\n"
    "  -r, --recursive   a folder stands for every file beneath it, folder by\n"
    "                    folder in name order; links are not followed\n"
    "  -x, --one-file-system\n"
    "                    with -r, stay on the file systems of the folders given\n"
    ;
// The numbers of jobs come from the batch.
const char USAGE_JOBS[] = "  -j, --jobs N      probe up to N files at once (1 to %d, default %d); the\n";
const char USAGE_MORE_OPTIONS[] =
    "                    output is the same for every N, in the order given\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "  --                every argument after it is a path, even one that begins with '-'\n";
const char USAGE_STATUS[] =
    "\n"
    "Exit status: 0 when every file was found and read, 1 when any was not or a\n"
    "folder could not be read, 2 for a usage error, when the output could not be\n"
    "written or memory ran out, 130 when interrupted.\n";

// The status line on standard error while a long run goes on.
struct Progress {
    bool shown;          // drawn at all: standard error is a terminal and standard output is not
    uint64_t start;      // CliMicroseconds at the start
    uint64_t drawn;      // ... at the last redraw
    size_t width;        // columns of the line on screen now; 0: none
};

struct CliRun {
    TextOutput* out;
    bool json;
    bool first;
    int status;
    Progress progress;
    CliWalk walk;
};

void PutJsonField(TextOutput* out, const char* key, const char* cp932Text)
{
    PutString(out, key);
    PutJsonString(out, cp932Text, TEXT_CP932);
}

// One object per line, keys in a fixed order. When the path is not valid in the name encoding,
// "pathBytes" holds its exact bytes, so that every line names its file.
void PrintJson(TextOutput* out, const char* path, int result, const ImageInfo* info, const PanelTexts* texts)
{
    PutString(out, "{\"path\":");
    PutJsonString(out, path, g_cliNameEncoding);
    if (!IsValidText(path, g_cliNameEncoding)) {
        PutString(out, ",\"pathBytes\":");
        PutJsonHex(out, path);
    }
    PutString(out, ",\"result\":");
    PutSigned(out, result);
    PutJsonField(out, ",\"name\":", info->name);
    PutJsonField(out, ",\"typeName\":", info->typeName);
    PutString(out, ",\"fileSize\":");
    PutUnsigned(out, static_cast<uint64_t>(info->fileSizeHigh) << 32 | info->fileSize);
    PutString(out, ",\"width\":");
    PutSigned(out, info->width);
    PutString(out, ",\"height\":");
    PutSigned(out, info->height);
    PutString(out, ",\"depth\":");
    PutUnsigned(out, info->depth);
    PutString(out, ",\"flags\":");
    PutUnsigned(out, info->flags);
    PutJsonField(out, ",\"caption\":", texts->caption);
    PutJsonField(out, ",\"texts\":{\"name\":", texts->name);
    PutJsonField(out, ",\"type\":", texts->type);
    PutJsonField(out, ",\"size\":", texts->size);
    PutJsonField(out, ",\"scale\":", texts->scale);
    PutJsonField(out, ",\"colors\":", texts->colors);
    PutString(out, "}}\n");
}

void PutTerminalLine(TextOutput* out, const char* label, const char* text)
{
    PutTerminalText(out, label, TEXT_CP932, g_cliTerminalEncoding);
    PutTerminalText(out, text, TEXT_CP932, g_cliTerminalEncoding);
    PutBytes(out, "\n", 1);
}

// Six lines per file; the blank line between files is put in when printing. The labels are two
// columns wide per character: the values line up in column 13.
void PrintText(TextOutput* out, const PanelTexts* texts)
{
    PutTerminalLine(out, "", texts->caption);
    PutTerminalLine(out, "  ", texts->name);
    PutTerminalLine(out, "  ", texts->type);
    PutTerminalLine(out, "  サイズ    ", texts->size);
    PutTerminalLine(out, "  スケール  ", texts->scale);
    PutTerminalLine(out, "  色数      ", texts->colors);
}

// The same on standard error at once, after everything printed so far.
void PrintMessage(TextOutput* out, const char* text, int encoding, const char* what)
{
    FlushOutput(out);
    char bytes[MESSAGE_SIZE];
    TextOutput message = {bytes, sizeof bytes, 0, stderr, false, 0, nullptr, nullptr};
    PutCliMessage(&message, text, encoding, what);
    FlushOutput(&message);
}

// On a prober thread: what `path` shows, and its message when it is missing.
void ReportPathNow(void* context, const CliItem& item, const char* unprobed, CliResult* result)
{
    const CliRun* run = static_cast<const CliRun*>(context);
    const std::string& path = item.path;
    ImageInfo info;
    int found = 0;
    if (unprobed)
        BuildMissingFileRecord(&info);
    else
        found = ProbeCliPath(&info, &item);
    PanelTexts texts;
    FormatPanelTexts(&info, &texts);
    ReleaseShellIcon(info.icon);
    char bytes[4096];
    TextOutput out = CliStringOutput(bytes, sizeof bytes, &result->out);
    if (run->json)
        PrintJson(&out, path.c_str(), found, &info, &texts);
    else
        PrintText(&out, &texts);
    FlushOutput(&out);
    if (info.readError != 0 || (info.flags & INFO_SIZE_UNKNOWN)) {
        result->failed = true;
        TextOutput message = CliStringOutput(bytes, sizeof bytes, &result->err);
        if (info.readError != 0) {
            char reason[MESSAGE_SIZE];
            FormatProbeError(info.readError, reason, sizeof reason);
            PutCliMessage(&message, path.c_str(), g_cliNameEncoding, ": cannot read the file: ");
            PutTerminalText(&message, reason, TEXT_CP932, g_cliTerminalEncoding);
            PutString(&message, "\n");
        } else {
            PutCliMessage(&message, path.c_str(), g_cliNameEncoding, unprobed ? unprobed : ": no such file\n");
        }
        FlushOutput(&message);
    }
}

// A prober that runs out of memory stops the batch; the submitting thread then ends the run.
void ReportPath(void* context, const CliItem& item, const char* unprobed, CliResult* result)
{
#if __cpp_exceptions
    try {
        ReportPathNow(context, item, unprobed, result);
    } catch (const std::bad_alloc&) {
        StopCliBatch(CLI_OUT_OF_MEMORY);
    }
#else
    ReportPathNow(context, item, unprobed, result); // qvrc.exe: OnCliOutOfMemory
#endif
}

void EraseProgress(Progress* progress)
{
    if (progress->width == 0)
        return;
    std::string blank = "\r" + std::string(progress->width, ' ') + "\r";
    WriteCliOutput(stderr, blank.data(), blank.size());
    std::fflush(stderr);
    progress->width = 0;
}

// The last characters of `text` that take at most `columns` columns (wide characters two).
const char* TailColumns(const char* text, size_t columns, size_t* used)
{
    std::vector<std::pair<const char*, size_t>> characters;
    for (const char* at = text; *at != '\0';) {
        uint32_t c;
        bool valid;
        size_t length = DecodeCharacter(at, g_cliNameEncoding, &c, &valid);
        characters.emplace_back(at, c >= 0x1100 ? 2 : 1);
        at += length;
    }
    const char* start = text + std::strlen(text);
    *used = 0;
    for (auto it = characters.rbegin(); it != characters.rend() && *used + it->second <= columns; ++it) {
        start = it->first;
        *used += it->second;
    }
    return start;
}

void DrawProgress(CliRun* run)
{
    Progress* progress = &run->progress;
    uint64_t now = CliMicroseconds();
    if (!progress->shown || now - progress->drawn < PROGRESS_INTERVAL)
        return;
    progress->drawn = now;
    unsigned long long done = CliBatchPrinted();
    uint64_t elapsed = now - progress->start;
    // The line stays short of the terminal's last column: one that reached it would wrap (or
    // leave the cursor waiting to), and the next "\r" would no longer go back over all of it.
    size_t columns = CliTerminalColumns(stderr);
    size_t room = columns > 1 ? columns - 1 : 79;
    char counts[64];
    std::snprintf(counts, sizeof counts, "%llu files, %llu/s", done,
                  static_cast<unsigned long long>(elapsed ? done * 1000000ull / elapsed : 0));
    counts[std::min(room, std::strlen(counts))] = '\0';
    size_t used = 0;
    size_t folderRoom = room > std::strlen(counts) + 8 ? room - std::strlen(counts) - 8 : 0;
    const char* folder = TailColumns(run->walk.folder.c_str(), std::min<size_t>(PROGRESS_FOLDER_COLUMNS, folderRoom), &used);
    bool cut = folder != run->walk.folder.c_str();
    char bytes[MESSAGE_SIZE];
    std::string line;
    TextOutput text = CliStringOutput(bytes, sizeof bytes, &line);
    PutString(&text, "\r");
    PutString(&text, counts);
    if (used > 0) {
        PutString(&text, cut ? ", in ..." : ", in ");
        PutTerminalText(&text, folder, g_cliNameEncoding, g_cliTerminalEncoding);
    }
    FlushOutput(&text);
    size_t width = std::strlen(counts) + (used > 0 ? used + (cut ? 8 : 5) : 0);
    progress->width = std::min(progress->width, room); // a terminal made narrower cut the rest off
    if (width < progress->width) // cover what is left of a longer line
        line.append(progress->width - width, ' ');
    progress->width = std::max(width, progress->width);
    WriteCliOutput(stderr, line.data(), line.size());
    std::fflush(stderr);
}

void Tick(void* context)
{
    DrawProgress(static_cast<CliRun*>(context));
}

void Flush(void* context)
{
    FlushOutput(static_cast<CliRun*>(context)->out);
}

// On the submitting thread, in order: a blank line between files in text form, the file's text,
// then its message.
bool PrintResult(void* context, const CliResult* result)
{
    CliRun* run = static_cast<CliRun*>(context);
    if (!result->out.empty()) {
        if (!run->json && !run->first)
            PutBytes(run->out, "\n", 1);
        run->first = false;
        PutBytes(run->out, result->out.data(), result->out.size());
    }
    if (!result->err.empty()) {
        EraseProgress(&run->progress);
        FlushOutput(run->out);
        WriteCliOutput(stderr, result->err.data(), result->err.size());
        std::fflush(stderr);
    }
    if (result->failed)
        run->status = 1;
    return !run->out->failed;
}

void PrintUsage(TextOutput* out)
{
    PutString(out, "Usage: ");
    PutString(out, g_cliProgramName);
    PutString(out, USAGE_OPTIONS);
    char jobs[sizeof USAGE_JOBS + 16];
    std::snprintf(jobs, sizeof jobs, USAGE_JOBS, CLI_JOBS_LIMIT, CLI_DEFAULT_JOBS);
    PutString(out, jobs);
    PutString(out, USAGE_MORE_OPTIONS);
    PutString(out, g_cliUsagePaths);
    PutString(out, USAGE_STATUS);
}

// Everything printed reached its stream; else says so, unless the reader has gone, and gives
// the status for it.
int FinishOutput(TextOutput* out, int status)
{
    if (FlushOutput(out))
        return status;
    if (IsCliOutputGone(out->error))
        return 2;
    char bytes[MESSAGE_SIZE];
    TextOutput message = {bytes, sizeof bytes, 0, stderr, false, 0, nullptr, nullptr};
    PutString(&message, g_cliProgramName);
    PutString(&message, ": cannot write the output: ");
    PutString(&message, std::strerror(out->error));
    PutString(&message, "\n");
    FlushOutput(&message);
    return 2;
}

CliRun* g_run;
uint64_t g_submitter; // the thread that walks, submits and prints

// The same reading of the arguments as before, now acting on the paths. False when the batch
// stopped early.
bool ProbeArguments(int count, char* scratch)
{
    CliOptions options;
    StartCliOptions(&options);
    for (int i = 1; i < count && g_run->walk.going; ++i) {
        bool exact = true;
        const char* argument = GetCliArgument(i, scratch, &exact);
        if (ReadCliArgument(&options, argument))
            SubmitCliArgument(&g_run->walk, argument, exact);
    }
    if (!g_run->walk.going || !EndCliBatch())
        return false;
    FinishCliWalk(&g_run->walk);
    return true;
}

// Ends a run that stopped early. Whole results only were printed; probers still deep in a file are
// not waited for, and nothing they may touch is freed: the process ends here.
[[noreturn]] void EndStoppedRun(int status)
{
    int stop = CliBatchStop();
    if (stop == CLI_OUT_OF_MEMORY)
        std::fprintf(stderr, "%s: out of memory\n", g_cliProgramName);
    std::fflush(stderr);
    std::_Exit(stop == CLI_INTERRUPTED ? STATUS_INTERRUPTED : status == 0 ? 2 : status);
}

void StopOnInterrupt()
{
    StopCliBatch(CLI_INTERRUPTED);
}

} // namespace

void OnCliOutOfMemory()
{
    StopCliBatch(CLI_OUT_OF_MEMORY);
    if (!g_run || CurrentCliThread() != g_submitter) {
        // A prober: the submitting thread ends the run; this one waits for the end.
        LockCliBatch();
        for (;;)
            WaitCliBatch(CLI_WORK_READY);
    }
    // Nothing was taken here that this needs: whole results go out, then the message.
    FinishOutput(g_run->out, g_run->status);
    EndStoppedRun(2);
}

int main(int argc, char** argv)
{
    // The buffers are large: on the heap, the program runs on the smallest of stacks.
    std::vector<char> argumentBytes(CLI_ARGUMENT_SIZE);
    char* scratch = argumentBytes.data();
    int count = OpenCliArguments(argc, argv);
    CliOptions options;
    StartCliOptions(&options);
    for (int i = 1; i < count; ++i) {
        bool exact = true;
        ReadCliArgument(&options, GetCliArgument(i, scratch, &exact));
    }
    FinishCliOptions(&options);
    SetCliOutputEncoding(stdout, options.json ? TEXT_UTF8 : g_cliTerminalEncoding);

    std::vector<char> outputBytes(OUTPUT_SIZE);
    TextOutput out = {outputBytes.data(), outputBytes.size(), 0, stdout, false, 0, nullptr, nullptr};
    WatchCliInterrupts(StopOnInterrupt, STATUS_INTERRUPTED);
    switch (options.action) {
    case CLI_HELP:
        PrintUsage(&out);
        return FinishOutput(&out, 0);
    case CLI_VERSION:
        PutString(&out, "QVR Version " QVR_VERSION_SHORT "\n");
        return FinishOutput(&out, 0);
    case CLI_USAGE_ERROR:
        PrintMessage(&out, options.error, g_cliNameEncoding, "\n");
        std::fprintf(stderr, "Try '%s --help' for more information.\n", g_cliProgramName);
        return 2;
    default:
        break;
    }

    CliRun run = {&out, options.json, true, 0, {}, {options.recursive, options.oneFileSystem, true, {}, {}}};
    g_run = &run;
    g_submitter = CurrentCliThread();
    run.progress.shown = IsCliTerminal(stderr) && !IsCliTerminal(stdout);
    run.progress.start = run.progress.drawn = CliMicroseconds();
    CliBatchCalls calls = {ReportPath, PrintResult, Tick, Flush, &run};
    StartCliBatch(options.jobs, &calls);
    bool finished = false;
#if __cpp_exceptions
    try {
        finished = ProbeArguments(count, scratch);
    } catch (const std::bad_alloc&) {
        OnCliOutOfMemory();
    }
#else
    finished = ProbeArguments(count, scratch);
#endif
    EraseProgress(&run.progress);
    int status = FinishOutput(&out, run.status);
    if (!finished)
        EndStoppedRun(status);
    return status;
}
