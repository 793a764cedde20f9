#pragma once
// Per-process files of a /proc tree (the live one or a fake one in tests), read relative to one
// open folder: each file costs an openat, one pread and a close, and nothing can block on a
// FIFO or device planted in a fake tree.

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

class proc_tree {
public:
    // `root` is "/proc" for the live system, or a folder laid out like it.
    explicit proc_tree(std::string root);
    ~proc_tree();
    proc_tree(const proc_tree&) = delete;
    proc_tree& operator=(const proc_tree&) = delete;

    // False when the root could not be opened as a folder.
    bool is_open() const { return fd_ >= 0; }
    const std::string& root() const { return root_; }

    // The process ids listed now (entries whose whole name is a positive decimal number), in
    // the order of the folder. Empty when it cannot be read.
    std::vector<pid_t> pids() const;

    // Reads `<pid>/<name>` from its start into `buf` with one read. The size read, or a negative
    // errno: -ENOENT or -ESRCH when the process is gone (or the file does not exist), -EACCES
    // when it may not be read, -EINVAL when it is not a regular file, -EFBIG when it does not
    // fit in `capacity` bytes.
    ssize_t read(pid_t pid, const char* name, char* buf, std::size_t capacity) const;

private:
    std::string root_;
    int fd_ = -1;
    // The live procfs: its files are all regular, so the per-file fstat is skipped.
    bool procfs_ = false;
};
