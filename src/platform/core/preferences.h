#pragma once
// The user's preferences: a small key-value store kept in one file under the XDG config
// directory. Values are text; booleans are stored as "1" or "0".

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class UserDefaults {
public:
    // Loads the store from `file`. A missing, unreadable or corrupt file gives an empty store
    // that the next synchronize() replaces.
    explicit UserDefaults(std::filesystem::path file);

    // The process-wide store in $XDG_CONFIG_HOME/Brimwell/preferences (default ~/.config).
    // Null when neither variable names a usable directory.
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    // Where the standard store lives for the given environment values (either may be null).
    static std::optional<std::filesystem::path> standardPath(const char* xdgConfigHome,
                                                             const char* home);

    std::optional<std::string> stringForKey(const std::string& key) const;
    // True for "1", "true" or "yes" in any case; false otherwise and when missing.
    bool boolForKey(const std::string& key) const;
    void setString(const std::string& value, const std::string& forKey);
    void setBool(bool value, const std::string& forKey);
    void removeObjectForKey(const std::string& key);

    // Writes the store to disk at once: temporary file, flush, rename over the old file, so a
    // crash leaves either the old or the new contents. False when the write failed.
    bool synchronize();

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

// The file format, exposed for tests: one "key=value" line per entry with backslash escapes
// for "\\", "\n", "\r", and in keys "=" and a leading "#". Blank lines and lines starting with
// "#" (such as the header that is written first) are skipped, so people can edit the file.
std::string serializePreferences(const std::map<std::string, std::string>& values);
// Null when the text is not a well-formed preferences file.
std::optional<std::map<std::string, std::string>> parsePreferences(const std::string& text);

} // namespace platform
