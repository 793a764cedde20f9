#pragma once
// The user's preferences: a small key-value store kept in one file under the XDG config
// directory. Values are text; booleans are stored as "1" or "0".

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One line of the file that is not an entry, kept so that a rewrite loses nothing.
struct PreferencesLine {
    std::string text; // as read, without its line break
    bool comment = false;
    bool operator==(const PreferencesLine&) const = default;
};

// What a preferences file holds: its entries, and the comments and lines that could not be
// read, in file order.
struct PreferencesDocument {
    std::map<std::string, std::string> values;
    std::vector<PreferencesLine> keptLines;
    bool operator==(const PreferencesDocument&) const = default;
};

class UserDefaults {
public:
    // A real file is a few hundred bytes. Anything larger is not ours to parse on the main
    // thread; such a file is treated as unreadable.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;

    enum class LoadState {
        Missing,    // no file yet: the store starts empty and the first synchronize() makes it
        Loaded,     // read whole; lines it did not understand are kept and written back
        Unreadable, // exists but could not be read whole: never rewritten
    };

    // Loads the store from `file`. Never blocks on a FIFO or device in place of the file.
    explicit UserDefaults(std::filesystem::path file);

    // The process-wide store in $XDG_CONFIG_HOME/Brimwell/preferences (default ~/.config).
    // Null when neither variable names a usable directory.
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    // Where the standard store lives for the given environment values (either may be null).
    static std::optional<std::filesystem::path> standardPath(const char* xdgConfigHome,
                                                             const char* home);

    LoadState loadState() const { return loadState_; }
    // Why the file is unreadable; empty otherwise.
    const std::string& loadProblem() const { return loadProblem_; }
    // The lines of the file that are neither entries nor comments.
    std::vector<std::string> linesNotUnderstood() const;

    // Every entry, as a copy.
    std::map<std::string, std::string> dictionaryRepresentation() const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    // True for "1", "true", "yes" or "on" in any case; false otherwise and when missing.
    bool boolForKey(const std::string& key) const;
    void setString(const std::string& value, const std::string& forKey);
    void setBool(bool value, const std::string& forKey);
    void removeObjectForKey(const std::string& key);

    // Writes the store to disk at once: temporary file, flush, rename over the old file, so a
    // crash leaves either the old or the new contents. False when the write failed, and
    // without writing anything when the file was unreadable or the new one would be too
    // large to be read back.
    bool synchronize();

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    LoadState loadState_ = LoadState::Missing;
    std::string loadProblem_;
    mutable std::mutex mutex_;
    PreferencesDocument document_;
};

// The file format, exposed for tests: a header comment, then one "key=value" line per entry.
// Backslash escapes "\\", "\n", "\r", in keys "\=" and a leading "\#", and "\s" and "\t" for a
// space or tab at either end of a key or value. Lines end in "\n", "\r\n" or "\r"; spaces and
// tabs around keys and values are trimmed, so hand edits such as "Key = 1" work. Blank lines
// are skipped; comments ("#") and lines that cannot be read are kept and written back after
// the entries.
std::string serializePreferences(const PreferencesDocument& document);
PreferencesDocument parsePreferences(std::string_view text);

} // namespace platform
