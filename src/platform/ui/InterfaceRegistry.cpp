#include "InterfaceRegistry.h"

#include <QHash>
#include <QMutex>

namespace {

struct Registry {
    QMutex mutex;
    QHash<QString, InterfaceRegistry::Builder> builders;
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

void InterfaceRegistry::add(const QString& name, Builder builder) {
    QMutexLocker lock(&registry().mutex);
    registry().builders.insert(name, std::move(builder));
}

InterfaceRegistry::Builder InterfaceRegistry::find(const QString& name) {
    QMutexLocker lock(&registry().mutex);
    return registry().builders.value(name);
}
