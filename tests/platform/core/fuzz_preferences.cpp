// Fuzz target: the preferences parser on any file, and the writer on whatever it read.

#include "platform/core/preferences.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#define check(condition) ((condition) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const platform::PreferencesDocument document = platform::parsePreferences(text);
    for (const auto& [key, value] : document.values) {
        check(!key.empty());
    }
    for (const platform::PreferencesLine& line : document.keptLines) {
        check(line.text.find_first_of("\r\n") == std::string::npos);
        check(line.comment == (line.text.find_first_not_of(" \t") != std::string::npos &&
                               line.text[line.text.find_first_not_of(" \t")] == '#'));
    }
    // Nothing read is lost or changed by a rewrite, and a rewrite of that changes nothing.
    const std::string written = platform::serializePreferences(document);
    const platform::PreferencesDocument reread = platform::parsePreferences(written);
    check(reread == document);
    check(platform::serializePreferences(reread) == written);
    // Whatever comes before it, a well-formed line is read.
    const platform::PreferencesDocument appended =
        platform::parsePreferences(text + "\nAnalyticsOptOut = 1\n");
    check(appended.values.count("AnalyticsOptOut") == 1 &&
          appended.values.at("AnalyticsOptOut") == "1");
    return 0;
}
