#include "command_line.h"

#include "cp932_text.h"

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
    if (length > 0 && length < START_PATH_SIZE) {
        start->path = token;
        start->length = length;
    }

    // Only a space hands the rest on: a tab does not. 0x20 is never part of a double-byte
    // character, so a byte-wise search is exact.
    const char* space = strchr(args, ' ');
    if (space != nullptr) {
        start->launch = 1;
        start->rest = space + 1;
    }
}

void ParseQuoted(const char* args, StartCommand* start)
{
    start->quoted = 1;
    // 0x22 is never part of a double-byte character, so a byte-wise search is exact. Without a
    // closing mark the last byte is dropped, whatever it is.
    const char* close = strchr(args + 1, '"');
    const char* end = close ? close : args + strlen(args) - 1;
    if (end > args + 1) {
        start->path = args + 1;
        start->length = static_cast<size_t>(end - start->path);
        start->shortForm = start->length >= START_PATH_SIZE;
    }
    // Paths named together, as the shell quotes them: what follows, past the blanks (the bytes
    // the next instance's start-up skips), goes to the next instance.
    const char* rest = close ? close + 1 : "";
    while (*rest != '\0' && static_cast<unsigned char>(*rest) <= ' ')
        ++rest;
    if (*rest != '\0') {
        start->launch = 1;
        start->rest = rest;
    }
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

void ParseCommandLine(const char* args, StartCommand* start)
{
    memset(start, 0, sizeof *start);
    if (args[0] == '"')
        ParseQuoted(args, start);
    else
        ParsePlain(args, start);
}
