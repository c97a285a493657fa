// The program's own pictures: toolbar buttons and the window icon, drawn
// from the SVG files compiled into the program.
#pragma once

#include <QIcon>
#include <QString>

namespace tsx {

/// The picture named name (new, save_project, load_project, clear,
/// save_image, print, stats, overview, about, tesserix) at the usual sizes.
QIcon programIcon(const QString& name);

}  // namespace tsx
