#include "logging/DDTTYLogger.h"

#include "logging/DDLogLevel.h"
#include "platform/core/thread_info.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/uio.h>
#include <unistd.h>

namespace {

bool containsNoCase(const char* text, const char* part) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(part) != std::string::npos;
}

const DDTTYColorTable* tableForMode(DDTTYColorMode mode) {
    switch (mode) {
    case DDTTYColorMode::ansi16:
        return &DDTTYLogger::initialize_colors_16();
    case DDTTYColorMode::ansi256:
        return &DDTTYLogger::initialize_colors_256();
    default:
        return nullptr;
    }
}

std::uint8_t toByte(float component) {
    return static_cast<std::uint8_t>(std::clamp(component, 0.0f, 1.0f) * 255.0f);
}

// Writes every piece, finishing a short write so a line is never cut.
void writeAll(int fd, iovec* pieces, int count) {
    while (count > 0) {
        const ssize_t written = ::writev(fd, pieces, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
}

} // namespace

// ---- colour tables ----

DDTTYColorMode DDTTYLogger::colorModeForEnvironment(const char* term, const char* xcodeColors) {
    if (term != nullptr) {
        if (containsNoCase(term, "color")) {
            return containsNoCase(term, "256") ? DDTTYColorMode::ansi256 : DDTTYColorMode::ansi16;
        }
        return DDTTYColorMode::none;
    }
    if (xcodeColors != nullptr && std::strcmp(xcodeColors, "YES") == 0) {
        return DDTTYColorMode::xcodeColors;
    }
    return DDTTYColorMode::none;
}

const DDTTYColorTable& DDTTYLogger::initialize_colors_16() {
    static const DDTTYColorTable table = [] {
        static const int rgb[16][3] = {
            {0, 0, 0},       {194, 54, 33},  {37, 188, 36},  {173, 173, 39},
            {73, 46, 225},   {211, 56, 211}, {51, 187, 200}, {203, 204, 205},
            {129, 131, 131}, {252, 57, 31},  {49, 231, 34},  {234, 236, 35},
            {88, 51, 255},   {249, 53, 248}, {20, 240, 240}, {233, 235, 235}};
        DDTTYColorTable t;
        for (int i = 0; i < 16; ++i) {
            const std::string bold = i < 8 ? "" : "1;";
            t.fgCodes.push_back(bold + std::to_string(30 + i % 8) + "m");
            t.bgCodes.push_back(bold + std::to_string(40 + i % 8) + "m");
            t.colors.push_back(DDColor::fromBytes(rgb[i][0], rgb[i][1], rgb[i][2]));
        }
        return t;
    }();
    return table;
}

const DDTTYColorTable& DDTTYLogger::initialize_colors_256() {
    static const DDTTYColorTable table = [] {
        // Terminals show their own shades for a few numbers; these rows are what they look like.
        struct Row {
            int number, r, g, b;
        };
        static const Row telling[] = {
            {16, 47, 49, 49},   {21, 88, 51, 255},    {22, 42, 128, 37},   {46, 27, 254, 30},
            {124, 214, 57, 30}, {196, 255, 61, 30},   {226, 251, 252, 15}, {231, 254, 255, 255},
            {232, 52, 53, 53},  {244, 151, 152, 153}, {255, 240, 242, 242}};
        static const int cube[6] = {0, 95, 135, 175, 215, 255};
        DDTTYColorTable t;
        for (int n = 16; n <= 255; ++n) {
            int r, g, b;
            if (n < 232) {
                const int k = n - 16;
                r = cube[k / 36];
                g = cube[(k / 6) % 6];
                b = cube[k % 6];
            } else {
                r = g = b = 8 + 10 * (n - 232);
            }
            for (const Row& row : telling) {
                if (row.number == n) {
                    r = row.r;
                    g = row.g;
                    b = row.b;
                }
            }
            t.fgCodes.push_back("38;5;" + std::to_string(n) + "m");
            t.bgCodes.push_back("48;5;" + std::to_string(n) + "m");
            t.colors.push_back(DDColor::fromBytes(r, g, b));
        }
        return t;
    }();
    return table;
}

void DDTTYLogger::getRed(float& red, float& green, float& blue, const DDColor& color) {
    red = color.red;
    green = color.green;
    blue = color.blue;
}

std::uint64_t DDTTYLogger::codeIndexForColor(const DDColor& color, const DDTTYColorTable& table) {
    float r, g, b;
    getRed(r, g, b, color);
    std::uint64_t bestIndex = 0;
    double bestDistance = 100.0;
    for (std::size_t i = 0; i < table.colors.size(); ++i) {
        const DDColor& c = table.colors[i];
        const double dr = static_cast<double>(r) - c.red;
        const double dg = static_cast<double>(g) - c.green;
        const double db = static_cast<double>(b) - c.blue;
        const double distance = std::sqrt(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {
            bestDistance = distance;
            bestIndex = i;
        }
    }
    return bestIndex;
}

// ---- profiles ----

DDTTYLoggerColorProfile::DDTTYLoggerColorProfile(std::optional<DDColor> fgColor,
                                                 std::optional<DDColor> bgColor, std::int32_t aMask,
                                                 std::int32_t aContext, DDTTYColorMode mode)
    : mask(aMask), context(aContext) {
    if (fgColor) {
        fg_r = toByte(fgColor->red);
        fg_g = toByte(fgColor->green);
        fg_b = toByte(fgColor->blue);
    }
    if (bgColor) {
        bg_r = toByte(bgColor->red);
        bg_g = toByte(bgColor->green);
        bg_b = toByte(bgColor->blue);
    }
    const DDTTYColorTable* table = tableForMode(mode);
    auto build = [&](const std::optional<DDColor>& color, const std::vector<std::string>* codes,
                     const char* xcodeFormat, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                     std::uint64_t& index, std::string& raw, char(&code)[24],
                     std::uint64_t& length) {
        if (!color) {
            return;
        }
        if (table != nullptr && !codes->empty()) {
            index = DDTTYLogger::codeIndexForColor(*color, *table);
            raw = (*codes)[index];
            const int n = std::snprintf(code, sizeof code, "\033[%s", raw.c_str());
            length = n < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(n), 23);
        } else if (mode == DDTTYColorMode::xcodeColors) {
            const int n = std::snprintf(code, sizeof code, xcodeFormat, "\033[", r, g, b);
            length = n < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(n), 23);
        }
    };
    build(fgColor, table ? &table->fgCodes : nullptr, "%sfg%u,%u,%u;", fg_r, fg_g, fg_b,
          fgCodeIndex, fgCodeRaw, fgCode, fgCodeLen);
    build(bgColor, table ? &table->bgCodes : nullptr, "%sbg%u,%u,%u;", bg_r, bg_g, bg_b,
          bgCodeIndex, bgCodeRaw, bgCode, bgCodeLen);

    const char* reset = "";
    if (table != nullptr) {
        reset = "\033[0m";
    } else if (mode == DDTTYColorMode::xcodeColors) {
        reset = "\033[;";
    }
    const int n = std::snprintf(resetCode, sizeof resetCode, "%s", reset);
    resetCodeLen = n < 0 ? 0 : static_cast<std::uint64_t>(n);
}

std::string DDTTYLoggerColorProfile::description() const {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "<DDTTYLoggerColorProfile: %p mask:%i ctxt:%i fg:%u,%u,%u bg:%u,%u,%u "
                  "fgCode:%s bgCode:%s>",
                  static_cast<const void*>(this), mask, context, fg_r, fg_g, fg_b, bg_r, bg_g, bg_b,
                  fgCodeRaw.empty() ? "(null)" : fgCodeRaw.c_str(),
                  bgCodeRaw.empty() ? "(null)" : bgCodeRaw.c_str());
    return buffer;
}

// ---- the logger ----

std::shared_ptr<DDTTYLogger> DDTTYLogger::sharedInstance() {
    // Never destroyed: its queue may still run while the process ends.
    static auto* const instance = new std::shared_ptr<DDTTYLogger>(std::make_shared<DDTTYLogger>(
        colorModeForEnvironment(std::getenv("TERM"), std::getenv("XcodeColors"))));
    return *instance;
}

DDTTYLogger::DDTTYLogger(DDTTYColorMode mode)
    : mode_(mode), appName_(thread_info::processName()), app_(appName_),
      processID_(std::to_string(thread_info::processID())), pid_(processID_) {
    colorProfilesArray_.reserve(8);
}

bool DDTTYLogger::colorsEnabled() {
    bool result = false;
    readSetting([&] { result = colorsEnabled_; });
    return result;
}

void DDTTYLogger::setColorsEnabled(bool enabled) {
    changeSettingThroughBothQueues([this, enabled] {
        colorsEnabled_ = enabled;
        if (colorProfilesArray_.empty()) {
            loadDefaultProfiles();
        }
    });
}

void DDTTYLogger::loadDefaultProfiles() {
    setForegroundColor(DDColor::fromBytes(214, 57, 30), std::nullopt, LogFlagError);
    setForegroundColor(DDColor::fromBytes(204, 121, 32), std::nullopt, LogFlagWarn);
}

void DDTTYLogger::lt_setFlagProfile(const DDTTYLoggerColorProfile& profile) {
    auto it = std::find_if(colorProfilesArray_.begin(), colorProfilesArray_.end(),
                           [&](const DDTTYLoggerColorProfile& p) {
                               return p.mask == profile.mask && p.context == profile.context;
                           });
    if (it != colorProfilesArray_.end()) {
        *it = profile;
    } else {
        colorProfilesArray_.push_back(profile);
    }
}

void DDTTYLogger::setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg,
                                     std::int32_t mask) {
    setForegroundColor(fg, bg, mask, 0);
}

void DDTTYLogger::setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg,
                                     std::int32_t mask, std::int32_t context) {
    DDTTYLoggerColorProfile profile(fg, bg, mask, context, mode_);
    changeSetting([this, profile] { lt_setFlagProfile(profile); });
}

void DDTTYLogger::setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg,
                                     const DDLogTag& tag) {
    if (!tag) {
        return;
    }
    DDTTYLoggerColorProfile profile(fg, bg, 0, 0, mode_);
    changeSetting(
        [this, key = *tag, profile] { colorProfilesDict_.insert_or_assign(key, profile); });
}

void DDTTYLogger::clearColorsForFlag(std::int32_t mask) {
    clearColorsForFlag(mask, 0);
}

void DDTTYLogger::clearColorsForFlag(std::int32_t mask, std::int32_t context) {
    changeSetting([this, mask, context] {
        auto it = std::find_if(colorProfilesArray_.begin(), colorProfilesArray_.end(),
                               [&](const DDTTYLoggerColorProfile& p) {
                                   return p.mask == mask && p.context == context;
                               });
        if (it != colorProfilesArray_.end()) {
            colorProfilesArray_.erase(it);
        }
    });
}

void DDTTYLogger::clearColorsForTag(const DDLogTag& tag) {
    if (!tag) {
        return;
    }
    changeSetting([this, key = *tag] { colorProfilesDict_.erase(key); });
}

void DDTTYLogger::clearColorsForAllFlags() {
    changeSetting([this] { colorProfilesArray_.clear(); });
}

void DDTTYLogger::clearColorsForAllTags() {
    changeSetting([this] { colorProfilesDict_.clear(); });
}

void DDTTYLogger::clearAllColors() {
    changeSetting([this] {
        colorProfilesArray_.clear();
        colorProfilesDict_.clear();
    });
}

const DDTTYLoggerColorProfile*
DDTTYLogger::lt_profileForMessage(const DDLogMessage& message) const {
    if (message.tag()) {
        auto it = colorProfilesDict_.find(*message.tag());
        if (it != colorProfilesDict_.end()) {
            return &it->second;
        }
    }
    for (const auto& profile : colorProfilesArray_) {
        if ((profile.mask & message.logFlag()) != 0 && profile.context == message.logContext()) {
            return &profile;
        }
    }
    return nullptr;
}

void DDTTYLogger::logMessage(const DDLogMessagePtr& message) {
    if (!message) {
        return;
    }
    DDText text = message->logMsg();
    bool isFormatted = false;
    if (formatter) {
        DDText formatted = formatter->formatLogMessage(*message);
        isFormatted = formatted.get() != text.get();
        text = std::move(formatted);
    }
    if (!text) {
        return;
    }
    const DDTTYLoggerColorProfile* profile =
        colorsEnabled_ ? lt_profileForMessage(*message) : nullptr;

    // The text is already UTF-8; it is written from its own bytes, so no size needs a copy.
    char* bytes = const_cast<char*>(text->data());
    const std::size_t length = text->size();
    const std::size_t newlineLength = (length > 0 && bytes[length - 1] == '\n') ? 0 : 1;
    char newline[] = "\n";
    char empty[] = "";
    auto piece = [](char* base, std::size_t len) { return iovec{base, len}; };
    auto code = [&](const char* c, std::uint64_t len) {
        return profile ? piece(const_cast<char*>(c), len) : piece(empty, 0);
    };

    if (isFormatted) {
        iovec v[5] = {
            code(profile ? profile->fgCode : empty, profile ? profile->fgCodeLen : 0),
            code(profile ? profile->bgCode : empty, profile ? profile->bgCodeLen : 0),
            piece(bytes, length),
            piece(newline, newlineLength),
            code(profile ? profile->resetCode : empty, profile ? profile->resetCodeLen : 0),
        };
        writeAll(STDERR_FILENO, v, 5);
        return;
    }

    using namespace std::chrono;
    const auto stamp = message->timestamp();
    const auto secondsPoint = floor<seconds>(stamp);
    const std::time_t seconds = static_cast<std::time_t>(secondsPoint.time_since_epoch().count());
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    const int milliseconds =
        static_cast<int>(duration_cast<std::chrono::milliseconds>(stamp - secondsPoint).count());
    char ts[24];
    int tsLen =
        std::snprintf(ts, sizeof ts, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld:%03d",
                      static_cast<long>(tm.tm_year + 1900), static_cast<long>(tm.tm_mon + 1),
                      static_cast<long>(tm.tm_mday), static_cast<long>(tm.tm_hour),
                      static_cast<long>(tm.tm_min), static_cast<long>(tm.tm_sec), milliseconds);
    tsLen = std::clamp(tsLen, 0, 23);
    char tid[9];
    int tidLen = std::snprintf(tid, sizeof tid, "%x", message->machThreadID());
    tidLen = std::clamp(tidLen, 0, 8);
    char space[] = " ";
    char open[] = "[";
    char colon[] = ":";
    char close[] = "] ";
    iovec v[13] = {
        code(profile ? profile->fgCode : empty, profile ? profile->fgCodeLen : 0),
        code(profile ? profile->bgCode : empty, profile ? profile->bgCodeLen : 0),
        piece(ts, static_cast<std::size_t>(tsLen)),
        piece(space, 1),
        piece(app_.data(), app_.size()),
        piece(open, 1),
        piece(pid_.data(), pid_.size()),
        piece(colon, 1),
        piece(tid, static_cast<std::size_t>(tidLen)),
        piece(close, 2),
        piece(bytes, length),
        piece(newline, newlineLength),
        code(profile ? profile->resetCode : empty, profile ? profile->resetCodeLen : 0),
    };
    writeAll(STDERR_FILENO, v, 13);
}
