#include "platform/core/preferences.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view kHeader = "# Brimwell preferences 1";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

void appendEscaped(std::string& out, const std::string& text, bool isKey) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool edge = i == 0 || i + 1 == text.size();
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
        case '#':
            // A key must not start a comment line.
            out += isKey && i == 0 ? "\\#" : "#";
            break;
        case ' ':
            // Unescaped edge blanks are trimmed when read.
            out += edge ? "\\s" : " ";
            break;
        case '\t':
            out += edge ? "\\t" : "\t";
            break;
        default:
            out += c;
        }
    }
}

// Undoes appendEscaped. Null on a dangling or unknown escape.
std::optional<std::string> unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t pos = 0; pos < field.size(); ++pos) {
        const char c = field[pos];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos == field.size()) {
            return std::nullopt;
        }
        switch (field[pos]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        case 't':
            out += '\t';
            break;
        case '=':
        case '#':
            out += field[pos];
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

// The position of the first '=' that is not escaped, or npos.
std::size_t separatorOf(std::string_view line) {
    for (std::size_t pos = 0; pos < line.size(); ++pos) {
        if (line[pos] == '\\') {
            ++pos;
        } else if (line[pos] == '=') {
            return pos;
        }
    }
    return std::string_view::npos;
}

bool isTrueText(const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    }
    return lower == "1" || lower == "true" || lower == "yes" || lower == "on";
}

struct LoadResult {
    UserDefaults::LoadState state = UserDefaults::LoadState::Missing;
    std::string problem;
    PreferencesDocument document;
};

LoadResult unreadable(std::string problem) {
    return {UserDefaults::LoadState::Unreadable, std::move(problem), {}};
}

LoadResult loadFile(const std::filesystem::path& file) {
    // Non-blocking, so a FIFO planted in place of the file cannot hang start-up.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {};
        }
        return unreadable(std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return unreadable("not a regular file");
    }
    const std::string tooLarge =
        "larger than " + std::to_string(UserDefaults::kMaxFileBytes) + " bytes";
    if (static_cast<std::uint64_t>(info.st_size) > UserDefaults::kMaxFileBytes) {
        ::close(fd);
        return unreadable(tooLarge);
    }
    // One byte more than allowed tells a file that grew since fstat.
    std::string text(UserDefaults::kMaxFileBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t n = ::read(fd, text.data() + size, text.size() - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return unreadable(std::strerror(error));
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (size > UserDefaults::kMaxFileBytes) {
        return unreadable(tooLarge);
    }
    text.resize(size);
    // Saved as UTF-16 by an editor: nothing in it can be read as ours, and a rewrite in UTF-8
    // would lose it.
    if (text.starts_with("\xff\xfe") || text.starts_with("\xfe\xff")) {
        return unreadable("UTF-16 text");
    }
    return {UserDefaults::LoadState::Loaded, {}, parsePreferences(text)};
}

} // namespace

std::string serializePreferences(const PreferencesDocument& document) {
    std::string out(kHeader);
    out += '\n';
    for (const auto& [key, value] : document.values) {
        appendEscaped(out, key, true);
        out += '=';
        appendEscaped(out, value, false);
        out += '\n';
    }
    for (const PreferencesLine& line : document.keptLines) {
        out += line.text;
        out += '\n';
    }
    return out;
}

PreferencesDocument parsePreferences(std::string_view text) {
    PreferencesDocument document;
    if (text.starts_with("\xef\xbb\xbf")) {
        text.remove_prefix(3); // a UTF-8 byte order mark left by some editors
    }
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        if (end == std::string_view::npos) {
            text = {};
        } else {
            text.remove_prefix(end + (text.substr(end).starts_with("\r\n") ? 2 : 1));
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || content == kHeader) {
            continue;
        }
        if (content.front() == '#') {
            document.keptLines.push_back({std::string(line), true});
            continue;
        }
        const std::size_t separator = separatorOf(content);
        std::optional<std::string> key, value;
        if (separator != std::string_view::npos) {
            key = unescape(trimmed(content.substr(0, separator)));
            value = unescape(trimmed(content.substr(separator + 1)));
        }
        if (!key || key->empty() || !value) {
            document.keptLines.push_back({std::string(line), false});
            continue;
        }
        document.values[*key] = std::move(*value);
    }
    return document;
}

UserDefaults::UserDefaults(std::filesystem::path file) : path_(std::move(file)) {
    LoadResult loaded = loadFile(path_);
    loadState_ = loaded.state;
    loadProblem_ = std::move(loaded.problem);
    document_ = std::move(loaded.document);
}

std::vector<std::string> UserDefaults::linesNotUnderstood() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const PreferencesLine& line : document_.keptLines) {
        if (!line.comment) {
            lines.push_back(line.text);
        }
    }
    return lines;
}

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

std::map<std::string, std::string> UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return document_.values;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = document_.values.find(key);
    if (it == document_.values.end()) {
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
    document_.values[forKey] = value;
}

void UserDefaults::setBool(bool value, const std::string& forKey) {
    setString(value ? "1" : "0", forKey);
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    document_.values.erase(key);
}

bool UserDefaults::synchronize() {
    if (loadState_ == LoadState::Unreadable) {
        return false; // what could not be read must not be replaced
    }
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text = serializePreferences(document_);
    }
    if (text.size() > kMaxFileBytes) {
        return false; // it could not be read back
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
