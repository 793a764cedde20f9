#pragma once
// A fake /proc and /sys under a scratch folder: meminfo, the process's cgroups and mounts,
// cgroup limit files and pressure files, all rewritable while a clean runs.

#include "support/TempDir.h"

#include "platform/core/mach_host.h"

#include <cstdint>
#include <filesystem>
#include <string>

class FakeSystem {
public:
    static constexpr std::uint64_t kKiB = 1024;
    static constexpr std::uint64_t kMiB = 1024 * kKiB;
    static constexpr std::uint64_t kGiB = 1024 * kMiB;

    // Hybrid layout as on many systemd machines: v1 memory controller, v2 beside it.
    static constexpr const char* kHybridMounts =
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime shared:9 - cgroup cgroup rw,memory\n"
        "40 31 0:37 / /sys/fs/cgroup/systemd rw,relatime - cgroup cgroup rw,name=systemd\n"
        "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
    // Unified layout: v2 only.
    static constexpr const char* kUnifiedMounts =
        "25 1 0:22 / /proc rw,nosuid - proc proc rw\n"
        "30 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec shared:4 - cgroup2 cgroup2 "
        "rw,nsdelegate,memory_recursiveprot\n";

    FakeSystem() { setMeminfo(16 * kGiB, 16 * kGiB); }

    const std::string& root() const { return root_; }

    // Writes `contents` at `path` (absolute, seen from the fake root), creating folders.
    std::string write(const std::string& path, const std::string& contents) const {
        const std::filesystem::path full = root_ + path;
        std::filesystem::create_directories(full.parent_path());
        return dir_.write(std::filesystem::relative(full, dir_.path()).string(), contents);
    }
    void mkdir(const std::string& path) const { std::filesystem::create_directories(root_ + path); }

    // MemAvailable and MemTotal; free and inactive come from the tests' own samples.
    void setMeminfo(std::uint64_t availableBytes, std::uint64_t totalBytes) const {
        write("/proc/meminfo",
              "MemTotal: " + std::to_string(totalBytes / kKiB) +
                  " kB\nMemFree: 1024 kB\nMemAvailable: " + std::to_string(availableBytes / kKiB) +
                  " kB\nActive: 0 kB\nInactive: 0 kB\nUnevictable: 0 kB\nSUnreclaim: 0 kB\n"
                  "KernelStack: 0 kB\nPageTables: 0 kB\n");
    }
    void setCgroups(const std::string& procSelfCgroup, const std::string& mountinfo) const {
        write("/proc/self/cgroup", procSelfCgroup);
        write("/proc/self/mountinfo", mountinfo);
    }
    void setPressure(const std::string& path, double fullAvg10) const {
        char text[160];
        std::snprintf(text, sizeof text,
                      "some avg10=%.2f avg60=0.00 avg300=0.00 total=12\n"
                      "full avg10=%.2f avg60=0.00 avg300=0.00 total=3\n",
                      fullAvg10, fullAvg10);
        write(path, text);
    }

    host_t host(vm_size_t page = 4096) const {
        return make_host_port(root_ + "/proc/meminfo", root_, page);
    }

private:
    TempDir dir_;
    std::string root_ = (dir_.path() / "root").string();
};
