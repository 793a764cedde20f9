#include "platform/core/bundle_info.h"

#include "bundle_info_config.h"

namespace platform {

const std::map<std::string, std::string, std::less<>>& mainBundleInfoDictionary() {
    static const std::map<std::string, std::string, std::less<>> info{
        {std::string(kCFBundleName), BRIMWELL_BUNDLE_NAME},
        {std::string(kCFBundleShortVersionString), BRIMWELL_BUNDLE_SHORT_VERSION},
        {std::string(kNSHumanReadableCopyright), BRIMWELL_BUNDLE_COPYRIGHT},
    };
    return info;
}

std::optional<std::string> objectForInfoDictionaryKey(std::string_view key) {
    const auto& info = mainBundleInfoDictionary();
    auto it = info.find(key);
    if (it == info.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace platform
