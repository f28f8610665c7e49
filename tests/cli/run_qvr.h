// Running qvr through bash from the tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>
#include <utility>

inline std::string Quoted(const std::string& text)
{
    return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'";
}

// Runs `script` in bash with qvr at $QVR: output and status. A stopped run leaves its probers unjoined on purpose.
inline std::pair<std::string, int> Bash(const std::string& script, const std::string& folder = "")
{
    std::string command = (folder.empty() ? "" : "cd " + Quoted(folder) + " && ") + "QVR=" QVR_BINARY
                          " ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS=report_thread_leaks=0 bash -c " + Quoted(script);
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t got; pipe && (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    int status = pipe ? pclose(pipe) : -1;
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}
