#pragma once

#include <QIcon>
#include <QPixmap>

namespace tollavar {

// Drawn in code so the program carries no image files.
QIcon programIcon();
// The program icon drawn at any size, for the icon theme's PNG files.
QPixmap programIconPixmap(int size);
// A traffic light with its green lamp lit: the Run button's picture.
QIcon trafficLightIcon();

} // namespace tollavar
