// What the engine needs from whoever shows its work. The desktop program
// marshals these calls onto its UI thread; the batch tool prints progress.
#pragma once

#include <string>

namespace tsx {

class RenderHost {
public:
    virtual ~RenderHost() = default;
    // Path of ImageList entry i, and the source file of self-mosaic mode.
    virtual std::string imagePath(int index) = 0;
    virtual std::string sourcePath() = 0;
    // Called from the render thread.
    virtual void progress(int percent) = 0;
    virtual void repaint() = 0;
    /// Mosaic pixel rows [firstRow, firstRow + count) are final: the render
    /// will not write them again. Told from the top down, each row once.
    virtual void rowsFinished(int firstRow, int count) = 0;
    virtual void message(const std::string& text, const std::string& caption) = 0;
    // The render ended: ok, or stopped by error (text names what failed).
    virtual void finished(bool ok, const std::string& error) = 0;
};

}  // namespace tsx
