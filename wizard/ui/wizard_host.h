// What the wizard needs from the window that shows the mosaic. The wizard
// writes the job's rasters itself (they are the session's); everything it
// asks of the other windows goes through here, so the wizard never depends
// on the main window or the overview.
#pragma once

#include <QString>

namespace tsx {

class WizardHost {
public:
    virtual ~WizardHost() = default;
    /// Gives the mosaic view width x height pixels (the raster may follow).
    virtual void resizeMosaicView(int width, int height) = 0;
    /// The job's mosaic raster changed; show it again.
    virtual void repaintMosaicView() = 0;
    /// Redraws the overview from the mosaic, when the overview is shown.
    virtual void refreshOverview() = 0;
    /// Writes status bar panel 0..3.
    virtual void setStatusText(int panel, const QString& text) = 0;
    /// Starts the render of the placed job.
    virtual void startRender() = 0;
};

}  // namespace tsx
