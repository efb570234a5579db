// The images of the window, drawn in code: the application icon (a stack
// of data disks with an upward arrow) and the 16 x 16 glyph of the update
// button (the upward arrow).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace strata {

QIcon ApplicationIcon();
QPixmap UpdateButtonGlyph();

}  // namespace strata
