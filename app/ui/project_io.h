// Saving and loading the project file from the main window: the dialogs, and
// after a load the mosaic view, the status bar, the overview and the render.
#pragma once

#include <QString>

namespace tsx {

class TForm1;

inline constexpr const char* kProjectSaveTitle = "Save PhotoMosaic Project File";
inline constexpr const char* kProjectOpenTitle = "Open PhotoMosaic Project File";
inline constexpr const char* kProjectFilter = "Mosaic Project File|*.TSX";
/// Shown instead of loading a self-mosaic project while no source image is
/// chosen: such a project draws every cell from that image.
inline constexpr const char* kNoSourceForSelfMosaic =
    "This project fills every cell with the source image. Choose a source image in the wizard first, "
    "then load the project again.";

/// Asks for a file and writes the job to it. The file image is made before
/// the dialog runs, so the job's two length fields are set even on cancel.
void saveProjectFromWindow(TForm1& window);

/// Asks for a file, reads it and, when it is a project the program can
/// render, replaces the job with it and starts the render. A file that is
/// refused changes nothing.
void loadProjectIntoWindow(TForm1& window);

/// The load after the dialog: the same steps for a known file name.
void loadProjectFile(TForm1& window, const QString& fileName);

}  // namespace tsx
