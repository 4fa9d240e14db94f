#include "app/QtPrompter.h"

#include "ui/WaitDialog.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace tollavar {

namespace {

QMessageBox::Icon iconFor(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// A box closed without a button (Escape, the window manager) counts as its least committal button.
MessageAnswer closedAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

// The window manager cuts a caption at the box's width, and a message box sizes itself by its text
// alone. The room asked for covers the caption in a bold title font a little larger than the
// window's, the title bar's icon and its buttons.
void makeRoomForCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    QFont title = box.font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.25);
    const QFontMetrics metrics(title);
    const int buttons = 5 * (metrics.height() + 6);
    const int needed = metrics.horizontalAdvance(box.windowTitle()) + buttons;
    grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

QString messageBoxText(const std::string& text)
{
    QString out = QString::fromStdString(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QtPrompter::QtPrompter(QWidget* parent) : m_parent(parent)
{
}

void QtPrompter::setParentWidget(QWidget* parent)
{
    m_parent = parent;
}

MessageAnswer QtPrompter::show(const Message& message)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(QString::fromStdString(message.caption));
    // Paths and values come from files; none of them may be taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(messageBoxText(message.text));
    box.setIcon(iconFor(message.icon));
    switch (message.buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MessageButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    }
    makeRoomForCaption(box);
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        return closedAnswer(message.buttons);
    }
}

bool QtPrompter::showWait(const std::string& text, const std::function<bool()>& ready)
{
    return waitWithProgress(m_parent, QString::fromStdString(text), ready);
}

} // namespace tollavar
