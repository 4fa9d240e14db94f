#pragma once

#include <QFont>

#include <vector>

class QLabel;

namespace tollavar {

// The largest size, in half points and no larger than the desktop font's, at which every caption fits
// where the layout puts it at its drawn size (7.5 pt with DejaVu Sans).
double largestFittingPointSize(QFont desktop, const std::vector<QLabel*>& labels);

// How much the layout grows so that text at the desktop's own size fits as the drawn layout's text
// did: the desktop's size over the largest fitting one, 1 when the desktop's text already fits.
double layoutScaleForFont(const QFont& desktop, const std::vector<QLabel*>& labels);

} // namespace tollavar
