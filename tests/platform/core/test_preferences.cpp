#include "preferences.h"

#include "../../support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

TEST(Preferences, TrickyValuesSurviveARoundTripThroughAPrivateFile) {
    const std::map<std::string, std::string> values = {{"empty", ""},
                                                       {"a=b", "x=y"},
                                                       {"multi\nline", "one\ntwo\r\nthree"},
                                                       {"back\\slash", "C:\\path\\n"},
                                                       {"# not a comment", "  caf\xc3\xa9  "}};
    TempDir dir;
    const auto file = dir.path() / "sub" / "preferences";
    platform::UserDefaults defaults(file);
    for (const auto& [key, value] : values) {
        defaults.setString(value, key);
        ASSERT_TRUE(defaults.synchronize());
    }
    defaults.setString("unsaved", "empty");
    platform::UserDefaults reloaded(file);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reloaded.stringForKey(key), value) << key;
    }
    EXPECT_EQ(reloaded.stringForKey("missing"), std::nullopt);
    // Written through a temporary file that is gone afterwards; readable by the user alone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Preferences, CorruptFileStartsEmptyAndIsRewritten) {
    TempDir dir;
    const auto file = dir.path() / "preferences";
    std::ofstream(file) << "\177ELF garbage\nUserUUID=stale\n";
    platform::UserDefaults defaults(file);
    EXPECT_EQ(defaults.stringForKey("UserUUID"), std::nullopt);
    defaults.setString("fresh", "UserUUID");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(platform::UserDefaults(file).stringForKey("UserUUID"), "fresh");
}

TEST(Preferences, StandardPathFollowsXdgRules) {
    using P = std::filesystem::path;
    const std::tuple<const char*, const char*, std::optional<P>> cases[] = {
        {"/cfg", "/home/u", P("/cfg/Brimwell/preferences")},
        {"", "/home/u", P("/home/u/.config/Brimwell/preferences")},
        {"relative/cfg", "/home/u", P("/home/u/.config/Brimwell/preferences")},
        {nullptr, "relative", std::nullopt},
    };
    for (const auto& [xdg, home, expected] : cases) {
        EXPECT_EQ(platform::UserDefaults::standardPath(xdg, home), expected) << (xdg ? xdg : "-");
    }
}

} // namespace
