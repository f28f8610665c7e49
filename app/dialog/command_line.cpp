#include "command_line.h"

#include "cp932_text.h"
#include "device_names.h"

#include <cstring>

namespace {

// The white space that ends the first plain token (the C locale's isspace set).
bool IsTokenSpace(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

const char* SkipQuotedName(const char* text)
{
    ++text; // the opening quotation mark
    while (*text != '\0' && *text != '"') {
        // A trail byte may be 0x22 or 0x5C; it never ends the name. A lead byte right before the
        // terminator is taken alone, so the scan never runs past the end.
        if (IsCp932LeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0')
            ++text;
        ++text;
    }
    if (*text == '"')
        ++text;
    return text;
}

void ParsePlain(const char* args, StartCommand* start)
{
    const char* token = args;
    while (IsTokenSpace(static_cast<unsigned char>(*token)))
        ++token;
    size_t length = 0;
    while (token[length] != '\0' && !IsTokenSpace(static_cast<unsigned char>(token[length])))
        ++length;
    if (length < START_PATH_SIZE) {
        memcpy(start->path, token, length);
        start->path[length] = '\0';
    }

    // Only a space hands the rest on: a tab does not. 0x20 is never part of a double-byte
    // character, so a byte-wise search is exact.
    const char* space = strchr(args, ' ');
    if (space != nullptr) {
        start->launch = 1;
        start->rest = space + 1;
    }
}

void ParseQuoted(const char* args, StartCommand* start, char* quotedText, size_t capacity)
{
    start->quoted = 1;
    // The last byte is dropped whatever it is; a lone quotation mark leaves nothing.
    size_t length = strlen(args);
    size_t textLength = length >= 2 ? length - 2 : 0;
    if (capacity == 0)
        return;
    quotedText[0] = '\0';
    if (textLength < capacity) {
        memcpy(quotedText, args + 1, textLength);
        quotedText[textLength] = '\0';
    }
    // The short-form conversion may look a pattern up and return its first match.
    if (HasWildcard(quotedText))
        quotedText[0] = '\0';
}

} // namespace

const char* SkipProgramName(const char* commandLine)
{
    const char* text = commandLine;
    if (*text == '"') {
        text = SkipQuotedName(text);
    } else {
        while (static_cast<unsigned char>(*text) > ' ')
            ++text;
    }
    while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ')
        ++text;
    return text;
}

void ParseCommandLine(const char* args, StartCommand* start, char* quotedText, size_t capacity)
{
    memset(start, 0, sizeof *start);
    if (capacity > 0)
        quotedText[0] = '\0';
    if (args[0] == '"')
        ParseQuoted(args, start, quotedText, capacity);
    else
        ParsePlain(args, start);
}

size_t QuoteLaunchPath(char* parameters, size_t capacity, const char* path)
{
    if (capacity < 3) {
        if (capacity > 0)
            parameters[0] = '\0';
        return 0;
    }
    size_t length = 0;
    while (length < capacity - 3 && path[length] != '\0')
        ++length;
    parameters[0] = '"';
    memcpy(parameters + 1, path, length);
    parameters[length + 1] = '"';
    parameters[length + 2] = '\0';
    return length + 2;
}
