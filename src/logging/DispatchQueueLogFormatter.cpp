#include "logging/DispatchQueueLogFormatter.h"

#include "platform/core/dispatch_queue.h"

#include <cstdio>
#include <cstring>

namespace {

// One character of UTF-8 text: its bytes and its UTF-16 units. A byte that starts no complete
// sequence (a thread name cut by the kernel mid-character) counts as one character of its own.
struct Utf8Char {
    std::size_t bytes;
    std::uint64_t units;
};

Utf8Char nextChar(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead < 0x80) {
        return {1, 1};
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
    } else {
        return {1, 1};
    }
    if (at + length > text.size()) {
        return {1, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
            return {1, 1};
        }
    }
    // Beyond the basic plane a character takes a surrogate pair.
    return {length, length == 4 ? 2u : 1u};
}

std::uint64_t utf16Length(std::string_view text) {
    std::uint64_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = nextChar(text, at);
        at += c.bytes;
        units += c.units;
    }
    return units;
}

// Keeps whole characters only: when the limit falls inside a surrogate pair, the pair goes.
void cutToUnits(std::string& text, std::uint64_t maxUnits) {
    std::uint64_t units = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const Utf8Char c = nextChar(text, at);
        if (units + c.units > maxUnits) {
            break;
        }
        at += c.bytes;
        units += c.units;
    }
    text.resize(at);
}

bool isGlobalQueueLabel(const char* label) {
    for (const char* global : dispatch::GLOBAL_QUEUE_LABELS) {
        if (std::strcmp(label, global) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

DispatchQueueLogFormatter::DispatchQueueLogFormatter()
    : dateFormatString("yyyy-MM-dd HH:mm:ss:SSS"), _replacements{
                                                       {dispatch::MAIN_QUEUE_LABEL, "main"}} {}

std::optional<std::string>
DispatchQueueLogFormatter::replacementStringForQueueLabel(std::string_view queueLabel) {
    std::lock_guard guard(lock);
    const auto found = _replacements.find(queueLabel);
    if (found == _replacements.end()) {
        return std::nullopt;
    }
    return found->second;
}

void DispatchQueueLogFormatter::setReplacementString(std::optional<std::string> replacement,
                                                     std::string_view queueLabel) {
    // Build the key outside the lock: the spin lock should cover the map operation only.
    std::string key(queueLabel);
    std::lock_guard guard(lock);
    if (replacement) {
        _replacements.insert_or_assign(std::move(key), std::move(*replacement));
    } else {
        _replacements.erase(key);
    }
}

std::uint64_t DispatchQueueLogFormatter::minQueueLength() const {
    return _minQueueLength.load(std::memory_order_relaxed);
}

void DispatchQueueLogFormatter::setMinQueueLength(std::uint64_t length) {
    _minQueueLength.store(length, std::memory_order_relaxed);
}

std::uint64_t DispatchQueueLogFormatter::maxQueueLength() const {
    return _maxQueueLength.load(std::memory_order_relaxed);
}

void DispatchQueueLogFormatter::setMaxQueueLength(std::uint64_t length) {
    _maxQueueLength.store(length, std::memory_order_relaxed);
}

const DDDateFormatter* DispatchQueueLogFormatter::currentDateFormatter() {
    if (atomicLoggerCount.load() > 1) {
        // Several logger queues may format at once: each thread keeps its own formatter for its
        // whole life. The holder marks its end so a late call (an exit-time flush on an ending
        // thread) does not touch a destroyed object.
        struct PerThread {
            std::unique_ptr<const DDDateFormatter> formatter;
            bool* goneFlag;
            ~PerThread() { *goneFlag = true; }
        };
        thread_local bool gone = false;
        thread_local PerThread perThread{nullptr, &gone};
        if (gone) {
            return nullptr;
        }
        if (!perThread.formatter) {
            perThread.formatter = std::make_unique<const DDDateFormatter>(dateFormatString);
        }
        return perThread.formatter.get();
    }
    // Only one logger's queue calls now. Made once; call_once also keeps a direct caller on
    // another thread (outside any logger) from racing the first use.
    std::call_once(threadUnsafeDateFormatterOnce_, [this] {
        threadUnsafeDateFormatter = std::make_unique<const DDDateFormatter>(dateFormatString);
    });
    return threadUnsafeDateFormatter.get();
}

std::string DispatchQueueLogFormatter::stringFromDate(std::chrono::system_clock::time_point date) {
    if (const DDDateFormatter* formatter = currentDateFormatter()) {
        return formatter->stringFromDate(date);
    }
    return DDDateFormatter(dateFormatString).stringFromDate(date);
}

std::string DispatchQueueLogFormatter::queueThreadLabelForLogMessage(const DDLogMessage& message) {
    const std::uint64_t minLength = minQueueLength();
    const std::uint64_t maxLength = maxQueueLength();

    std::string label;
    const char* queueLabel = message.queueLabel();
    // A shared global queue runs anybody's work: its label does not tell who logged.
    const char* named = nullptr;
    if (queueLabel != nullptr && !isGlobalQueueLabel(queueLabel)) {
        named = queueLabel;
    } else if (!message.threadName().empty()) {
        named = message.threadName().c_str();
    }
    if (named != nullptr) {
        std::optional<std::string> replacement = replacementStringForQueueLabel(named);
        label = replacement ? std::move(*replacement) : std::string(named);
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", message.machThreadID());
        label = hex;
    }

    const std::uint64_t length = utf16Length(label);
    if (maxLength != 0 && length > maxLength) {
        cutToUnits(label, maxLength);
    } else if (minLength > length) {
        label.append(minLength - length, ' ');
    }
    return label;
}

DDText DispatchQueueLogFormatter::formatLogMessage(const DDLogMessage& message) {
    std::string line = stringFromDate(message.timestamp());
    const std::string label = queueThreadLabelForLogMessage(message);
    const DDText& text = message.logMsg();
    line.reserve(line.size() + label.size() + 4 + (text ? text->size() : 6));
    line += " [";
    line += label;
    line += "] ";
    line += text ? std::string_view(*text) : std::string_view("(null)");
    return std::make_shared<const std::string>(std::move(line));
}

bool DispatchQueueLogFormatter::implements(DDFormatterOperation op) const {
    return op == DDFormatterOperation::didAddToLogger ||
           op == DDFormatterOperation::willRemoveFromLogger;
}

void DispatchQueueLogFormatter::didAddToLogger(DDLogger& /*logger*/) {
    atomicLoggerCount.fetch_add(1);
}

void DispatchQueueLogFormatter::willRemoveFromLogger(DDLogger& /*logger*/) {
    atomicLoggerCount.fetch_add(-1);
}
