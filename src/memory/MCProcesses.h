#pragma once
// "What is using my memory?": the processes holding the most resident memory.

#include "platform/core/proc_tree.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct MCProcess {
    int pid = 0;
    std::string name;          // from comm, made safe to show (see displayName)
    std::int64_t bytes = 0;    // PSS where smaps_rollup could be read, else RSS
    bool proportional = false; // true: bytes is PSS (shared pages split between their users)

    bool operator==(const MCProcess&) const = default;
};

// What one reading cost, for benchmarks and tests.
struct MCProcessScan {
    std::size_t listed = 0;    // process folders found
    std::size_t resident = 0;  // with resident memory (statm read, RSS above 0)
    std::size_t detailed = 0;  // candidates looked at closely (PSS read or remembered)
    std::size_t smapsRead = 0; // smaps_rollup files read
};

// Reads the biggest processes of a /proc tree.
//
// Every process is ranked by its RSS from statm (cheap), then smaps_rollup is read only for the
// leading candidates: PSS is never above RSS, so once `count` processes are measured, a
// candidate whose RSS is below the smallest of them cannot enter. Processes that vanish on the
// way are left out; kernel threads and zombies (no resident memory) are never listed;
// smaps_rollup that cannot be read (another user's process, kernels before 4.14) falls back to
// RSS.
//
// smaps_rollup is costly: the kernel walks every resident page, about 3 ms for a 60 MiB process
// and far more for a browser holding gigabytes. So a process's PSS is remembered with the RSS
// it was read at, and used again (scaled to today's RSS) while that RSS stays within 10 % and
// the figure is less than kPssMaxAge old. A refresh then reads statm for all (about 1 ms for 500
// processes) and smaps_rollup only for processes that changed (bench/processes).
//
// biggest() may be called from any thread, one call at a time per reader.
class MCProcessReader {
public:
    static constexpr std::size_t kPanelCount = 5;
    static constexpr std::chrono::seconds kPssMaxAge{30};
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `procRoot`: "/proc", or a folder laid out like it. `pageSize`: statm's unit, 0 for the
    // system's page size. `clock`: for the age of remembered PSS figures; steady_clock if empty.
    explicit MCProcessReader(std::string procRoot = "/proc", std::uint64_t pageSize = 0,
                             Clock clock = {});
    virtual ~MCProcessReader() = default;
    MCProcessReader(const MCProcessReader&) = delete;
    MCProcessReader& operator=(const MCProcessReader&) = delete;

    // False when the /proc folder cannot be opened (biggest() is then always empty).
    bool isReadable() const { return tree_.is_open(); }

    // The `count` biggest, biggest first; equal sizes by ascending pid.
    virtual std::vector<MCProcess> biggest(std::size_t count, MCProcessScan* scan = nullptr) const;

    // A process name as it may be shown in a panel, a terminal or JSON: valid UTF-8 without
    // control characters or direction overrides (each replaced by U+FFFD), one trailing newline
    // dropped, "?" when nothing is left.
    static std::string displayName(std::string_view comm);

private:
    struct Remembered {
        std::uint64_t rss = 0; // the RSS when PSS was read
        std::uint64_t pss = 0;
        std::chrono::steady_clock::time_point at;
    };

    proc_tree tree_;
    std::uint64_t pageSize_;
    Clock clock_;
    mutable std::unordered_map<pid_t, Remembered> remembered_;
};
