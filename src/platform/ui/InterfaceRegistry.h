#pragma once
// Compiled-in interface resources (Designer forms), looked up by name the way nibs are.

#include <QString>
#include <QWidget>

#include <functional>

namespace InterfaceRegistry {

// Fills an empty root widget with the interface's children.
using Builder = std::function<void(QWidget* root)>;

void add(const QString& name, Builder builder);
// The builder for `name`, or an empty function.
Builder find(const QString& name);

} // namespace InterfaceRegistry
