#pragma once
// Log flags, the levels made of them, and the application's level.
//
// A call with flag F is made only when (level & F) is not 0; level 0 admits nothing.

#include <atomic>
#include <cstdint>

inline constexpr std::int32_t LogFlagError = 1 << 0;
inline constexpr std::int32_t LogFlagWarn = 1 << 1;
inline constexpr std::int32_t LogFlagInfo = 1 << 2;
inline constexpr std::int32_t LogFlagVerbose = 1 << 3;

inline constexpr std::int32_t LogLevelOff = 0;
inline constexpr std::int32_t LogLevelError = LogFlagError;
inline constexpr std::int32_t LogLevelWarn = LogLevelError | LogFlagWarn;
inline constexpr std::int32_t LogLevelInfo = LogLevelWarn | LogFlagInfo;
inline constexpr std::int32_t LogLevelVerbose = LogLevelInfo | LogFlagVerbose;

// The application's log level, read by every application call site: errors and warnings.
// Atomic so a change made while other threads log is well defined; a relaxed load is a plain read.
inline std::atomic<std::int32_t> appLogLevel{LogLevelWarn};
