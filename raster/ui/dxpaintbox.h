// TDXPaintBox: a widget that shows a TDIB. It draws straight from the
// raster's rows (no converted copy of the picture is kept) and only the part
// of the widget being exposed, so a raster of 20480 x 20480 scrolls smoothly.
#pragma once

#include <mutex>

#include <QWidget>

#include "raster/dib.h"
#include "raster/paint_placement.h"

namespace tsx {

/// Shows a raster. Lives on the UI thread. When the shown raster may be
/// written by another thread, attach the lock that writer holds; painting
/// takes it while it reads pixels.
class TDXPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TDXPaintBox(QWidget* parent = nullptr);

    bool AutoStretch() const { return m_options.autoStretch; }
    bool Center() const { return m_options.center; }
    bool KeepAspect() const { return m_options.keepAspect; }
    bool Stretch() const { return m_options.stretch; }
    void setAutoStretch(bool on);
    void setCenter(bool on);
    void setKeepAspect(bool on);
    void setStretch(bool on);

    /// The raster shown: the box's own, or the one shown by showRaster().
    TDIB& DIB() { return *m_shown; }
    const TDIB& DIB() const { return *m_shown; }
    /// Assigns the raster into the box's own (shared storage) and repaints.
    void setDIB(const TDIB& dib);
    /// Shows a raster that lives elsewhere (the mosaic), guarded by lock.
    void showRaster(TDIB* raster, std::mutex* lock = nullptr);

    /// Where the current raster is drawn in the current client area.
    PaintPlacement placement() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setOption(bool PaintBoxOptions::*field, bool on);

    PaintBoxOptions m_options;
    TDIB m_own;
    TDIB* m_shown = &m_own;
    std::mutex* m_lock = nullptr;
};

}  // namespace tsx
