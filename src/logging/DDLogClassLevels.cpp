#include "logging/DDLogCore.h"

#include <algorithm>
#include <mutex>
#include <optional>

// Per-class levels over a registration list of classes.

namespace {

struct Classes {
    std::mutex mutex;
    std::vector<DDLogClass> list;
};

// Never destroyed, like the rest of the core's state.
Classes& classes() {
    static Classes* const c = new Classes;
    return *c;
}

} // namespace

void DDLog::registerClass(const DDLogClass& cls) {
    Classes& st = classes();
    std::lock_guard lock(st.mutex);
    auto it = std::find_if(st.list.begin(), st.list.end(),
                           [&](const DDLogClass& c) { return c.name == cls.name; });
    if (it != st.list.end()) {
        *it = cls;
    } else {
        st.list.push_back(cls);
    }
}

bool DDLog::isRegisteredClass(const DDLogClass& cls) {
    return cls.ddLogLevel != nullptr && cls.ddSetLogLevel != nullptr;
}

std::vector<DDLogClass> DDLog::registeredClasses() {
    Classes& st = classes();
    std::lock_guard lock(st.mutex);
    std::vector<DDLogClass> result;
    for (const auto& cls : st.list) {
        if (isRegisteredClass(cls)) {
            result.push_back(cls);
        }
    }
    return result;
}

std::vector<std::string> DDLog::registeredClassNames() {
    std::vector<std::string> names;
    for (const auto& cls : registeredClasses()) {
        names.push_back(cls.name);
    }
    return names;
}

std::int32_t DDLog::logLevelForClass(const DDLogClass& cls) {
    return isRegisteredClass(cls) ? cls.ddLogLevel() : -1;
}

namespace {
std::optional<DDLogClass> classNamed(const std::string& name) {
    Classes& st = classes();
    std::lock_guard lock(st.mutex);
    for (const auto& cls : st.list) {
        if (cls.name == name) {
            return cls;
        }
    }
    return std::nullopt;
}
} // namespace

std::int32_t DDLog::logLevelForClassWithName(const std::string& name) {
    const auto cls = classNamed(name);
    return cls ? logLevelForClass(*cls) : -1;
}

void DDLog::setLogLevel(std::int32_t level, const DDLogClass& cls) {
    if (isRegisteredClass(cls)) {
        cls.ddSetLogLevel(level);
    }
}

void DDLog::setLogLevel(std::int32_t level, const std::string& className) {
    if (const auto cls = classNamed(className)) {
        setLogLevel(level, *cls);
    }
}
