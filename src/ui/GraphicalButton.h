#pragma once

#include <QPushButton>

namespace tollavar {

// A push button that shows its picture above its caption, with the caption's access key.
class GraphicalButton : public QPushButton
{
    Q_OBJECT
public:
    explicit GraphicalButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tollavar
