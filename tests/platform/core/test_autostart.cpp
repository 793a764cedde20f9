// Start at login: the user's autostart entry written, read back, hidden and removed, never
// through a planted link.
#include "support/TempDir.h"

#include "platform/core/autostart.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

using platform::Autostart;
namespace fs = std::filesystem;

// The value of `key` in an entry's text, as a desktop reads it: string escapes undone.
std::string valueOf(const std::string& text, const std::string& key) {
    const std::size_t at = text.find("\n" + key + "=");
    std::string value;
    for (std::size_t i = at + key.size() + 2;
         at != std::string::npos && i < text.size() && text[i] != '\n'; ++i) {
        const bool escaped = text[i] == '\\';
        value += !escaped ? text[i] : text[++i] == 's' ? ' ' : text[i] == 'n' ? '\n' : text[i];
    }
    return value;
}

// The program an Exec value starts: one quoted argument, with its backslash escapes and field
// codes ("%%") undone as a desktop does.
std::string programOf(const std::string& exec) {
    if (exec.size() < 2 || exec.front() != '"' || exec.back() != '"') {
        return "(not quoted: " + exec + ")";
    }
    std::string program;
    for (std::size_t i = 1; i + 1 < exec.size(); ++i) {
        if (exec[i] == '\\') {
            program += exec[++i];
        } else if (exec[i] == '%' && exec[i + 1] == '%') {
            program += '%';
            ++i;
        } else if (exec[i] == '"' || exec[i] == '`' || exec[i] == '$' || exec[i] == '%') {
            return "(unescaped " + std::string(1, exec[i]) + ")";
        } else {
            program += exec[i];
        }
    }
    return program;
}

struct Desk {
    TempDir dir;
    fs::path user = dir.path() / "config" / "autostart";
    fs::path system = dir.path() / "xdg" / "autostart";
    Autostart autostart(const std::string& exe = "/opt/brimwell/bin/brimwell") const {
        return Autostart(user, {dir.path() / "missing" / "autostart", system}, exe);
    }
    void systemEntry(const std::string& text) const {
        fs::create_directories(system);
        std::ofstream(system / Autostart::kEntryName) << text;
    }
};

TEST(Autostart, FoldersFromTheEnvironment) {
    EXPECT_EQ(Autostart::userFolderFor("/x/cfg", "/home/u"), fs::path("/x/cfg/autostart"));
    EXPECT_EQ(Autostart::userFolderFor("relative", "/home/u"),
              fs::path("/home/u/.config/autostart"));
    EXPECT_EQ(Autostart::userFolderFor(nullptr, "/home/u"), fs::path("/home/u/.config/autostart"));
    EXPECT_EQ(Autostart::userFolderFor("", ""), std::nullopt);
    EXPECT_EQ(Autostart::systemFoldersFor(nullptr), std::vector<fs::path>{"/etc/xdg/autostart"});
    EXPECT_EQ(Autostart::systemFoldersFor("/a:rel::/b/"),
              (std::vector<fs::path>{"/a/autostart", "/b//autostart"}));
    const std::string exe = Autostart::runningExecutable();
    EXPECT_TRUE(exe.ends_with("/test_autostart")) << exe;
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
}

TEST(Autostart, WrittenReadBackAndRemoved) {
    Desk desk;
    const Autostart autostart = desk.autostart();
    EXPECT_FALSE(autostart.isEnabled());
    // Off without a folder needs nothing.
    EXPECT_TRUE(autostart.setEnabled(false).ok);
    EXPECT_FALSE(fs::exists(desk.user));
    ASSERT_TRUE(autostart.setEnabled(true).ok);
    EXPECT_TRUE(autostart.isEnabled());
    // What is written is the entry checked below for every kind of program path.
    EXPECT_EQ(readFile(autostart.userEntry()), Autostart::entryText("/opt/brimwell/bin/brimwell"));
    EXPECT_EQ(fs::status(autostart.userEntry()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    // Made for us, closed to others.
    EXPECT_EQ(fs::status(desk.user).permissions(), fs::perms::owner_all);
    // Again: replaced, and nothing but the entry is left behind.
    ASSERT_TRUE(autostart.setEnabled(true).ok);
    EXPECT_EQ(std::distance(fs::directory_iterator(desk.user), fs::directory_iterator()), 1);

    ASSERT_TRUE(autostart.setEnabled(false).ok);
    EXPECT_FALSE(fs::exists(autostart.userEntry()));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_TRUE(autostart.setEnabled(false).ok); // nothing to remove is fine
}

TEST(Autostart, ProgramPathsOnTheExecLine) {
    const struct {
        std::string path;
        bool accepted;
    } cases[] = {
        {"/usr/bin/brimwell", true},
        {"/home/ann/My Apps/brimwell", true},
        {"/opt/it's \"quoted\"/brimwell", true},
        {"/opt/$HOME/`id`/brimwell", true},
        {"/opt/back\\slash/100%/brimwell", true},
        {"/opt/caf\xc3\xa9/brimwell", true},
        {"relative/brimwell", false},
        {"", false},
        {"/opt/new\nline/brimwell", false},
    };
    for (const auto& c : cases) {
        const auto text = Autostart::entryText(c.path);
        EXPECT_EQ(text.has_value(), c.accepted) << c.path;
        if (text) {
            EXPECT_TRUE(text->starts_with("[Desktop Entry]\n")) << *text;
            EXPECT_EQ(valueOf(*text, "Type"), "Application");
            EXPECT_EQ(programOf(valueOf(*text, "Exec")), c.path) << *text;
            EXPECT_EQ(valueOf(*text, "TryExec"), c.path) << *text;
            EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 9) << *text;
        }
    }
    Desk desk;
    const auto refused = desk.autostart("relative").setEnabled(true);
    EXPECT_TRUE(!refused.ok && !refused.problem.empty()) << refused.problem;
    EXPECT_FALSE(fs::exists(desk.autostart().userEntry()));
}

TEST(Autostart, WhatIsNotOursIsNeverWrittenThrough) {
    Desk desk;
    const Autostart autostart = desk.autostart();
    fs::create_directories(desk.user);
    const fs::path target = desk.dir.path() / "victim";
    std::ofstream(target) << "precious\n";
    fs::create_symlink(target, autostart.userEntry());
    const auto result = autostart.setEnabled(true);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.problem.find("symbolic link"), std::string::npos) << result.problem;
    EXPECT_EQ(readFile(target), "precious\n");
    EXPECT_TRUE(fs::is_symlink(autostart.userEntry()));
    // Off removes the link itself, never what it points at.
    EXPECT_TRUE(autostart.setEnabled(false).ok);
    EXPECT_FALSE(fs::is_symlink(autostart.userEntry()));
    EXPECT_EQ(readFile(target), "precious\n");

    fs::create_directories(autostart.userEntry()); // a folder in its place
    EXPECT_FALSE(autostart.setEnabled(true).ok);
    EXPECT_FALSE(autostart.setEnabled(false).ok);
    EXPECT_TRUE(fs::is_directory(autostart.userEntry()));
    fs::remove(autostart.userEntry());

    ::chmod(desk.user.c_str(), 0777); // anyone may swap files in it
    const auto open = autostart.setEnabled(true);
    EXPECT_NE(open.problem.find("others may write"), std::string::npos) << open.problem;
    EXPECT_FALSE(open.ok || fs::exists(autostart.userEntry()));
}

TEST(Autostart, ASystemEntryIsHiddenRatherThanRemoved) {
    Desk desk;
    desk.systemEntry("[Desktop Entry]\nType=Application\nExec=brimwell\n");
    const Autostart autostart = desk.autostart();
    EXPECT_TRUE(autostart.isEnabled()); // started for every user

    ASSERT_TRUE(autostart.setEnabled(false).ok);
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(valueOf(readFile(autostart.userEntry()), "Hidden"), "true");

    ASSERT_TRUE(autostart.setEnabled(true).ok);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(valueOf(readFile(autostart.userEntry()), "Hidden"), "");

    // A system entry that is itself off: off means no user entry at all.
    desk.systemEntry("[Desktop Entry]\nType=Application\nHidden=true\n");
    ASSERT_TRUE(autostart.setEnabled(false).ok);
    EXPECT_FALSE(fs::exists(autostart.userEntry()));
    EXPECT_FALSE(autostart.isEnabled());
}

TEST(Autostart, WhatAnEntrySays) {
    const struct {
        const char* text;
        bool starts;
    } cases[] = {
        {"[Desktop Entry]\nExec=x\n", true},
        {"[Desktop Entry]\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true\r\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n", true},
        {"# no group at all\nExec=x\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Autostart::entryStarts(c.text), c.starts) << c.text;
    }
}

} // namespace
