// The in-memory tree of the fake command-line platform.
#pragma once

#include "cli_platform.h"

#include <map>
#include <string>
#include <vector>

enum { FAKE_PATH_LIMIT = 4096 };

struct FakeEntry {
    std::string name;
    bool folder; // as the folder's listing tells it
};

struct FakeNode {
    bool folder;
    bool unreadable;
    std::vector<FakeEntry> entries; // as the system would give them: in no particular order
    uint64_t volume;                // the file system it is on; 0 counts as 1
    bool swapped;                   // listed as a folder, but a link by the time it is opened
    std::string sameAs;             // a folder this one is, under another name (a loop)
    bool slow = false;              // reading it waits for the device (under a schedule)
};

// Every path the fake file system knows; a folder's entries name paths of their own.
using FakeTree = std::map<std::string, FakeNode>;

extern FakeTree g_fakeTree;
// A folder's identity: its volume and a hash of its path, or of the folder it is under another name.
CliFolderId FakeId(const std::string& path);
// Folder handles open now, and the most ever open at once.
extern int g_fakeOpenHandles, g_fakeMostHandles;
