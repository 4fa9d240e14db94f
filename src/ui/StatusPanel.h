#pragma once

#include <QElapsedTimer>
#include <QFontMetrics>
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

    // What fits in `width`: a sentence that ends in a path keeps its words and loses the path's start,
    // where its folders are least telling; a bare path loses its start too; other text its middle.
    static QString fittedText(const QString& text, const QFontMetrics& metrics, int width);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QElapsedTimer m_sinceRepaint;
    QTimer m_pending;
};

} // namespace tollavar
