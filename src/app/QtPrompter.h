#pragma once

#include "engine/Prompter.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace tollavar {

// Shows each message as a modal QMessageBox over the main window.
class QtPrompter : public Prompter
{
public:
    explicit QtPrompter(QWidget* parent = nullptr);
    // The window is built after its prompter, so the parent is handed in later.
    void setParentWidget(QWidget* parent);

    MessageAnswer ask(const Message& message) override;
    Message reportFailure(const FailureReport& report) override;
    bool waitUntil(const std::string& text, const std::function<bool()>& ready) override;

private:
    QPointer<QWidget> m_parent;
};

// Message texts break lines with a lone CR, a lone LF or CR LF; a message box wants LF.
QString messageBoxText(const std::string& text);

} // namespace tollavar
