#include "cli_walk.h"

#include "cli_batch.h"
#include "cli_platform.h"

#include <algorithm>
#include <vector>

void PutCliMessage(TextOutput* message, const char* text, int encoding, const char* what)
{
    PutString(message, g_cliProgramName);
    PutString(message, ": ");
    PutTerminalText(message, text, encoding, g_cliTerminalEncoding);
    PutString(message, what);
}

namespace {

// The message of a folder that cannot be read, in its turn among the paths.
CliResult FolderMessage(const std::string& folder, const std::string& reason)
{
    CliResult result = {std::string(), std::string(), true};
    char bytes[512];
    TextOutput message = CliStringOutput(bytes, sizeof bytes, &result.err);
    PutCliMessage(&message, folder.c_str(), g_cliNameEncoding, ": cannot read the folder: ");
    PutTerminalText(&message, reason.c_str(), TEXT_UTF8, g_cliTerminalEncoding);
    PutString(&message, "\n");
    FlushOutput(&message);
    return result;
}

} // namespace

std::string JoinCliPath(const std::string& folder, const std::string& name)
{
    char last = folder.empty() ? g_cliPathSeparator[0] : folder.back();
    bool windows = g_cliPathSeparator[0] == '\\';
    bool ends = last == g_cliPathSeparator[0] || (windows && (last == '/' || last == ':'));
    return ends ? folder + name : folder + g_cliPathSeparator + name;
}

namespace {

struct WalkFolder {
    std::string path;
    std::vector<CliFolderEntry> entries; // in name order
    size_t next;
};

// Reads `folder` onto the walk's stack, or reports it in its turn when it cannot be read.
bool EnterFolder(CliWalk* walk, const std::string& folder, std::vector<WalkFolder>* stack)
{
    WalkFolder entered = {folder, {}, 0};
    std::string reason;
    if (folder.size() >= g_cliPathLimit)
        reason = "the path is too long";
    else if (!ReadCliFolder(folder.c_str(), &entered.entries, &reason))
        reason = reason.empty() ? "unknown error" : reason;
    if (!reason.empty())
        return SubmitCliResult(FolderMessage(folder, reason));
    std::sort(entered.entries.begin(), entered.entries.end(), [](const CliFolderEntry& a, const CliFolderEntry& b) {
        return CompareCliNames(a.name.c_str(), b.name.c_str()) < 0;
    });
    walk->folder = folder;
    stack->push_back(std::move(entered));
    return true;
}

// Every entry beneath `root` that is not itself a folder, depth first, each folder in name
// order. Folders are read whole (their names must be sorted) and let go before going down, so
// no depth runs out of descriptors; links are entries, never folders. False once stopped.
bool WalkTree(CliWalk* walk, const std::string& root)
{
    std::vector<WalkFolder> stack;
    if (!EnterFolder(walk, root, &stack))
        return false;
    while (!stack.empty()) {
        WalkFolder& top = stack.back();
        if (top.next == top.entries.size()) {
            stack.pop_back();
            if (!stack.empty())
                walk->folder = stack.back().path;
            continue;
        }
        bool descend = top.entries[top.next].descend;
        std::string path = JoinCliPath(top.path, top.entries[top.next++].name);
        bool tooLong = path.size() >= g_cliPathLimit;
        bool going = descend ? EnterFolder(walk, path, &stack) // `top` is gone after this
                   : SubmitCliPath(CliItem{path, true, -1, 0}, tooLong ? ": no such file (the path is too long)\n" : nullptr);
        if (!going)
            return false;
    }
    return true;
}

void VisitPath(void* context, const char* path, bool probe, bool listed)
{
    CliWalk* walk = static_cast<CliWalk*>(context);
    if (!walk->going)
        return;
    if (walk->recursive && probe && IsCliFolder(path))
        walk->going = WalkTree(walk, path);
    else
        walk->going = SubmitCliPath(CliItem{path, listed, -1, 0}, probe ? nullptr : ": no such file\n");
}

} // namespace

void SubmitCliArgument(CliWalk* walk, const char* argument, bool exact)
{
    if (walk->going)
        ForEachCliPath(argument, exact, walk->recursive, VisitPath, walk);
}
