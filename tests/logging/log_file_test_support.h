#pragma once
// Shared by the log file tests: messages to log, reading files back and making files of
// distinct ages.

#include "logging/DDLogFileManager.h"
#include "logging/DDLogLevel.h"
#include "logging/DDLogMessage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace logfiles {

inline DDLogMessagePtr
message(const std::string& text,
        std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
    DDLogOrigin origin;
    origin.timestamp = when;
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1,
                                                DDLogTag(), 0, origin);
}

// A directory from the environment (set by with-small-filesystems.sh); fails the test if unset.
inline std::filesystem::path mountedDir(const char* variable) {
    const char* dir = std::getenv(variable);
    if (dir == nullptr) {
        ADD_FAILURE() << variable
                      << " is not set: run under tests/logging/with-small-filesystems.sh";
        return {};
    }
    return dir;
}

// Creates the named files oldest first, each with a creation date later than the one before
// (file systems stamp creation times from a coarse clock, so this waits for it to tick).
inline void createInOrder(const std::filesystem::path& dir, const std::vector<std::string>& names,
                          const std::string& contents = "") {
    std::optional<DDLogFileInfo::Date> previous;
    for (const auto& name : names) {
        const std::string path = (dir / name).string();
        for (;;) {
            std::ofstream(path, std::ios::trunc) << contents;
            const auto created = DDLogFileInfo(path).creationDate();
            if (!previous || *created > *previous) {
                previous = created;
                break;
            }
            std::filesystem::remove(path);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

inline std::vector<std::string> sortedNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace logfiles
