#include "logging/MCLogFormatter.h"

#include "logging/DDLogLevel.h"

MCLogFormatter::MCLogFormatter()
    : dateFormat_(std::make_shared<const DDDateFormatter>("yyyy/MM/dd HH:mm:ss:SSS")) {}

const char* MCLogFormatter::tagForFlag(std::int32_t flag) {
    switch (flag) {
    case LogFlagInfo:
        return "[INFO]";
    case LogFlagWarn:
        return "[WARN]";
    case LogFlagError:
        return "[ERRO]";
    default:
        return "[VERB]";
    }
}

DDText MCLogFormatter::formatLogMessage(const DDLogMessage& message) {
    {
        std::lock_guard lock(lastMutex_);
        if (lastMessage_ == &message && lastSource_ == message.logMsg() &&
            lastTimestamp_ == message.timestamp() && lastFlag_ == message.logFlag() && lastLine_) {
            return lastLine_;
        }
    }
    DDText line = buildLine(message);
    std::lock_guard lock(lastMutex_);
    lastMessage_ = &message;
    lastSource_ = message.logMsg();
    lastTimestamp_ = message.timestamp();
    lastFlag_ = message.logFlag();
    lastLine_ = line;
    return line;
}

DDText MCLogFormatter::buildLine(const DDLogMessage& message) const {
    auto line = std::make_shared<std::string>();
    const DDText& text = message.logMsg();
    line->reserve(32 + (text ? text->size() : 0));
    if (dateFormat_) {
        dateFormat_->appendStringFromDate(*line, message.timestamp());
    } else {
        *line += "(null)";
    }
    *line += ", ";
    *line += tagForFlag(message.logFlag());
    *line += ", ";
    *line += text ? std::string_view(*text) : std::string_view("(null)");
    return line;
}
