#pragma once
// JSON checked by jq, a parser that shares nothing with the code under test.

#include "support/TempDir.h"

#include <cstdio>
#include <optional>
#include <string>

#include <sys/wait.h>

#ifndef BRIMWELL_JQ
#error "BRIMWELL_JQ must name the jq program"
#endif

// What `jq -c <filter>` prints for `input`, or none when jq refuses the input (not JSON, or a
// JSON text cut short) or the filter fails. With `lines`, the filter reads the input's lines as
// strings through `inputs` (`[inputs | fromjson]`).
inline std::optional<std::string> jq(const std::string& input, const std::string& filter,
                                     bool lines = false) {
    TempDir dir;
    const std::string command = std::string("'") + BRIMWELL_JQ + "' -c " + (lines ? "-nR " : "") +
                                "-f '" + dir.write("filter.jq", filter) + "' '" +
                                dir.write("input.json", input) + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    const int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return out;
}
