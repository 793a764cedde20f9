#pragma once
// Facts about the calling thread and the process that log messages record.

#include <cstdint>
#include <string>

namespace thread_info {

// The kernel's id of the calling thread (Linux tid), fixed for the thread's life.
std::uint32_t currentThreadID();
// The calling thread's name (at most 15 bytes). Read from the kernel once per thread, then kept:
// name threads with setCurrentThreadName so the kept name follows.
std::string currentThreadName();
// Names the calling thread; longer names are cut to the kernel's 15 bytes.
void setCurrentThreadName(const std::string& name);
// Number of configured processors, at least 1.
int processorCount();
// The process name (the executable's file name) and id.
std::string processName();
int processID();

} // namespace thread_info
