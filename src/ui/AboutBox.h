#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tollavar {

// The About box frmAbout: program icon, title and version, with an OK button that Enter and Esc press.
// Build a new one for every showing; its texts are filled when it is built.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void fillInTexts();

    QPushButton* m_okButton;
    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_versionLabel;
};

// "Version 1.3.24": each number in plain decimal, unlike the "1.03.0024" of a version resource.
QString versionLine();

} // namespace tollavar
