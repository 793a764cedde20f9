#include "memory/MCProcesses.h"

#include "platform/core/meminfo.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <unistd.h>

namespace {

constexpr std::string_view kReplacement = "\xef\xbf\xbd"; // U+FFFD

struct Candidate {
    pid_t pid;
    std::uint64_t rss;
};

// "size resident shared text lib data dt": the resident page count.
std::optional<std::uint64_t> residentPages(std::string_view statm) {
    std::size_t at = statm.find(' ');
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t pages = 0;
    std::size_t digits = 0;
    for (++at; at < statm.size() && statm[at] >= '0' && statm[at] <= '9'; ++at, ++digits) {
        if (pages > (UINT64_MAX - 9) / 10) {
            return std::nullopt;
        }
        pages = pages * 10 + static_cast<std::uint64_t>(statm[at] - '0');
    }
    if (digits == 0 || (at < statm.size() && statm[at] != ' ' && statm[at] != '\n')) {
        return std::nullopt;
    }
    return pages;
}

bool vanished(ssize_t result) {
    return result == -ENOENT || result == -ESRCH;
}

bool biggerFirst(const MCProcess& a, const MCProcess& b) {
    return a.bytes != b.bytes ? a.bytes > b.bytes : a.pid < b.pid;
}

std::int64_t toSigned(std::uint64_t value) {
    return value > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX
                                                         : static_cast<std::int64_t>(value);
}

// The length of the UTF-8 sequence at `text` (1..4) and its code point, or 0 when invalid.
std::size_t decodeUtf8(std::string_view text, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        cp = lead & 0x1fu;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        cp = lead & 0x0fu;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0u) != 0x80u) {
            return 0;
        }
        cp = (cp << 6) | (byte(i) & 0x3fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) {
        return 0;
    }
    return length;
}

bool unsafeToShow(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) ||    // C0, DEL, C1 controls
           cp == 0x200e || cp == 0x200f ||               // direction marks
           (cp >= 0x202a && cp <= 0x202e) ||             // embeddings and overrides
           (cp >= 0x2066 && cp <= 0x2069) ||             // isolates
           cp == 0x2028 || cp == 0x2029 || cp == 0xfeff; // separators, invisible BOM
}

} // namespace

MCProcessReader::MCProcessReader(std::string procRoot, std::uint64_t pageSize, Clock clock)
    : tree_(std::move(procRoot)), pageSize_(pageSize), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return std::chrono::steady_clock::now(); };
    }
    if (pageSize_ == 0) {
        const long size = ::sysconf(_SC_PAGESIZE);
        pageSize_ = size > 0 ? static_cast<std::uint64_t>(size) : 4096;
    }
}

std::vector<MCProcess> MCProcessReader::biggest(std::size_t count, MCProcessScan* scan) const {
    MCProcessScan cost;
    std::vector<MCProcess> top;
    if (count == 0) {
        if (scan != nullptr) {
            *scan = cost;
        }
        return top;
    }
    const std::vector<pid_t> pids = tree_.pids();
    cost.listed = pids.size();
    std::vector<Candidate> candidates;
    candidates.reserve(pids.size());
    char buf[4096];
    for (const pid_t pid : pids) {
        const ssize_t n = tree_.read(pid, "statm", buf, 128);
        if (n <= 0) {
            continue; // gone, or nothing to say
        }
        const auto pages = residentPages(std::string_view(buf, static_cast<std::size_t>(n)));
        if (!pages || *pages == 0) {
            continue; // kernel threads and zombies hold no memory of their own
        }
        const std::uint64_t rss = *pages > UINT64_MAX / pageSize_ ? UINT64_MAX : *pages * pageSize_;
        candidates.push_back({pid, rss});
    }
    cost.resident = candidates.size();
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.rss != b.rss ? a.rss > b.rss : a.pid < b.pid;
    });

    const auto now = clock_();
    std::vector<pid_t> seen; // remembered figures still in use
    for (const Candidate& candidate : candidates) {
        // PSS <= RSS: nobody from here on can beat the smallest of a full list.
        if (top.size() == count && toSigned(candidate.rss) < top.back().bytes) {
            break;
        }
        MCProcess process;
        process.pid = static_cast<int>(candidate.pid);
        process.bytes = toSigned(candidate.rss);
        ++cost.detailed;
        const auto found = remembered_.find(candidate.pid);
        const bool fresh = found != remembered_.end() && now - found->second.at < kPssMaxAge &&
                           candidate.rss * 10 >= found->second.rss * 9 &&
                           candidate.rss * 10 <= found->second.rss * 11;
        if (fresh) {
            // Scaled to today's RSS, never above it.
            const double share =
                static_cast<double>(found->second.pss) / static_cast<double>(found->second.rss);
            process.bytes = toSigned(std::min<std::uint64_t>(
                candidate.rss,
                static_cast<std::uint64_t>(share * static_cast<double>(candidate.rss))));
            process.proportional = true;
            seen.push_back(candidate.pid);
        } else {
            ++cost.smapsRead;
            const ssize_t smaps = tree_.read(candidate.pid, "smaps_rollup", buf, sizeof buf);
            std::array<meminfo_field, 1> pss{meminfo_field{"Pss"}};
            if (smaps > 0 &&
                parse_meminfo(std::string_view(buf, static_cast<std::size_t>(smaps)), pss)) {
                process.bytes = toSigned(std::min(pss[0].bytes, candidate.rss));
                process.proportional = true;
                remembered_[candidate.pid] = {candidate.rss, pss[0].bytes, now};
                seen.push_back(candidate.pid);
            }
        }
        // The name last: a process that is gone by now is left out, whatever was read before.
        const ssize_t comm = tree_.read(candidate.pid, "comm", buf, 256);
        if (vanished(comm)) {
            continue;
        }
        process.name =
            displayName(comm > 0 ? std::string_view(buf, static_cast<std::size_t>(comm)) : "");
        top.insert(std::upper_bound(top.begin(), top.end(), process, biggerFirst),
                   std::move(process));
        if (top.size() > count) {
            top.pop_back();
        }
    }
    // Figures of processes that left the leading group (or ended, their pid to be reused) go.
    std::sort(seen.begin(), seen.end());
    std::erase_if(remembered_, [&seen](const auto& entry) {
        return !std::binary_search(seen.begin(), seen.end(), entry.first);
    });
    if (scan != nullptr) {
        *scan = cost;
    }
    return top;
}

std::string MCProcessReader::displayName(std::string_view comm) {
    if (comm.ends_with('\n')) {
        comm.remove_suffix(1);
    }
    std::string out;
    out.reserve(comm.size());
    while (!comm.empty()) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(comm, cp);
        if (length == 0) {
            out += kReplacement; // one per byte that starts no valid sequence
            comm.remove_prefix(1);
            continue;
        }
        if (unsafeToShow(cp)) {
            out += kReplacement;
        } else {
            out.append(comm.substr(0, length));
        }
        comm.remove_prefix(length);
    }
    return out.empty() ? "?" : out;
}
