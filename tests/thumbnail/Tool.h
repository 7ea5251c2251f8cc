// kelvo-thumbnailer run from the thumbnail tests as a file manager runs it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kelvo::test {

struct ToolRun {
    int status;
    std::string output;  // stderr; stdout too when asked for
};

// Runs `args`, each quoted for the shell, after `command` (a program, possibly preceded by
// variables to set), with stdout discarded unless `withStdout`.
inline ToolRun runTool(const std::vector<std::string>& args,
                       const std::string& command = KELVO_THUMBNAILER_PATH,
                       bool withStdout = false) {
    std::string line = command;
    for (const auto& a : args) {
        line += " '";
        for (char c : a)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    FILE* pipe = ::popen((line + (withStdout ? " 2>&1" : " 2>&1 >/dev/null")).c_str(), "r");
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        output += static_cast<char>(c);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace kelvo::test
