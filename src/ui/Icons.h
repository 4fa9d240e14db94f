#pragma once

#include <QIcon>

namespace tollavar {

// Drawn in code so the program carries no image files.
QIcon programIcon();
// A traffic light with its green lamp lit: the Run button's picture.
QIcon trafficLightIcon();

} // namespace tollavar
