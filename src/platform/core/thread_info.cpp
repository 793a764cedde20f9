#include "platform/core/thread_info.h"

#include <cerrno>
#include <cstring>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace thread_info {

std::uint32_t currentThreadID() {
    // gettid is a system call; the id never changes for a thread, so ask once.
    thread_local const std::uint32_t tid = static_cast<std::uint32_t>(::gettid());
    return tid;
}

namespace {
// Asking the kernel is a system call per log message; the name is kept per thread and renewed
// by setCurrentThreadName. Plain bytes without a destructor, so a log call from an exit handler
// (which runs after thread-locals are destroyed) still reads valid memory.
struct NameCache {
    bool known;
    unsigned char length;
    char bytes[16];
};
thread_local NameCache nameCache{};

void refreshName() {
    char name[17] = {};
    if (::prctl(PR_GET_NAME, name, 0, 0, 0) != 0) {
        name[0] = '\0';
    }
    const std::size_t length = ::strnlen(name, 15);
    std::memcpy(nameCache.bytes, name, length);
    nameCache.length = static_cast<unsigned char>(length);
    nameCache.known = true;
}
} // namespace

std::string currentThreadName() {
    if (!nameCache.known) {
        refreshName();
    }
    return std::string(nameCache.bytes, nameCache.length);
}

void setCurrentThreadName(const std::string& name) {
    const std::string cut = name.substr(0, 15);
    ::prctl(PR_SET_NAME, cut.c_str(), 0, 0, 0);
    refreshName();
}

int processorCount() {
    const long count = ::sysconf(_SC_NPROCESSORS_CONF);
    return count < 1 ? 1 : static_cast<int>(count);
}

std::string processName() {
    const char* name = program_invocation_short_name;
    return name != nullptr ? std::string(name) : std::string();
}

int processID() {
    return static_cast<int>(::getpid());
}

} // namespace thread_info
