#include "platform/core/cgroup_memory.h"

#include "platform/core/kernel_file.h"

#include <limits>

namespace {

// /proc/self/mountinfo of a container host can hold thousands of mounts.
constexpr std::size_t kMountinfoLimit = 4 * 1024 * 1024;
constexpr std::size_t kCgroupListLimit = 64 * 1024;
// Nobody limits memory to 4 EiB; v1 writes "unlimited" as about 2^63.
constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 62;

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::string_view line : split(text, '\n')) {
        if (!line.empty()) {
            out.push_back(line);
        }
    }
    return out;
}

bool contains(const std::vector<std::string_view>& list, std::string_view item) {
    for (std::string_view entry : list) {
        if (entry == item) {
            return true;
        }
    }
    return false;
}

// mountinfo writes space, tab, newline and backslash in paths as \ooo octal escapes.
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t k = 1; k <= 3; ++k) {
                const char c = text[i + k];
                octal = octal && c >= '0' && c <= '7';
                value = value * 8 + (c - '0');
            }
            if (octal && value < 256) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// A cgroup path must stay inside its hierarchy: "/.." shows a cgroup outside our namespace.
bool plain_path(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return false;
    }
    for (std::string_view part : split(path.substr(1), '/')) {
        if (part == "." || part == "..") {
            return false;
        }
    }
    return true;
}

struct cgroup_mount {
    std::string root;        // the folder of the hierarchy that is mounted
    std::string mount_point; // where
};

// The first mount of the wanted hierarchy through which `path` can be seen.
std::optional<cgroup_mount> find_mount(std::string_view mountinfo, bool v2, std::string_view path) {
    for (std::string_view line : lines(mountinfo)) {
        const auto fields = split(line, ' ');
        // id parent major:minor root mount-point options [optional...] - type source super
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") {
            ++dash;
        }
        if (dash + 3 >= fields.size()) {
            continue;
        }
        const std::string_view type = fields[dash + 1];
        if (v2 ? type != "cgroup2"
               : type != "cgroup" || !contains(split(fields[dash + 3], ','), "memory")) {
            continue;
        }
        cgroup_mount mount{unescape(fields[3]), unescape(fields[4])};
        if (mount.root == "/" || path == mount.root ||
            (path.starts_with(mount.root) && path[mount.root.size()] == '/')) {
            return mount;
        }
    }
    return std::nullopt;
}

// The folders from the process's cgroup up to the mount point, innermost first.
std::vector<std::string> folders(std::string_view root, const cgroup_mount& mount,
                                 std::string_view path) {
    std::string relative(mount.root == "/" ? path : path.substr(mount.root.size()));
    while (!relative.empty() && relative.back() == '/') {
        relative.pop_back();
    }
    const std::string base = path_under_root(root, mount.mount_point);
    std::vector<std::string> out;
    for (;;) {
        out.push_back(relative.empty() ? base : base + relative);
        if (relative.empty()) {
            return out;
        }
        relative.erase(relative.rfind('/'));
    }
}

// Reads one limit file and its usage file in `folder`; appends the limit when it is finite.
void add_limit(std::vector<cgroup_memory_limit>& out, const std::string& folder,
               const char* limit_name, const char* usage_name) {
    cgroup_memory_limit limit;
    limit.file = folder + "/" + limit_name;
    const auto limit_text = read_kernel_file(limit.file);
    if (!limit_text && !path_exists(limit.file)) {
        return; // this hierarchy has no such limit here
    }
    // A limit file that is there but cannot be read (or is no file) may hide any limit.
    const cgroup_value value =
        limit_text ? parse_cgroup_value(*limit_text) : cgroup_value{std::nullopt, true};
    if (!value.unreadable && !value.bytes) {
        return; // unlimited
    }
    if (value.unreadable) {
        limit.known = false;
        out.push_back(std::move(limit));
        return;
    }
    limit.limit = *value.bytes;
    const auto usage_text = read_kernel_file(folder + "/" + usage_name);
    const cgroup_value usage =
        usage_text ? parse_cgroup_value(*usage_text) : cgroup_value{std::nullopt, true};
    if (usage.unreadable || !usage.bytes) {
        limit.known = false;
    } else {
        limit.usage = *usage.bytes;
    }
    out.push_back(std::move(limit));
}

} // namespace

cgroup_value parse_cgroup_value(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    if (text == "max") {
        return {};
    }
    if (text.empty()) {
        return {std::nullopt, true};
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return {std::nullopt, true};
        }
        const auto d = static_cast<unsigned>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
            return {}; // beyond 2^64: certainly no limit
        }
        value = value * 10 + d;
    }
    if (value >= kUnlimited) {
        return {};
    }
    return {value, false};
}

memory_cgroups find_memory_cgroups(std::string_view root) {
    memory_cgroups found;
    const auto membership =
        read_kernel_file(path_under_root(root, "/proc/self/cgroup"), kCgroupListLimit);
    if (!membership) {
        return found;
    }
    std::optional<std::string> mountinfo;
    for (std::string_view line : lines(*membership)) {
        // hierarchy-id:controllers:path
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view id = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        const bool v2 = id == "0" && controllers.empty();
        const bool v1 = !v2 && contains(split(controllers, ','), "memory");
        if ((!v1 && !v2) || !plain_path(path)) {
            continue;
        }
        auto& list = v2 ? found.v2 : found.v1;
        if (!list.empty()) {
            continue;
        }
        if (!mountinfo) {
            mountinfo =
                read_kernel_file(path_under_root(root, "/proc/self/mountinfo"), kMountinfoLimit);
            if (!mountinfo) {
                return found;
            }
        }
        if (const auto mount = find_mount(*mountinfo, v2, path)) {
            list = folders(root, *mount, path);
        }
    }
    return found;
}

std::vector<cgroup_memory_limit> read_memory_limits(const memory_cgroups& cgroups) {
    std::vector<cgroup_memory_limit> limits;
    for (const std::string& folder : cgroups.v2) {
        add_limit(limits, folder, "memory.max", "memory.current");
        add_limit(limits, folder, "memory.high", "memory.current");
    }
    for (const std::string& folder : cgroups.v1) {
        add_limit(limits, folder, "memory.limit_in_bytes", "memory.usage_in_bytes");
        add_limit(limits, folder, "memory.memsw.limit_in_bytes", "memory.memsw.usage_in_bytes");
    }
    return limits;
}
