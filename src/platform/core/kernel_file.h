#pragma once
// Small kernel text files (/proc, /sys, cgroup files) read so that nothing can block: a FIFO,
// a device or a socket planted where a counters file should be is refused, never opened for a
// blocking read.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// A read-only, non-blocking descriptor for `path` when it is a regular file; -1 otherwise.
int open_kernel_file(const std::string& path);

// Reads a kernel file from its start with one pread into `buf`. The size read, or -1 on an
// error or when the file does not fit in `capacity` bytes.
ssize_t pread_kernel_file(int fd, char* buf, std::size_t capacity);

// The whole text of `path`, or none when it is missing, not a regular file, unreadable or
// larger than `limit` bytes.
std::optional<std::string> read_kernel_file(const std::string& path, std::size_t limit = 4096);

// `absolute` seen from `root`: "/a" under "" or "/" is "/a", under "/tmp/x" it is "/tmp/x/a".
std::string path_under_root(std::string_view root, std::string_view absolute);

// Whether anything at all (file, folder, FIFO, ...) is at `path`.
bool path_exists(const std::string& path);
