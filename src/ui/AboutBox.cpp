#include "ui/AboutBox.h"

#include "ui/Icons.h"
#include "ui/Twips.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tollavar {

namespace {

constexpr const char* kProgramTitle = "Tollavar";

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

    cmdOK = new QPushButton(tr("OK"), this);
    cmdOK->setObjectName("cmdOK");
    place(cmdOK, 3600, 480, 1260, 345);
    // OK is the default button; QDialog already turns Esc into a close, the cancel role.
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    picIcon = new QLabel(this);
    picIcon->setObjectName("picIcon");
    picIcon->setFrameShape(QFrame::Panel);
    picIcon->setFrameShadow(QFrame::Sunken);
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(programIcon().pixmap(32, 32));
    place(picIcon, 240, 240, 540, 540);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName("lblTitle");
    QPalette black = lblTitle->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblTitle->setPalette(black);
    place(lblTitle, 840, 240, 2565, 240);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName("lblVersion");
    place(lblVersion, 840, 600, 2565, 225);

    // The client area sits at a fixed place on the screen, as the box always has.
    setGeometry(twipsToPixels(2340), twipsToPixels(1935), twipsToPixels(4995), twipsToPixels(930));
    setFixedSize(twipsToPixels(4995), twipsToPixels(930));

    Form_Load();
    cmdOK->setFocus();
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

void AboutBox::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + kProgramTitle);
    lblVersion->setText(versionLine());
    lblTitle->setText(kProgramTitle);
}

} // namespace tollavar
