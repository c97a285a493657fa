// The match-error map: each cell of a shown mosaic shaded by how far its
// picture's colour lies from the cell's, worst brightest, over the mosaic
// without touching its pixels, so turning it off costs no redraw.
#pragma once

#include <QImage>
#include <QWidget>

#include "engine/mosaic_job.h"

namespace tsx {

class TDXPaintBox;

/// The shading of every cell of the placement (cols x rows pixels), and the
/// distance that maps to the brightest shade.
struct MatchErrorMap {
    QImage cells;
    int worst = 0;
};
MatchErrorMap matchErrorMap(const MosaicSettings& settings, const PlacementGrid& grid);

/// The shade of a distance t (0..1 of the worst): dark and clear for good
/// cells, bright and opaque for the worst.
QRgb matchErrorShade(double t);

/// Lies over a paint box, drawn where the box draws its raster.
class MatchErrorOverlay : public QWidget {
    Q_OBJECT
public:
    explicit MatchErrorOverlay(TDXPaintBox* box);
    void setMap(const MatchErrorMap* map);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TDXPaintBox* m_box;
    const MatchErrorMap* m_map = nullptr;
};

/// The legend: the shades from 0 to the worst distance, in the top right
/// corner of its parent.
class MatchErrorLegend : public QWidget {
    Q_OBJECT
public:
    explicit MatchErrorLegend(QWidget* parent);
    void setWorst(int worst);
    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void keepInCorner();
    int m_worst = 0;
};

}  // namespace tsx
