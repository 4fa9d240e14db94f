#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace tollavar {

// Asks `ready` every `intervalMs` under a small modal progress dialog with a Cancel button, until it
// answers true (true) or the user cancels (false). A failure raised by `ready` ends the wait and is
// raised again to the caller.
bool waitWithProgress(QWidget* parent, const QString& text, const std::function<bool()>& ready, int intervalMs = 250);

} // namespace tollavar
