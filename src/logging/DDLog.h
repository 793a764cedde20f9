#pragma once
// The logging facility's entry: what code that logs, and code that sets logging up, needs.
//
// Application code logs with DDLogError / DDLogWarn / DDLogInfo / DDLogVerbose
// (DDLogMacros.h): the flag is tested against appLogLevel before any text is built.
//
// Start-up registers the loggers once, sharing one formatter:
//     auto formatter = std::make_shared<MCLogFormatter>();          // MCLogFormatter.h
//     DDASLLogger::sharedInstance()->setLogFormatter(formatter);      // DDASLLogger.h
//     DDLog::addLogger(DDASLLogger::sharedInstance());
//     DDTTYLogger::sharedInstance()->setLogFormatter(formatter);      // DDTTYLogger.h
//     DDLog::addLogger(DDTTYLogger::sharedInstance());
// and termination calls DDLog::applicationWillTerminate() (a plain exit also flushes).
//
// One concept per header: DDLogLevel.h (flags, levels, appLogLevel), DDLogMessage.h,
// DDLogFormatter.h, DDLogger.h (the interfaces), DDLogCore.h (DDLog), DDLogMacros.h. Loggers
// and formatters include only the ones they use.

#include "logging/DDLogCore.h"
#include "logging/DDLogFormatter.h"
#include "logging/DDLogLevel.h"
#include "logging/DDLogMacros.h"
#include "logging/DDLogMessage.h"
#include "logging/DDLogger.h"
