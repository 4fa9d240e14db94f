#pragma once

#include "batch/FileDialog.h"

#include <QPointer>
#include <QStringList>

class QWidget;

namespace tollavar {

// The shared open/save dialog shown with QFileDialog. Like the dialog it stands for, it accepts a name
// that does not exist and never asks before a file is replaced: the callers deal with both.
class QtFileDialog : public FileDialog
{
public:
    explicit QtFileDialog(QWidget* parent = nullptr);
    void setParentWidget(QWidget* parent);

    std::optional<std::string> show(const FileDialogRequest& request) override;

private:
    QPointer<QWidget> m_parent;
};

// "description|pattern|description|pattern" as Qt name filters, "description (patterns)". Patterns
// separated by ";" become one filter; "*.*" means every file, as it did where the lists were written.
QStringList qtNameFilters(const std::string& filter);

// With no display no one can pick a file: every dialog counts as cancelled.
class HeadlessFileDialog : public FileDialog
{
public:
    std::optional<std::string> show(const FileDialogRequest&) override { return std::nullopt; }
};

} // namespace tollavar
