#pragma once

#include <QStringList>

// The font families every window draws with, first to last: a Latin face whose I, l, 1, O and 0 cannot be
// mistaken for one another, then the CJK faces for the Chinese text (SimSun's stand-ins).
QStringList InterfaceFontFamilies();

// Program-wide look and services of the windows layer: Qt's own Chinese texts for standard buttons and menus,
// the default font (SimSun 9 pt, drawn by the families above), the window icon, the name the desktop knows
// the program by and the fatal-error box.
void ConfigureApplication();
