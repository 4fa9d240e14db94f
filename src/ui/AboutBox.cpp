#include "ui/AboutBox.h"
#include "ui/MessageTable.h"

#include "ui/Icons.h"
#include "ui/Twips.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tollavar {

namespace {

void place(QWidget* widget, int left, int top, int width, int height)
{
    const int x = twipsToPixels(left);
    const int y = twipsToPixels(top);
    widget->setGeometry(x, y, twipsToPixels(left + width) - x, twipsToPixels(top + height) - y);
}

} // namespace

QString versionLine()
{
    return QStringLiteral("Version %1.%2.%3")
        .arg(TOLLAVAR_VERSION_MAJOR)
        .arg(TOLLAVAR_VERSION_MINOR)
        .arg(TOLLAVAR_VERSION_PATCH);
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("frmAbout");
    setWindowIcon(programIcon());
    setModal(true);

    m_okButton = new QPushButton(tr("OK"), this);
    m_okButton->setObjectName("cmdOK");
    place(m_okButton, 3600, 480, 1260, 345);
    // OK is the default button; QDialog already turns Esc into a close, the cancel role.
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setObjectName("picIcon");
    m_iconLabel->setFrameShape(QFrame::Panel);
    m_iconLabel->setFrameShadow(QFrame::Sunken);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->setPixmap(programIcon().pixmap(32, 32));
    place(m_iconLabel, 240, 240, 540, 540);

    m_titleLabel = new QLabel(this);
    m_titleLabel->setObjectName("lblTitle");
    QPalette black = m_titleLabel->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    m_titleLabel->setPalette(black);
    place(m_titleLabel, 840, 240, 2565, 240);

    m_versionLabel = new QLabel(this);
    m_versionLabel->setObjectName("lblVersion");
    place(m_versionLabel, 840, 600, 2565, 225);

    // The client area sits at a fixed place on the screen, as the box always has.
    setGeometry(twipsToPixels(2340), twipsToPixels(1935), twipsToPixels(4995), twipsToPixels(930));
    setFixedSize(twipsToPixels(4995), twipsToPixels(930));

    fillInTexts();
    m_okButton->setFocus();
}

void AboutBox::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // Some window managers give every dialog a minimise button whatever it asks for, and take the
    // main window down with it; with no task bar nothing would bring either back while the box
    // holds the input. The box stays on the screen instead, and its owner with it.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            activateWindow();
        });
}

void AboutBox::fillInTexts()
{
    setWindowTitle(QStringLiteral("About ") + kProgramTitle);
    m_versionLabel->setText(versionLine());
    m_titleLabel->setText(kProgramTitle);
}

} // namespace tollavar
