#pragma once
// Every log call of the analytics sources goes through these macros, so the binding
// to the logging library lives in this one header. Arguments fill the "%@" places of the
// format; the call is skipped before any text is built when appLogLevel filters it out.

#include "logging/DDLog.h"

#define GA_LOG_ERROR(format, ...) DDLogError(format __VA_OPT__(, ) __VA_ARGS__)
#define GA_LOG_WARN(format, ...) DDLogWarn(format __VA_OPT__(, ) __VA_ARGS__)
#define GA_LOG_INFO(format, ...) DDLogInfo(format __VA_OPT__(, ) __VA_ARGS__)
#define GA_LOG_VERBOSE(format, ...) DDLogVerbose(format __VA_OPT__(, ) __VA_ARGS__)
