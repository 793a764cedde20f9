#pragma once
// Start at login: the user's XDG autostart entry for Brimwell,
// $XDG_CONFIG_HOME/autostart/brimwell.desktop (~/.config/autostart by default).
//
// The entry is written atomically (a new file renamed over the old one), mode 0600: it is read
// only by the user's own session, so, as with every file Brimwell makes, nobody else needs to
// read it. Nothing is ever written through a link: the entry's name is checked and refused when
// it is a symbolic link or anything but a regular file, and the autostart folder must belong to
// the user and be closed to writes by others.
//
// A system-wide entry ($XDG_CONFIG_DIRS/autostart/brimwell.desktop, /etc/xdg by default, put
// there by a packager's install) starts Brimwell for every user. Turning start at login off then
// writes a user entry with Hidden=true, which desktops take to hide the system one; otherwise
// off removes the user entry.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Autostart {
public:
    static constexpr const char* kEntryName = "brimwell.desktop";

    struct Result {
        bool ok = false;
        std::string problem; // what went wrong, for the user; empty when ok
    };

    // `userFolder`: the user's autostart folder. `systemFolders`: the system's, first wins.
    // `executable`: the program the entry starts (an absolute path).
    Autostart(std::filesystem::path userFolder, std::vector<std::filesystem::path> systemFolders,
              std::string executable);

    // The folders of the environment: $XDG_CONFIG_HOME (else $HOME/.config) and
    // $XDG_CONFIG_DIRS (else /etc/xdg), relative values ignored as the XDG rules ask, and this
    // program's path from /proc/self/exe. None without a usable home.
    static std::optional<Autostart> standard();
    static std::optional<std::filesystem::path> userFolderFor(const char* xdgConfigHome,
                                                              const char* home);
    static std::vector<std::filesystem::path> systemFoldersFor(const char* xdgConfigDirs);
    // The path /proc/self/exe names; a program replaced by an upgrade while it runs (shown as
    // "... (deleted)") gives the path of its replacement when there is one. Empty when unknown.
    static std::string runningExecutable();

    // Whether a desktop would start Brimwell at login: the user's entry when there is one (and
    // it is neither hidden nor disabled), else the first system entry found.
    bool isEnabled() const;
    // Writes the user's entry (enable) or removes or hides it (disable).
    Result setEnabled(bool enabled) const;

    // The text of the entry written for `executable`; none when the path cannot be put on an
    // Exec line (not absolute, or holding control characters).
    static std::optional<std::string> entryText(const std::string& executable);
    // Whether the text of an entry says it starts (not Hidden=true, not
    // X-GNOME-Autostart-enabled=false in its [Desktop Entry] group).
    static bool entryStarts(const std::string& text);

    const std::filesystem::path& userEntry() const { return userEntry_; }

private:
    std::filesystem::path userFolder_;
    std::filesystem::path userEntry_;
    std::vector<std::filesystem::path> systemFolders_;
    std::string executable_;
};

} // namespace platform
