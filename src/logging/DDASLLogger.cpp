#include "logging/DDASLLogger.h"

#include "logging/DDLogLevel.h"
#include "platform/core/syslog_client.h"

namespace {

class SocketSink : public DDSystemLogSink {
public:
    SocketSink(const std::string& ident, int facility, const std::string& path)
        : connection_(ident, facility, path) {}
    void log(int priority, const char* format, const char* text) override {
        // The format is ours and always "%s"; keep it a literal for the printf checker.
        if (format != nullptr && std::string_view(format) == "%s") {
            connection_.log(priority, "%s", text);
        }
    }

private:
    syslog_client::Connection connection_;
};

} // namespace

std::shared_ptr<DDSystemLogSink> DDASLLogger::socketSink(const std::string& socketPath,
                                                         const std::string& ident, int facility) {
    return std::make_shared<SocketSink>(ident, facility, socketPath);
}

std::shared_ptr<DDASLLogger> DDASLLogger::sharedInstance() {
    // Never destroyed: its queue may still run while the process ends.
    static auto* const instance = new std::shared_ptr<DDASLLogger>(
        std::make_shared<DDASLLogger>(socketSink(syslog_client::DEFAULT_SOCKET)));
    return *instance;
}

DDASLLogger::DDASLLogger(std::shared_ptr<DDSystemLogSink> sink) : client_(std::move(sink)) {}

int DDASLLogger::priorityForFlag(std::int32_t flag) {
    if (flag == LogFlagError) {
        return 2;
    }
    if (flag == LogFlagInfo) {
        return 4;
    }
    if (flag == LogFlagWarn) {
        return 3;
    }
    return 5;
}

void DDASLLogger::logMessage(const DDLogMessagePtr& message) {
    if (!message) {
        return;
    }
    DDText text = message->logMsg();
    if (formatter) {
        text = formatter->formatLogMessage(*message);
    }
    if (!text || !client_) {
        return;
    }
    client_->log(priorityForFlag(message->logFlag()), "%s", text->c_str());
}
