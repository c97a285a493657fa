// Files that reach the program from outside its own dialogs: named on the
// command line (the desktop's "Open With") or dropped on a window. Each is
// loaded by the same road as the file the matching dialog returns, with the
// same messages, and nothing loads while a render runs.
#pragma once

#include <QString>

namespace tsx {

class TForm1;

enum class OutsideFileKind { Project, ImageList, Picture };

/// By extension, letter case ignored: .tsx a project, .iml an ImageList,
/// anything else a picture (whose loader reports an extension it cannot read).
OutsideFileKind outsideFileKind(const QString& fileName);

/// A project is loaded and drawn as Load project does; an ImageList becomes
/// the list of a newly opened wizard; a picture its source.
void openFromOutside(TForm1& window, const QString& fileName);

/// Lets the main window take a dropped project file, the wizard's first step
/// a picture (its source) and its third step folders and pictures (added as
/// Load Cell Images adds a folder's).
void acceptFileDrops(TForm1& window);

}  // namespace tsx
