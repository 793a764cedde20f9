#pragma once
// JSON checked by jq, a parser that shares nothing with the code under test.

#include "support/Shell.h"
#include "support/TempDir.h"

#include <optional>
#include <string>
#include <utility>

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
    ShellRun run = runShell(command);
    if (run.status != 0) {
        return std::nullopt;
    }
    return std::move(run.out);
}
