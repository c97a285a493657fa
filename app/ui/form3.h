// TForm3, the overview window: the whole mosaic reduced to fit a small
// floating window that stays above the others.
#pragma once

#include <QRect>
#include <QWidget>

namespace tsx {

class TDXPaintBox;

/// Size of the overview raster for a mosaic view of mosaicWidth x
/// mosaicHeight in an area of areaWidth x areaHeight; false when any of the
/// four is below 1.
bool fitOverview(int areaWidth, int areaHeight, int mosaicWidth, int mosaicHeight, int& width, int& height);

/// The overview window; UI thread only.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    TDXPaintBox* ddoverview = nullptr;

    /// Refits the overview raster to the window and redraws it from the mosaic.
    void UpdateOverview();
    /// Redraws the overview raster from the mosaic at its current size.
    void redrawFromMosaic();
    /// Shows the window centred on the given frame (the main window's).
    void showCentredOn(const QRect& frame);

    void FormResize();
    void FormClose();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace tsx
