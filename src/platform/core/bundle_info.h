#pragma once
// The application's information dictionary, filled from the CMake project at build time.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view kCFBundleShortVersionString = "CFBundleShortVersionString";
inline constexpr std::string_view kCFBundleName = "CFBundleName";
inline constexpr std::string_view kNSHumanReadableCopyright = "NSHumanReadableCopyright";

const std::map<std::string, std::string, std::less<>>& mainBundleInfoDictionary();
std::optional<std::string> objectForInfoDictionaryKey(std::string_view key);

} // namespace platform
