#include "PrivateDisplay.h"

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

PrivateDisplay::PrivateDisplay(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(fds[1]);
    server_ = fork();
    if (server_ == 0) {
        close(fds[0]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display number it chose once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (server_ > 0 && poll(&p, 1, 10000) > 0) {
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        stop(server_);
        server_ = -1;
        return;
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
    startCompositor();
}

void PrivateDisplay::startCompositor() {
    compositor_ = fork();
    if (compositor_ == 0) {
        execlp("xcompmgr", "xcompmgr", "-c", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ready once it owns the compositing selection; gone at once when it is not installed.
    Display* display = XOpenDisplay(name_.c_str());
    if (!display) {
        return;
    }
    const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (XGetSelectionOwner(display, selection) != None) {
            break;
        }
        if (waitpid(compositor_, nullptr, WNOHANG) == compositor_) {
            compositor_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XCloseDisplay(display);
}

PrivateDisplay::~PrivateDisplay() {
    stop(compositor_);
    stop(server_);
}
