#include "preferences.h"

#include "../../support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

TEST(Preferences, TrickyValuesSurviveARoundTripThroughTheFile) {
    const std::map<std::string, std::string> values = {
        {"UserUUID", "0F8FAD5B-D9CB-469F-A165-70867728950E"},
        {"empty", ""},
        {"a=b", "x=y"},
        {"multi\nline", "one\ntwo\r\nthree"},
        {"back\\slash", "C:\\path\\n"},
        {"utf8", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {"# not a comment", "  spaces  "},
    };
    TempDir dir;
    const auto file = dir.path() / "Brimwell" / "preferences";
    {
        platform::UserDefaults defaults(file);
        for (const auto& [key, value] : values) {
            defaults.setString(value, key);
        }
        ASSERT_TRUE(defaults.synchronize());
    }
    platform::UserDefaults reloaded(file);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reloaded.stringForKey(key), value) << key;
    }
    EXPECT_EQ(reloaded.stringForKey("missing"), std::nullopt);
}

TEST(Preferences, ParsingAcceptsHandEditedFilesAndRejectsGarbage) {
    using Map = std::map<std::string, std::string>;
    const std::pair<const char*, std::optional<Map>> cases[] = {
        {"", Map{}},
        {"# Brimwell preferences 1\n", Map{}},
        {"# Brimwell preferences 1\nk=v", Map{{"k", "v"}}},
        // Written by hand: no header, blank lines, comments.
        {"\n# mine\nAnalyticsOptOut=1\n\n", Map{{"AnalyticsOptOut", "1"}}},
        {"k=a\nk=b\n", Map{{"k", "b"}}},
        {"\\#k=v\n", Map{{"#k", "v"}}},
        {"no equals sign\n", std::nullopt},
        {"=value\n", std::nullopt},
        {"key=bad \\q escape\n", std::nullopt},
        {"key=dangling\\", std::nullopt},
        {"\x7f"
         "ELF\x01\x02\n",
         std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(platform::parsePreferences(text), expected) << text;
    }
}

TEST(Preferences, CorruptOrUnreadableFileStartsEmptyAndIsRewritten) {
    TempDir dir;
    const auto file = dir.path() / "preferences";
    writeFile(file, "\x7f"
                    "ELF garbage\nUserUUID=stale\n");
    platform::UserDefaults defaults(file);
    EXPECT_EQ(defaults.stringForKey("UserUUID"), std::nullopt);
    defaults.setString("fresh", "UserUUID");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(platform::parsePreferences(readFile(file)),
              (std::map<std::string, std::string>{{"UserUUID", "fresh"}}));

    // A directory where the file should be cannot be read or replaced.
    const auto blocked = dir.path() / "blocked";
    std::filesystem::create_directories(blocked / "inside");
    platform::UserDefaults onDirectory(blocked);
    EXPECT_EQ(onDirectory.stringForKey("UserUUID"), std::nullopt);
    onDirectory.setString("x", "UserUUID");
    EXPECT_FALSE(onDirectory.synchronize());
}

TEST(Preferences, WriteIsPrivateAndLeavesNoTemporaryFiles) {
    TempDir dir;
    const auto file = dir.path() / "sub" / "preferences";
    platform::UserDefaults defaults(file);
    for (int i = 0; i < 5; ++i) {
        defaults.setString(std::to_string(i), "count");
        ASSERT_TRUE(defaults.synchronize());
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"preferences"});
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(platform::UserDefaults(file).stringForKey("count"), "4");
}

TEST(Preferences, UnsynchronisedChangesStayInMemory) {
    TempDir dir;
    const auto file = dir.path() / "preferences";
    platform::UserDefaults defaults(file);
    defaults.setString("a", "k");
    ASSERT_TRUE(defaults.synchronize());
    defaults.setString("b", "k");
    defaults.removeObjectForKey("other");
    EXPECT_EQ(defaults.stringForKey("k"), "b");
    EXPECT_EQ(platform::UserDefaults(file).stringForKey("k"), "a");
    defaults.removeObjectForKey("k");
    EXPECT_EQ(defaults.stringForKey("k"), std::nullopt);
}

TEST(Preferences, BooleanValues) {
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "preferences");
    const std::pair<const char*, bool> cases[] = {{"1", true},    {"YES", true}, {"true", true},
                                                  {"True", true}, {"0", false},  {"no", false},
                                                  {"", false},    {"2", false}};
    for (const auto& [text, expected] : cases) {
        defaults.setString(text, "flag");
        EXPECT_EQ(defaults.boolForKey("flag"), expected) << text;
    }
    defaults.setBool(true, "flag");
    EXPECT_TRUE(defaults.boolForKey("flag"));
    defaults.setBool(false, "flag");
    EXPECT_FALSE(defaults.boolForKey("flag"));
    EXPECT_FALSE(defaults.boolForKey("missing"));
}

TEST(Preferences, StandardPathFollowsXdgRules) {
    using P = std::filesystem::path;
    struct Case {
        const char* xdg;
        const char* home;
        std::optional<P> expected;
    };
    const Case cases[] = {
        {"/cfg", "/home/u", P("/cfg/Brimwell/preferences")},
        {nullptr, "/home/u", P("/home/u/.config/Brimwell/preferences")},
        {"", "/home/u", P("/home/u/.config/Brimwell/preferences")},
        {"relative/cfg", "/home/u", P("/home/u/.config/Brimwell/preferences")},
        {nullptr, nullptr, std::nullopt},
        {nullptr, "relative", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::UserDefaults::standardPath(c.xdg, c.home), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

} // namespace
