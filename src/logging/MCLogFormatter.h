#pragma once
// The application's line: "<date>, <tag>, <message>" with the date as
// "yyyy/MM/dd HH:mm:ss:SSS" in local time. One instance serves both loggers at once.

#include "logging/DDDateFormatter.h"
#include "logging/DDLogFormatter.h"
#include "logging/DDLogMessage.h"

#include <memory>
#include <mutex>

class MCLogFormatter : public DDLogFormatter {
public:
    MCLogFormatter();

    DDText formatLogMessage(const DDLogMessage& message) override;

    // Replace only before the formatter is handed to a logger: no lock guards it.
    const std::shared_ptr<const DDDateFormatter>& dateFormat() const { return dateFormat_; }
    void setDateFormat(std::shared_ptr<const DDDateFormatter> dateFormat) {
        dateFormat_ = std::move(dateFormat);
    }

    static const char* tagForFlag(std::int32_t flag);

private:
    DDText buildLine(const DDLogMessage& message) const;

    std::shared_ptr<const DDDateFormatter> dateFormat_;
    // Both loggers ask for the line of the same message, one after the other or at once; the
    // last line is kept so the second asker gets it without formatting again. The kept text
    // holds the message's own text alive, so its address cannot be reused by a later message.
    std::mutex lastMutex_;
    DDText lastSource_;
    const DDLogMessage* lastMessage_ = nullptr;
    // A later message may be built where a freed one was and share its text object; these tell
    // them apart.
    std::chrono::system_clock::time_point lastTimestamp_;
    std::int32_t lastFlag_ = 0;
    DDText lastLine_;
};
