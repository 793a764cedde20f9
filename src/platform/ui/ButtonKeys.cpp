#include "platform/ui/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

namespace {

class ReturnPresses final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            modifiers != Qt::NoModifier) {
            return false;
        }
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (button == nullptr || !button->isEnabled()) {
            return false;
        }
        // A held key repeats: one press, one click.
        if (!key->isAutoRepeat()) {
            button->click();
        }
        return true;
    }
};

} // namespace

void ButtonKeys::activateWithReturn(QWidget* root) {
    if (root == nullptr) {
        return;
    }
    auto* filter = new ReturnPresses(root);
    if (auto* button = qobject_cast<QAbstractButton*>(root)) {
        button->installEventFilter(filter);
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        button->installEventFilter(filter);
    }
}
