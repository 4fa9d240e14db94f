#pragma once

#include "ui/ShowingPrompter.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace tollavar {

// Shows each message as a modal QMessageBox over the main window.
class QtPrompter : public ShowingPrompter
{
public:
    explicit QtPrompter(QWidget* parent = nullptr);
    // The window is built after its prompter, so the parent is handed in later.
    void setParentWidget(QWidget* parent);

    MessageAnswer show(const Message& message) override;
    bool showWait(const std::string& text, const std::function<bool()>& ready) override;

private:
    QPointer<QWidget> m_parent;
};

// Message texts break lines with a lone CR, a lone LF or CR LF; a message box wants LF.
QString messageBoxText(const std::string& text);

} // namespace tollavar
