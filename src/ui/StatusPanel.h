#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace tollavar {

// One text panel of the status bar. A conversion sets the text once per index line; painting every
// one of them would cost more than the line itself, so the text is taken at once and the panel
// repaints at most every kRepaintInterval milliseconds.
class StatusPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRepaintInterval = 50;

    explicit StatusPanel(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QElapsedTimer m_sinceRepaint;
    QTimer m_pending;
};

} // namespace tollavar
