// The front end of both command-line tools, qvr on Linux and qvrc.exe on Windows: probes each
// path with the same driver and panel as the dialog and prints what the dialog would show, as
// text or as one JSON object per line. Portable; the platform supplies arguments and encodings.
#include "cli_options.h"
#include "cli_platform.h"
#include "cli_text.h"
#include "cp932_text.h"
#include "image_info.h"
#include "panel_texts.h"
#include "platform_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef QVR_VERSION_SHORT
#error "QVR_VERSION_SHORT must come from the build"
#endif

namespace {

enum {
    OUTPUT_SIZE = 1 << 15,
    MESSAGE_SIZE = 512,
};

const char USAGE_OPTIONS[] =
    " [--json] [--] PATH...\n"
    "Shows what the QVR dialog shows for each image file: name, type, size,\n"
    "pixel dimensions and colours, read from the file's header.\n"
    "\n"
    "  --json      one JSON object per line and file instead of text\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --          every argument after it is a path, even one that begins with '-'\n";
const char USAGE_STATUS[] =
    "\n"
    "Exit status: 0 when every file was found, 1 when any was not, 2 for a usage error\n"
    "or when the output could not be written.\n";

struct CliRun {
    TextOutput* out;
    bool json;
    bool first;
    int status;
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

// Six lines per file, a blank line between files. The labels are two columns wide per
// character: the values line up in column 13.
void PrintText(TextOutput* out, bool first, const PanelTexts* texts)
{
    if (!first)
        PutBytes(out, "\n", 1);
    PutTerminalLine(out, "", texts->caption);
    PutTerminalLine(out, "  ", texts->name);
    PutTerminalLine(out, "  ", texts->type);
    PutTerminalLine(out, "  サイズ    ", texts->size);
    PutTerminalLine(out, "  スケール  ", texts->scale);
    PutTerminalLine(out, "  色数      ", texts->colors);
}

// "qvr: <text>: <what>" on standard error, after everything printed so far.
void PrintMessage(TextOutput* out, const char* text, int encoding, const char* what)
{
    FlushOutput(out);
    char bytes[MESSAGE_SIZE];
    TextOutput message = {bytes, sizeof bytes, 0, stderr, false};
    PutString(&message, g_cliProgramName);
    PutString(&message, ": ");
    PutTerminalText(&message, text, encoding, g_cliTerminalEncoding);
    PutString(&message, what);
    FlushOutput(&message);
}

void ReportPath(void* context, const char* path, bool probe)
{
    CliRun* run = static_cast<CliRun*>(context);
    ImageInfo info;
    int result = 0;
    if (probe)
        result = ProbeCliPath(&info, path);
    else
        BuildMissingFileRecord(&info);
    PanelTexts texts;
    FormatPanelTexts(&info, &texts);
    ReleaseShellIcon(info.icon);
    if (run->json)
        PrintJson(run->out, path, result, &info, &texts);
    else
        PrintText(run->out, run->first, &texts);
    run->first = false;
    if (info.flags & INFO_SIZE_UNKNOWN) {
        run->status = 1;
        PrintMessage(run->out, path, g_cliNameEncoding, ": no such file\n");
    }
}

void PrintUsage(TextOutput* out)
{
    PutString(out, "Usage: ");
    PutString(out, g_cliProgramName);
    PutString(out, USAGE_OPTIONS);
    PutString(out, g_cliUsagePaths);
    PutString(out, USAGE_STATUS);
}

// Everything printed reached its stream; else says so and gives the status for it.
int FinishOutput(TextOutput* out, int status)
{
    if (FlushOutput(out))
        return status;
    int error = errno;
    char bytes[MESSAGE_SIZE];
    TextOutput message = {bytes, sizeof bytes, 0, stderr, false};
    PutString(&message, g_cliProgramName);
    PutString(&message, ": cannot write the output: ");
    PutString(&message, std::strerror(error));
    PutString(&message, "\n");
    FlushOutput(&message);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    char scratch[CLI_ARGUMENT_SIZE];
    int count = OpenCliArguments(argc, argv);
    CliOptions options;
    StartCliOptions(&options);
    for (int i = 1; i < count; ++i) {
        bool exact = true;
        ReadCliArgument(&options, GetCliArgument(i, scratch, &exact));
    }
    FinishCliOptions(&options);

    char bytes[OUTPUT_SIZE];
    TextOutput out = {bytes, sizeof bytes, 0, stdout, false};
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

    // The same reading of the arguments again, now acting on the paths.
    CliRun run = {&out, options.json, true, 0};
    StartCliOptions(&options);
    for (int i = 1; i < count; ++i) {
        bool exact = true;
        const char* argument = GetCliArgument(i, scratch, &exact);
        if (ReadCliArgument(&options, argument))
            ForEachCliPath(argument, exact, false, ReportPath, &run);
    }
    return FinishOutput(&out, run.status);
}
