#include "cli_walk.h"

#include "cli_batch.h"
#include "cli_platform.h"

#include <algorithm>
#include <cstring>
#include <vector>

void PutCliMessage(TextOutput* message, const char* text, int encoding, const char* what)
{
    PutString(message, g_cliProgramName);
    PutString(message, ": ");
    PutTerminalText(message, text, encoding, g_cliTerminalEncoding);
    PutString(message, what);
}

std::string JoinCliPath(const std::string& folder, const std::string& name)
{
    char last = folder.empty() ? g_cliPathSeparator[0] : folder.back();
    bool windows = g_cliPathSeparator[0] == '\\';
    bool ends = last == g_cliPathSeparator[0] || (windows && (last == '/' || last == ':'));
    return ends ? folder + name : folder + g_cliPathSeparator + name;
}

bool AddCliFolderEntry(CliFolderList* list, const char* name, size_t length, bool folder, const CliFolderId* id)
{
    size_t start = list->text.size();
    if (start + 1 + sizeof *id + length + 1 > UINT32_MAX)
        return false;
    list->starts.push_back(static_cast<uint32_t>(start));
    list->text.push_back(folder ? CLI_ENTRY_FOLDER : CLI_ENTRY_OTHER);
    if (folder)
        list->text.append(reinterpret_cast<const char*>(id), sizeof *id);
    list->text.append(name, length);
    list->text.push_back('\0');
    return true;
}

bool WalksCliReparsePoint(uint32_t tag)
{
    return tag != 0 && (tag & 0x20000000) == 0; // the name-surrogate bit of every reparse tag
}

namespace {

const char* const PATH_TOO_LONG = "the path is too long";

// One entry of a folder list.
struct Entry {
    bool folder;
    CliFolderId id; // a folder's, as listed
    const char* name;
};

Entry EntryAt(const CliFolderList& list, size_t index)
{
    const char* at = list.text.data() + list.starts[index];
    Entry entry = {*at == CLI_ENTRY_FOLDER, {0, 0}, at + 1};
    if (entry.folder) {
        std::memcpy(&entry.id, at + 1, sizeof entry.id);
        entry.name += sizeof entry.id;
    }
    return entry;
}

const char* NameAt(const CliFolderList& list, uint32_t start)
{
    const char* at = list.text.data() + start;
    return at + 1 + (*at == CLI_ENTRY_FOLDER ? sizeof(CliFolderId) : 0);
}

// A message that takes its turn among the paths: "<program>: <path><what><detail>".
CliResult Message(const std::string& path, const char* what, const char* detail, int detailEncoding)
{
    CliResult result = {std::string(), std::string(), true};
    char bytes[512];
    TextOutput message = CliStringOutput(bytes, sizeof bytes, &result.err);
    PutCliMessage(&message, path.c_str(), g_cliNameEncoding, what);
    PutTerminalText(&message, detail, detailEncoding, g_cliTerminalEncoding);
    PutString(&message, "\n");
    FlushOutput(&message);
    return result;
}

bool SubmitUnreadable(const std::string& folder, const char* reason)
{
    return SubmitCliResult(Message(folder, ": cannot read the folder: ", reason, TEXT_UTF8));
}

// A folder being walked: its path, which folder it is and its entries in name order.
struct Level {
    std::string path;
    CliFolderId id;
    CliFolderList list;
    size_t next;
};

// The tree of one argument, walked depth first.
struct Tree {
    CliWalk* walk;
    CliFolder folder;
    size_t beneath; // where the part of a path below the tree starts
    std::vector<Level> levels;
};

bool SameFolder(const CliFolderId& a, const CliFolderId& b)
{
    return a.volume == b.volume && a.file == b.file;
}

// The walk's own path as an entry: probed (a link, a file, a folder the walk does not go into).
bool SubmitEntry(Tree* tree, const std::string& path)
{
    bool tooLong = path.size() >= g_cliPathLimit;
    CliItem item = {path, true, tree->folder.handle, tree->beneath};
    return SubmitCliPath(item, tooLong ? ": no such file (the path is too long)\n" : nullptr);
}

// Reads the folder `path` onto the walk (`listed` null: the tree itself), or reports it in its
// turn: a folder that cannot be read gets a message, one that loops back to a folder being walked
// gets one too, and what is no longer the folder that was listed is probed as an entry.
bool EnterFolder(Tree* tree, const std::string& path, const CliFolderId* listed)
{
    if (path.size() >= g_cliPathLimit)
        return SubmitUnreadable(path, PATH_TOO_LONG);
    for (const Level& level : tree->levels) {
        if (listed && SameFolder(level.id, *listed))
            return SubmitCliResult(Message(path, ": not walked: a loop in the file system leads back to ",
                                           level.path.c_str(), g_cliNameEncoding));
    }
    CliFolder folder;
    std::string reason;
    CliWatch watch = StartCliWatch();
    switch (OpenCliFolder(&tree->folder, path.c_str(), tree->beneath, listed, &folder, &reason)) {
    case CLI_NOT_A_FOLDER:
        return SubmitEntry(tree, path);
    case CLI_UNREADABLE:
        return SubmitUnreadable(path, reason.empty() ? "unknown error" : reason.c_str());
    default:
        break;
    }
    Level level = {path, folder.id, {}, 0};
    bool read = ReadCliFolder(&folder, &level.list, &reason);
    NoteCliFolderRead(watch); // the device is the walk's first
    if (!read)
        return SubmitUnreadable(path, reason.empty() ? "unknown error" : reason.c_str());
    const CliFolderList& list = level.list;
    std::sort(level.list.starts.begin(), level.list.starts.end(), [&list](uint32_t a, uint32_t b) {
        return CompareCliNames(NameAt(list, a), NameAt(list, b)) < 0;
    });
    tree->walk->folder = path;
    tree->levels.push_back(std::move(level));
    return true;
}

// Every entry beneath the tree that is not itself a folder, depth first, each folder in name
// order. A folder is read whole (its names must be sorted) and closed before the walk goes down,
// so the walk holds the tree's handle alone; nothing below the tree is followed. With -x a folder
// on another file system is an entry. False once stopped.
bool WalkTree(Tree* tree, const std::string& root)
{
    if (!EnterFolder(tree, root, nullptr))
        return false;
    while (!tree->levels.empty()) {
        Level& top = tree->levels.back();
        if (top.next == top.list.starts.size()) {
            tree->levels.pop_back();
            if (!tree->levels.empty())
                tree->walk->folder = tree->levels.back().path;
            continue;
        }
        Entry entry = EntryAt(top.list, top.next++);
        std::string path = JoinCliPath(top.path, entry.name);
        bool across = tree->walk->oneFileSystem && entry.folder && entry.id.volume != tree->folder.id.volume;
        bool going = entry.folder && !across ? EnterFolder(tree, path, &entry.id) // `top` is gone after this
                                             : SubmitEntry(tree, path);
        if (!going)
            return false;
    }
    return true;
}

// Closes the trees whose items are all printed; with `all`, every tree, once the batch has
// printed everything.
void CloseRetiredTrees(CliWalk* walk, bool all)
{
    uint64_t printed = CliBatchPrinted();
    auto done = [&](CliRetiredTree& retired) {
        if (!all && retired.items > printed)
            return false;
        CloseCliFolder(&retired.tree);
        return true;
    };
    walk->retired.erase(std::remove_if(walk->retired.begin(), walk->retired.end(), done), walk->retired.end());
}

// Walks the folder `root`, which the argument named or a pattern matched (`listed`); false once
// stopped. Below a pattern's match its own name was listed too (a platform with patterns holds no
// tree handle, so `beneath` is only where the listed part starts).
bool WalkArgument(CliWalk* walk, const std::string& root, bool listed, const CliFolder& folder)
{
    size_t beneath = listed ? FolderPartLength(root.c_str()) : JoinCliPath(root, "").size();
    Tree tree = {walk, folder, beneath, {}};
    bool going = WalkTree(&tree, root);
    walk->retired.push_back({folder, CliBatchSubmitted()});
    return going;
}

void VisitPath(void* context, const char* path, bool probe, bool listed)
{
    CliWalk* walk = static_cast<CliWalk*>(context);
    if (!walk->going)
        return;
    CliFolder tree;
    std::string reason;
    if (walk->recursive && probe) {
        // A tree's handle, the folder being read and the trees whose items wait to be printed
        // are all the walk holds.
        CloseRetiredTrees(walk, false);
        if (walk->retired.size() + 2 >= CLI_WALK_HANDLES) {
            if (!DrainCliBatch()) {
                walk->going = false;
                return;
            }
            CloseRetiredTrees(walk, false);
        }
        if (OpenCliTree(path, listed, &tree, &reason) == CLI_OPENED) {
            walk->going = WalkArgument(walk, path, listed, tree);
            return;
        }
    }
    CliItem item = {path, listed, -1, listed ? FolderPartLength(path) : 0};
    walk->going = SubmitCliPath(item, probe ? nullptr : ": no such file\n");
}

} // namespace

void SubmitCliArgument(CliWalk* walk, const char* argument, bool exact)
{
    if (walk->going)
        ForEachCliPath(argument, exact, walk->recursive, VisitPath, walk);
}

void FinishCliWalk(CliWalk* walk)
{
    CloseRetiredTrees(walk, true);
}
