// qvr: the Linux command-line front end. Probes each path with the same driver and panel as the
// dialog and prints what the dialog would show, as UTF-8 text or as one JSON object per line.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli_options.h"
#include "image_info.h"
#include "panel_texts.h"
#include "platform_probe.h"

#ifndef QVR_VERSION_SHORT
#error "QVR_VERSION_SHORT must come from the build"
#endif

namespace {

const char USAGE[] =
    "Usage: qvr [--json] [--] PATH...\n"
    "Shows what the QVR dialog shows for each image file: name, type, size,\n"
    "pixel dimensions and colours, read from the file's header.\n"
    "\n"
    "  --json      one JSON object per line and file instead of text\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --          every argument after it is a path, even one that begins with '-'\n"
    "\n"
    "Exit status: 0 when every file was found, 1 when any was not, 2 for a usage error\n"
    "or when the output could not be written.\n";

// Code page 932 to UTF-8. A byte that is no CP932 character becomes U+FFFD, so the result is
// always valid UTF-8 whatever a name holds.
std::string Cp932ToUtf8(iconv_t converter, const char* text)
{
    std::string result;
    char* in = const_cast<char*>(text);
    size_t inLeft = std::strlen(text);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        char buffer[1024];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
        result.append(buffer, static_cast<size_t>(out - buffer));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            result += u8"\uFFFD";
            ++in;
            --inLeft;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}

// Decodes one UTF-8 sequence at `text`; returns its length, or 0 when it is not valid.
size_t Utf8SequenceLength(const unsigned char* text, size_t left, unsigned long* codePoint)
{
    unsigned char first = text[0];
    size_t length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3
                  : (first >> 3) == 30 ? 4 : 0;
    if (length == 0 || length > left)
        return 0;
    unsigned long value = length == 1 ? first : first & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (text[i] & 0x3F);
    }
    static const unsigned long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

// For the terminal: control characters become their visible pictures (U+2400 + code, U+2421
// for DEL) so that a file name cannot move the cursor or change colours; invalid UTF-8 becomes
// U+FFFD.
std::string ForTerminal(const std::string& text)
{
    std::string result;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        unsigned long codePoint = 0;
        size_t length = Utf8SequenceLength(bytes + i, text.size() - i, &codePoint);
        if (length == 0) {
            result += u8"\uFFFD";
            ++i;
            continue;
        }
        if (codePoint < 0x20) {
            char picture[4] = {'\xE2', '\x90', static_cast<char>(0x80 + codePoint), '\0'};
            result += picture;
        } else if (codePoint == 0x7F) {
            result += u8"\u2421";
        } else if (codePoint >= 0x80 && codePoint < 0xA0) {
            result += u8"\uFFFD";
        } else {
            result.append(text, i, length);
        }
        i += length;
    }
    return result;
}

// The dialog's texts for one path, in UTF-8.
struct ProbeReport {
    int result;
    ImageInfo info;
    std::string name, typeName, caption;
    std::string textName, textType, textSize, textScale, textColors;
};

ProbeReport ProbePath(iconv_t converter, const char* path)
{
    ProbeReport report;
    report.result = ProbeImageFile(&report.info, path);
    PanelTexts texts;
    FormatPanelTexts(&report.info, &texts);
    ReleaseShellIcon(report.info.icon);
    report.info.icon = nullptr;
    report.name = Cp932ToUtf8(converter, report.info.name);
    report.typeName = Cp932ToUtf8(converter, report.info.typeName);
    report.caption = Cp932ToUtf8(converter, texts.caption);
    report.textName = Cp932ToUtf8(converter, texts.name);
    report.textType = Cp932ToUtf8(converter, texts.type);
    report.textSize = Cp932ToUtf8(converter, texts.size);
    report.textScale = Cp932ToUtf8(converter, texts.scale);
    report.textColors = Cp932ToUtf8(converter, texts.colors);
    return report;
}

void PrintText(const ProbeReport& report, bool first)
{
    std::string out;
    if (!first)
        out += "\n";
    out += ForTerminal(report.caption) + "\n";
    out += "  " + ForTerminal(report.textName) + "\n";
    out += "  " + ForTerminal(report.textType) + "\n";
    // The labels are two columns wide per character: the values line up in column 13.
    out += u8"  サイズ    " + report.textSize + "\n";
    out += u8"  スケール  " + report.textScale + "\n";
    out += u8"  色数      " + report.textColors + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// A JSON string: the library escapes it; whatever is not UTF-8 in it (a path is the file
// system's bytes) becomes U+FFFD.
void AppendJsonString(std::string* out, const std::string& text)
{
    *out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One object per line, keys in a fixed order. Built field by field rather than as a document
// tree, whose allocations took a noticeable share of a run over thousands of files.
void PrintJson(const ProbeReport& report, const char* path)
{
    const ImageInfo& info = report.info;
    std::string line = "{\"path\":";
    AppendJsonString(&line, path);
    line += ",\"result\":" + std::to_string(report.result) + ",\"name\":";
    AppendJsonString(&line, report.name);
    line += ",\"typeName\":";
    AppendJsonString(&line, report.typeName);
    line += ",\"fileSize\":" + std::to_string(info.fileSize) +
            ",\"width\":" + std::to_string(info.width) +
            ",\"height\":" + std::to_string(info.height) +
            ",\"depth\":" + std::to_string(info.depth) +
            ",\"flags\":" + std::to_string(info.flags) + ",\"caption\":";
    AppendJsonString(&line, report.caption);
    const std::pair<const char*, const std::string*> texts[] = {
        {"name", &report.textName},   {"type", &report.textType},
        {"size", &report.textSize},   {"scale", &report.textScale},
        {"colors", &report.textColors},
    };
    const char* separator = ",\"texts\":{\"";
    for (const auto& [key, text] : texts) {
        line += separator;
        line += key;
        line += "\":";
        AppendJsonString(&line, *text);
        separator = ",\"";
    }
    line += "}}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintUsageError(const std::string& error)
{
    std::string message = "qvr: " + ForTerminal(error) + "\nTry 'qvr --help' for more information.\n";
    std::fwrite(message.data(), 1, message.size(), stderr);
}

} // namespace

int main(int argc, char** argv)
{
    CliOptions options = ParseCliOptions(argc, argv);
    switch (options.action) {
    case CLI_HELP:
        std::fputs(USAGE, stdout);
        return 0;
    case CLI_VERSION:
        std::fputs("QVR Version " QVR_VERSION_SHORT "\n", stdout);
        return 0;
    case CLI_USAGE_ERROR:
        PrintUsageError(options.error);
        return 2;
    default:
        break;
    }

    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        std::fputs("qvr: this system cannot convert code page 932 text (iconv)\n", stderr);
        return 2;
    }
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    int status = 0;
    bool first = true;
    for (const char* path : options.paths) {
        ProbeReport report = ProbePath(converter, path);
        if (options.json)
            PrintJson(report, path);
        else
            PrintText(report, first);
        first = false;
        if (report.info.flags & INFO_SIZE_UNKNOWN) {
            status = 1;
            std::fflush(stdout);
            std::string message = "qvr: " + ForTerminal(path) + ": no such file\n";
            std::fwrite(message.data(), 1, message.size(), stderr);
        }
    }
    iconv_close(converter);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "qvr: cannot write the output: %s\n", std::strerror(errno));
        return 2;
    }
    return status;
}
