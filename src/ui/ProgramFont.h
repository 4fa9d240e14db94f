#pragma once

#include <QFont>

#include <vector>

class QLabel;

namespace tollavar {

// The one text size of the window, its menus and its dialogs: the desktop's own font, stepped down
// only as far as every caption needs to fit where the layout puts it.
QFont fittingProgramFont(QFont desktop, const std::vector<QLabel*>& labels);

} // namespace tollavar
