// The in-memory tree and the interrupt of the fake command-line platform.
#pragma once

#include "cli_platform.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

enum { FAKE_PATH_LIMIT = 4096 };

struct FakeNode {
    bool folder;
    bool unreadable;
    std::vector<CliFolderEntry> entries; // as the system would give them: in no particular order
};

// Every path the fake file system knows; a folder's entries name paths of their own.
using FakeTree = std::map<std::string, FakeNode>;

extern FakeTree g_fakeTree;
extern std::atomic<bool> g_fakeInterrupted;
