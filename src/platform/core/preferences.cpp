#include "preferences.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view kHeader = "# Brimwell preferences 1";

void appendEscaped(std::string& out, const std::string& text, bool isKey) {
    // A key must not start a comment line.
    std::size_t start = 0;
    if (isKey && !text.empty() && text.front() == '#') {
        out += "\\#";
        start = 1;
    }
    for (char c : std::string_view(text).substr(start)) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '=':
            out += isKey ? "\\=" : "=";
            break;
        default:
            out += c;
        }
    }
}

// Reads one escaped field up to an unescaped '=' (when stopAtEquals) or the end of the line.
// Null on a dangling or unknown escape.
std::optional<std::string> readField(std::string_view line, std::size_t& pos, bool stopAtEquals) {
    std::string out;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == '=' && stopAtEquals) {
            return out;
        }
        if (c == '\\') {
            if (pos + 1 >= line.size()) {
                return std::nullopt;
            }
            char e = line[pos + 1];
            if (e == '\\') {
                out += '\\';
            } else if (e == 'n') {
                out += '\n';
            } else if (e == 'r') {
                out += '\r';
            } else if (e == '=' || e == '#') {
                out += e;
            } else {
                return std::nullopt;
            }
            pos += 2;
            continue;
        }
        out += c;
        ++pos;
    }
    if (stopAtEquals) {
        return std::nullopt; // a key without its '='
    }
    return out;
}

bool isTrueText(const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    }
    return lower == "1" || lower == "true" || lower == "yes";
}

std::map<std::string, std::string> loadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        return {};
    }
    return parsePreferences(text.str()).value_or(std::map<std::string, std::string>{});
}

} // namespace

std::string serializePreferences(const std::map<std::string, std::string>& values) {
    std::string out(kHeader);
    out += '\n';
    for (const auto& [key, value] : values) {
        appendEscaped(out, key, true);
        out += '=';
        appendEscaped(out, value, false);
        out += '\n';
    }
    return out;
}

std::optional<std::map<std::string, std::string>> parsePreferences(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string_view line(text.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.empty() || line.front() == '#') {
            continue; // blank lines and comments, the header among them
        }
        std::size_t pos = 0;
        auto key = readField(line, pos, true);
        if (!key || key->empty()) {
            return std::nullopt;
        }
        ++pos; // the '='
        auto value = readField(line, pos, false);
        if (!value) {
            return std::nullopt;
        }
        values[*key] = *value;
    }
    return values;
}

UserDefaults::UserDefaults(std::filesystem::path file)
    : path_(std::move(file)), values_(loadFile(path_)) {}

std::optional<std::filesystem::path> UserDefaults::standardPath(const char* xdgConfigHome,
                                                                const char* home) {
    // Relative values are to be ignored by the XDG rules.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::filesystem::path(xdgConfigHome) / "Brimwell" / "preferences";
    }
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config" / "Brimwell" / "preferences";
    }
    return std::nullopt;
}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    static const std::shared_ptr<UserDefaults> shared = [] {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd* entry = getpwuid(getuid());
            home = entry != nullptr ? entry->pw_dir : nullptr;
        }
        auto file = standardPath(std::getenv("XDG_CONFIG_HOME"), home);
        return file ? std::make_shared<UserDefaults>(*file) : nullptr;
    }();
    return shared;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto text = stringForKey(key);
    return text && isTrueText(*text);
}

void UserDefaults::setString(const std::string& value, const std::string& forKey) {
    if (forKey.empty()) {
        return; // the file format has no place for an empty key
    }
    std::lock_guard lock(mutex_);
    values_[forKey] = value;
}

void UserDefaults::setBool(bool value, const std::string& forKey) {
    setString(value ? "1" : "0", forKey);
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

bool UserDefaults::synchronize() {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text = serializePreferences(values_);
    }
    std::error_code ec;
    std::filesystem::path dir = path_.parent_path();
    if (!dir.empty()) {
        std::filesystem::create_directories(dir, ec);
        if (ec) {
            return false;
        }
    }
    std::string temp = (dir / (path_.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = fchmod(fd, 0600) == 0;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            written += static_cast<std::size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path_.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dirFd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

} // namespace platform
