#include "logging/DDAbstractLogger.h"

#include "logging/DDLogCore.h"

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

void DDAbstractLogger::logMessage(const DDLogMessagePtr& /*message*/) {}

bool DDAbstractLogger::implements(DDLoggerOperation op) const {
    return op == DDLoggerOperation::loggerQueue || op == DDLoggerOperation::loggerName;
}

std::string DDAbstractLogger::loggerName() {
    const char* mangled = typeid(*this).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled != nullptr) ? demangled : mangled;
    std::free(demangled);
    return name;
}

dispatch::queue_t DDAbstractLogger::loggerQueue() {
    std::call_once(queueOnce_, [this] {
        const std::string label = loggerName();
        loggerQueue_ = dispatch::queue_create(label.c_str());
        // The logger's own address marks its queue.
        dispatch::queue_set_specific(loggerQueue_, this, this);
    });
    return loggerQueue_;
}

bool DDAbstractLogger::isOnGlobalLoggingQueue() const {
    return dispatch::get_specific(DDLog::globalLoggingQueueKey()) != nullptr;
}

bool DDAbstractLogger::isOnInternalLoggerQueue() const {
    return dispatch::get_specific(this) != nullptr;
}

void DDAbstractLogger::readSetting(const std::function<void()>& read) {
    const dispatch::queue_t queue = loggerQueue();
    dispatch::sync(DDLog::loggingQueue(), [&] { dispatch::sync(queue, read); });
}

void DDAbstractLogger::changeSetting(std::function<void()> change) {
    if (isOnInternalLoggerQueue()) {
        change();
        return;
    }
    changeSettingThroughBothQueues(std::move(change));
}

void DDAbstractLogger::changeSettingThroughBothQueues(std::function<void()> change) {
    // A pending change keeps the logger alive until it has run.
    dispatch::async(DDLog::loggingQueue(),
                    [queue = loggerQueue(), keep = weak_from_this().lock(), c = std::move(change)] {
                        dispatch::async(queue, [keep, c] { c(); });
                    });
}

DDLogFormatterPtr DDAbstractLogger::logFormatter() {
    DDLogFormatterPtr result;
    readSetting([&] { result = formatter; });
    return result;
}

void DDAbstractLogger::setLogFormatter(DDLogFormatterPtr newFormatter) {
    changeSettingThroughBothQueues([this, f = std::move(newFormatter)] {
        if (f == formatter) {
            return;
        }
        if (formatter && formatter->implements(DDFormatterOperation::willRemoveFromLogger)) {
            formatter->willRemoveFromLogger(*this);
        }
        formatter = f;
        if (formatter && formatter->implements(DDFormatterOperation::didAddToLogger)) {
            formatter->didAddToLogger(*this);
        }
    });
}
