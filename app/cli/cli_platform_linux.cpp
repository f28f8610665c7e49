// qvr's platform: arguments as the kernel passes them (the shell has expanded any pattern), names
// as the file system's bytes (UTF-8 as far as they are valid), UTF-8 on the terminal, and code
// page 932 read through glibc's table, one character at a time, remembered once looked up.
#include "cli_platform.h"
#include "cli_text.h"
#include "cp932_text.h"
#include "image_info.h"

#include <iconv.h>

const char g_cliProgramName[] = "qvr";
const char g_cliUsagePaths[] = "";
const int g_cliNameEncoding = TEXT_UTF8;
const int g_cliTerminalEncoding = TEXT_UTF8;

static char** g_arguments;

int OpenCliArguments(int argc, char** argv)
{
    g_arguments = argv;
    return argc;
}

const char* GetCliArgument(int index, char*, bool* exact)
{
    *exact = true;
    return g_arguments[index];
}

void ForEachCliPath(const char* argument, bool, bool, CliPathVisitor visit, void* context)
{
    visit(context, argument, true);
}

int ProbeCliPath(ImageInfo* info, const char* path)
{
    return ProbeImageFile(info, path);
}

enum {
    LEAD_BYTES = 60,   // 0x81-0x9F and 0xE0-0xFC
    TRAIL_BYTES = 189, // 0x40-0xFC
};
static const uint16_t PAIR_UNKNOWN = 0; // not looked up yet (U+0000 is no double-byte character)
static const uint16_t PAIR_INVALID = 0xFFFF;

// Every double-byte character stands for one character of the Basic Multilingual Plane.
static uint16_t g_pairs[LEAD_BYTES][TRAIL_BYTES];
static iconv_t g_fromCp932 = reinterpret_cast<iconv_t>(-1);

static uint16_t LookUpPair(unsigned char lead, unsigned char trail)
{
    if (g_fromCp932 == reinterpret_cast<iconv_t>(-1))
        g_fromCp932 = iconv_open("UTF-16LE", "CP932");
    if (g_fromCp932 == reinterpret_cast<iconv_t>(-1))
        return PAIR_INVALID;
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char out[4];
    char* inNext = in;
    char* outNext = reinterpret_cast<char*>(out);
    size_t inLeft = sizeof in;
    size_t outLeft = sizeof out;
    iconv(g_fromCp932, nullptr, nullptr, nullptr, nullptr);
    if (iconv(g_fromCp932, &inNext, &inLeft, &outNext, &outLeft) == static_cast<size_t>(-1) ||
        outLeft != 2)
        return PAIR_INVALID;
    uint16_t unit = static_cast<uint16_t>(out[0] | out[1] << 8);
    return unit == PAIR_UNKNOWN || (unit >= 0xD800 && unit <= 0xDFFF) ? PAIR_INVALID : unit;
}

uint32_t DecodeCp932Pair(unsigned char lead, unsigned char trail)
{
    uint16_t& pair = g_pairs[lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31][trail - 0x40];
    if (pair == PAIR_UNKNOWN)
        pair = LookUpPair(lead, trail);
    return pair == PAIR_INVALID ? CP932_INVALID : pair;
}

size_t EncodeCp932(uint32_t codePoint, char bytes[2])
{
    // qvr writes UTF-8 only; the code page 932 console is qvrc.exe's, and this search through
    // the table above serves the tests of its text.
    if (const char* standIn = Cp932StandIn(codePoint)) {
        std::memcpy(bytes, standIn, 2);
        return 2;
    }
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F) { // half-width katakana
        bytes[0] = static_cast<char>(0xA1 + (codePoint - 0xFF61));
        return 1;
    }
    for (unsigned lead = 0x81; lead <= 0xFC; lead = lead == 0x9F ? 0xE0 : lead + 1) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F && DecodeCp932Pair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)) == codePoint) {
                bytes[0] = static_cast<char>(lead);
                bytes[1] = static_cast<char>(trail);
                return 2;
            }
        }
    }
    return 0;
}
