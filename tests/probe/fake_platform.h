// Stand-in for the platform file, so that a test chooses every answer of the shell and the file search.
#pragma once

#include <cstdint>
#include <string>

struct FakePlatform {
    bool shellAnswers = true;
    bool fileFound = true;
    uint64_t size = 0;
    std::string typeName = "PNG image";  // code page 932 bytes
    std::string foundName = "found.png"; // as the search reports it, may hold a directory part
    void* icon = reinterpret_cast<void*>(0x1234);
    int opens = 0;                       // OpenHeaderFile calls that reached the file system
    int probes = 0;                      // BeginFileProbe calls not yet ended
    uint32_t shellError = 0;             // with !shellAnswers: why the shell could not be asked
    uint32_t findError = 0;              // with !fileFound: why the file could not be looked for
    uint32_t openError = 0;              // the open fails with this code
    uint64_t failReadsFrom = UINT64_MAX; // reads of bytes from this offset on fail with EIO
};

extern FakePlatform g_fake;
