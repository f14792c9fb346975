// SPDX-License-Identifier: MIT
#pragma once
// The program's icon on its windows: the drawing dist/merovask.svg (also the menu's icon).

#include <QIcon>

// Pictures of the drawing rendered at build time, at each size the window system asks for at the scales the
// panel supports (16 to 128 pixels at 100 % up to 200 %), so that start-up neither loads Qt's SVG plugins
// nor draws the SVG; any other size is drawn from the SVG as before. Where the build renders no pictures
// (Windows, whose windows take the program file's icon), the icon is the SVG as it always was.
QIcon windowIcon();
