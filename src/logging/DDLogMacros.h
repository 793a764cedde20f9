#pragma once
// Log call sites: the flag is tested against the level before any text is built, so a filtered
// call costs one load and one test.

#include "logging/DDLogCore.h"
#include "logging/DDLogLevel.h"
#include "logging/detail/DDAppMessage.h"

#include <atomic>
#include <cstdint>

// Generic call site: tests the flag against the level first, so a filtered call builds nothing.
#define DD_LOG_MAYBE(async, lvl, flg, ctx, tg, fnct, frmt, ...)                                    \
    do {                                                                                           \
        const std::int32_t ddLevel_ = (lvl);                                                       \
        if ((ddLevel_ & (flg)) != 0) {                                                             \
            DDLog::log((async), ddLevel_, (flg), (ctx), __FILE__, (fnct), __LINE__, (tg),          \
                       (frmt)__VA_OPT__(, ) __VA_ARGS__);                                          \
        }                                                                                          \
    } while (0)

// Application call site: asynchronous, level appLogLevel, context 0, no tag, and the message
// "<event text>, [<file name>(<line>)]".
#define MC_LOG_MAYBE(flg, frmt, ...)                                                               \
    do {                                                                                           \
        const std::int32_t ddLevel_ = appLogLevel.load(std::memory_order_relaxed);                 \
        if ((ddLevel_ & (flg)) != 0) {                                                             \
            DDLog::logText(true, ddLevel_, (flg), 0, __FILE__, __func__, __LINE__, DDLogTag(),     \
                           ddlog::appMessage(ddlog::lastPathComponent(__FILE__), __LINE__,         \
                                             (frmt)__VA_OPT__(, ) __VA_ARGS__));                   \
        }                                                                                          \
    } while (0)

#define DDLogError(frmt, ...) MC_LOG_MAYBE(LogFlagError, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogWarn(frmt, ...) MC_LOG_MAYBE(LogFlagWarn, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogInfo(frmt, ...) MC_LOG_MAYBE(LogFlagInfo, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogVerbose(frmt, ...) MC_LOG_MAYBE(LogFlagVerbose, frmt __VA_OPT__(, ) __VA_ARGS__)
