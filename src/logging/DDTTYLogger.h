#pragma once
// Writes each message as one line to standard error, optionally coloured by flag and context or
// by tag with ANSI (16 or 256 colours) or XcodeColors sequences chosen once from the environment.

#include "logging/DDAbstractLogger.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A colour as red, green and blue fractions in 0..1.
struct DDColor {
    float red = 0;
    float green = 0;
    float blue = 0;
    static DDColor fromBytes(int r, int g, int b) {
        return DDColor{static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f,
                       static_cast<float>(b) / 255.0f};
    }
};

enum class DDTTYColorMode { none, ansi16, ansi256, xcodeColors };

// The colour tables of one ANSI mode: parallel lists of codes and the colours they show.
struct DDTTYColorTable {
    std::vector<std::string> fgCodes;
    std::vector<std::string> bgCodes;
    std::vector<DDColor> colors;
};

class DDTTYLoggerColorProfile {
public:
    DDTTYLoggerColorProfile(std::optional<DDColor> fgColor, std::optional<DDColor> bgColor,
                            std::int32_t mask, std::int32_t context, DDTTYColorMode mode);

    std::string description() const;

    std::int32_t mask;
    std::int32_t context;
    std::uint8_t fg_r = 0, fg_g = 0, fg_b = 0;
    std::uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
    std::uint64_t fgCodeIndex = 0;
    std::string fgCodeRaw;
    std::uint64_t bgCodeIndex = 0;
    std::string bgCodeRaw;
    char fgCode[24] = {};
    std::uint64_t fgCodeLen = 0;
    char bgCode[24] = {};
    std::uint64_t bgCodeLen = 0;
    char resetCode[8] = {};
    std::uint64_t resetCodeLen = 0;
};

class DDTTYLogger : public DDAbstractLogger {
public:
    // The process's terminal logger, its colour mode taken from TERM / XcodeColors.
    static std::shared_ptr<DDTTYLogger> sharedInstance();

    // An independent logger in a given colour mode, for tools and tests; the application uses
    // sharedInstance().
    explicit DDTTYLogger(DDTTYColorMode mode);

    std::string loggerName() override { return "cocoa.lumberjack.ttyLogger"; }
    void logMessage(const DDLogMessagePtr& message) override;

    bool colorsEnabled();
    void setColorsEnabled(bool enabled);

    void setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg,
                            std::int32_t mask);
    void setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg, std::int32_t mask,
                            std::int32_t context);
    void setForegroundColor(std::optional<DDColor> fg, std::optional<DDColor> bg,
                            const DDLogTag& tag);
    void clearColorsForFlag(std::int32_t mask);
    void clearColorsForFlag(std::int32_t mask, std::int32_t context);
    void clearColorsForTag(const DDLogTag& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();

    DDTTYColorMode colorMode() const { return mode_; }

    // The mode the environment asks for (TERM and XcodeColors, either may be null).
    static DDTTYColorMode colorModeForEnvironment(const char* term, const char* xcodeColors);
    static const DDTTYColorTable& initialize_colors_16();
    static const DDTTYColorTable& initialize_colors_256();
    static void getRed(float& red, float& green, float& blue, const DDColor& color);
    // Index of the nearest table colour (Euclidean distance); ties keep the lower index.
    static std::uint64_t codeIndexForColor(const DDColor& color, const DDTTYColorTable& table);

    // The profile used for a message right now (on the logger's queue), or null.
    const DDTTYLoggerColorProfile* lt_profileForMessage(const DDLogMessage& message) const;

private:
    void loadDefaultProfiles();
    void lt_setFlagProfile(const DDTTYLoggerColorProfile& profile);

    DDTTYColorMode mode_;
    std::string appName_;
    std::string app_;
    std::string processID_;
    std::string pid_;
    // The fields below live on the logger's queue.
    bool colorsEnabled_ = false;
    std::vector<DDTTYLoggerColorProfile> colorProfilesArray_;
    std::map<std::string, DDTTYLoggerColorProfile> colorProfilesDict_;
};
