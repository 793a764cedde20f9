#include "platform/core/preferences.h"
#include "platform/core/uuid_string.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sys/stat.h>

namespace {

using State = platform::UserDefaults::LoadState;
using Values = std::map<std::string, std::string>;
using namespace std::string_literals;

// Files are relied on across versions: what earlier versions wrote reads the same, and what
// this one writes for such values is byte for byte what they wrote. Trickier values survive a
// round trip too.
TEST(Preferences, ValuesSurviveAPrivateFileWrittenAsEarlierVersionsDid) {
    const std::string stored = "# Brimwell preferences 1\n"
                               "\\#hash=x#y\n"
                               "AnalyticsOptOut=1\n"
                               "UserUUID=3F2A9C11-0000-4000-8000-00000000ABCD\n"
                               "a\\=b=x=y\n"
                               "back\\\\slash=C:\\\\path\\\\n\n"
                               "empty=\n"
                               "multi\\nline=one\\ntwo\\r\\nthree\n";
    Values values = {{"AnalyticsOptOut", "1"},
                     {"UserUUID", "3F2A9C11-0000-4000-8000-00000000ABCD"},
                     {"#hash", "x#y"},
                     {"a=b", "x=y"},
                     {"back\\slash", "C:\\path\\n"},
                     {"empty", ""},
                     {"multi\nline", "one\ntwo\r\nthree"}};
    TempDir dir;
    const auto file = dir.path() / "sub" / "preferences";
    platform::UserDefaults defaults(file);
    EXPECT_EQ(defaults.loadState(), State::Missing);
    for (const auto& [key, value] : values) {
        defaults.setString(value, key);
    }
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(readFile(file), stored);
    const Values tricky = {
        {"empty", ""}, {"# not a comment", "  caf\xc3\xa9  "}, {" spaced key\t", "\t"},
        {"lone", " "}, {"nul", std::string("a\0b", 3)},        {"#", "#"}};
    for (const auto& [key, value] : tricky) {
        defaults.setString(value, key);
        values[key] = value;
        ASSERT_TRUE(defaults.synchronize());
    }
    defaults.setString("unsaved", "empty");
    platform::UserDefaults reloaded(file);
    EXPECT_EQ(reloaded.loadState(), State::Loaded);
    EXPECT_EQ(reloaded.dictionaryRepresentation(), values);
    EXPECT_TRUE(reloaded.linesNotUnderstood().empty());
    // Written through a temporary file that is gone afterwards; readable by the user alone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(Preferences, LinesAreReadOneByOneAndWhatIsNotUnderstoodIsKept) {
    struct Case {
        const char* what;
        std::string text;
        Values values;
        std::vector<platform::PreferencesLine> kept;
    };
    const Case cases[] = {
        {"Windows, old Mac and Unix line endings",
         "AnalyticsOptOut=1\r\nUserUUID=KEEP-ME\rk=v\r",
         {{"AnalyticsOptOut", "1"}, {"UserUUID", "KEEP-ME"}, {"k", "v"}},
         {}},
        {"blanks around keys and values",
         "  AnalyticsOptOut = 1 \n\tUserUUID\t=\tKEEP ME\t\n",
         {{"AnalyticsOptOut", "1"}, {"UserUUID", "KEEP ME"}},
         {}},
        {"byte order mark, no final line break",
         "\xef\xbb\xbf"
         "AnalyticsOptOut=1",
         {{"AnalyticsOptOut", "1"}},
         {}},
        {"comments kept, the header dropped",
         "# Brimwell preferences 1\n  # mine\n\n \t \nk=v\n",
         {{"k", "v"}},
         {{"  # mine", true}}},
        {"no '=', empty key, unknown or dangling escape: each costs its line only",
         "[General]\n=1\n \\s=2\nbad\\qline=1\nk=v\\\nok=1\n",
         {{"ok", "1"}, {" ", "2"}},
         {{"[General]", false}, {"=1", false}, {"bad\\qline=1", false}, {"k=v\\", false}}},
        {"binary junk around an entry",
         "\x7f"
         "ELF\x01\x02\0\0\nAnalyticsOptOut=1\n\xff\xfe\xfd\n"s,
         {{"AnalyticsOptOut", "1"}},
         {{"\x7f"
           "ELF\x01\x02\0\0"s,
           false},
          {"\xff\xfe\xfd", false}}},
        {"the last of repeated keys wins", "k=1\nk=2\n", {{"k", "2"}}, {}},
    };
    for (const Case& c : cases) {
        const platform::PreferencesDocument document = platform::parsePreferences(c.text);
        EXPECT_EQ(document.values, c.values) << c.what;
        EXPECT_EQ(document.keptLines, c.kept) << c.what;
    }
}

// Damaged files on disk: the opt-out and identifier are read wherever the file can be read,
// a rewrite keeps every line, and a file that cannot be read whole is never replaced.
TEST(Preferences, DamagedFilesKeepTheOptOutAndAreNeverReplacedUnread) {
    struct Case {
        const char* what;
        char kind; // 'f' a file of `text`, 'p' a FIFO nobody writes
        std::string text;
        State state;   // all that can be read have the opt-out set
        bool rewrites; // what is written must fit the size limit to be read back
    };
    const std::string big(platform::UserDefaults::kMaxFileBytes, '#');
    const Case cases[] = {
        {"one malformed line", 'f', "AnalyticsOptOut=1\nUserUUID=KEEP-ME\nbad\\qline=1\n",
         State::Loaded, true},
        {"at the size limit", 'f', "AnalyticsOptOut=1\n" + big.substr(18), State::Loaded, false},
        {"one byte over the size limit", 'f', "AnalyticsOptOut=1\n" + big.substr(17),
         State::Unreadable, false},
        // "A=1\n" in UTF-16 with its byte order mark.
        {"UTF-16", 'f', std::string("\377\376A\0=\0001\0\n\0", 10), State::Unreadable, false},
        {"a FIFO", 'p', "", State::Unreadable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto file = dir.path() / "preferences";
        if (c.kind == 'f') {
            dir.write("preferences", c.text);
        }
        ASSERT_TRUE(c.kind != 'p' || mkfifo(file.c_str(), 0600) == 0);
        const std::string before = std::filesystem::is_regular_file(file) ? readFile(file) : "";

        platform::UserDefaults defaults(file); // a FIFO would hang here
        EXPECT_EQ(defaults.loadState(), c.state);
        EXPECT_EQ(defaults.loadProblem().empty(), c.state != State::Unreadable);
        EXPECT_EQ(defaults.boolForKey("AnalyticsOptOut"), c.state == State::Loaded);
        const auto oldValues = defaults.dictionaryRepresentation();
        const auto oldLines = defaults.linesNotUnderstood();
        defaults.setString("NEW", "UserUUID");
        defaults.setString("added", "Other");

        if (!c.rewrites) {
            EXPECT_FALSE(defaults.synchronize());
            EXPECT_EQ(std::filesystem::is_regular_file(file) ? readFile(file) : "", before);
            EXPECT_EQ(defaults.stringForKey("UserUUID"), "NEW"); // still there for this run
        } else {
            ASSERT_TRUE(defaults.synchronize());
            platform::UserDefaults reloaded(file);
            auto expected = oldValues;
            expected["UserUUID"] = "NEW";
            expected["Other"] = "added";
            EXPECT_EQ(reloaded.dictionaryRepresentation(), expected);
            EXPECT_EQ(reloaded.linesNotUnderstood(), oldLines);
        }
    }
}

TEST(Preferences, BooleansReadTheUsualWords) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},   {"TRUE", true}, {"Yes", true}, {"on", true}, {"0", false},
        {"no", false}, {"off", false}, {"", false},   {"2", false}, {"y", false},
    };
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "preferences");
    for (const auto& [text, expected] : cases) {
        defaults.setString(text, "flag");
        EXPECT_EQ(defaults.boolForKey("flag"), expected) << text;
    }
    EXPECT_FALSE(defaults.boolForKey("missing"));
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

// The identifiers stored as UserUUID in the preferences and used in log file names.
TEST(UuidString, RandomVersionFourInUpperCase) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = platform::createUUIDString();
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

} // namespace
