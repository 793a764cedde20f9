#pragma once
// Runs a command through /bin/sh and keeps what it prints on standard output.

#include <cstdio>
#include <string>

#include <sys/wait.h>

struct ShellRun {
    int status = -1; // exit status, or -1 when it could not start or ended by a signal
    std::string out;
};

inline ShellRun runShell(const std::string& command) {
    ShellRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        run.out.append(buf, n);
    }
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}
