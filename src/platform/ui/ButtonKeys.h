#pragma once
// Return and Enter press the focused button, as Space does. Qt's tool buttons answer Space
// only, and push buttons outside dialogs take Return only as default buttons.

class QWidget;

namespace ButtonKeys {

// For every button under `root` now (and `root` itself if it is one). Other keys, Escape
// among them, go on to the buttons' parents as before.
void activateWithReturn(QWidget* root);

} // namespace ButtonKeys
