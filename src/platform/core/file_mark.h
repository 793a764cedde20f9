#pragma once
// Named marks on files: extended attributes in the user namespace. A file system without user
// attributes (ramfs, some network and FAT mounts) gets a hidden sidecar file beside the marked
// file instead, ".<file name>.<mark name>", so a mark works everywhere a file can be made.
//
// Marks are never set through a symbolic link: a link is marked itself, or not at all.
//
// Results follow the system calls: 0 or more on success, -1 with errno set (ENODATA when the
// mark is absent).

#include <string>
#include <sys/types.h>

namespace file_mark {

// The size of the mark's value; 0 for a present empty mark.
ssize_t size(const std::string& path, const std::string& name);
// Sets the mark with an empty value.
int set(const std::string& path, const std::string& name);
int remove(const std::string& path, const std::string& name);

// Keeps a sidecar mark with its file when the file is renamed or deleted; no-ops when the mark
// lives in the file's attributes.
void moveSidecar(const std::string& from, const std::string& to, const std::string& name);
void removeSidecar(const std::string& path, const std::string& name);

// ".<file name>.<mark name>" in the file's directory.
std::string sidecarPath(const std::string& path, const std::string& name);

} // namespace file_mark
