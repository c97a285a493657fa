// TForm3, the overview window: the whole mosaic reduced to fit a small
// floating window that stays above the others.
#pragma once

#include <QRect>
#include <QWidget>

#include "app/overview_fit.h"
#include "raster/area_reduce.h"

namespace tsx {

struct Session;
class TDXPaintBox;
class TForm1;

/// The overview window; UI thread only.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    /// The overview of the owner's mosaic view.
    TForm3(Session& session, TForm1& owner);

    TDXPaintBox* ddoverview = nullptr;

    /// Refits the overview raster to the window and redraws it from the mosaic.
    void UpdateOverview();
    /// While a render draws the mosaic from the top: the mosaic's pixel rows
    /// [0, finishedRows) are final. Refits like UpdateOverview, then draws
    /// the overview rows that those rows newly complete, from the rows not
    /// read before, without the mosaic's lock (the render never writes them
    /// again). True when overview rows changed; repainting is the caller's.
    bool feedFinishedRows(int finishedRows);
    /// Forgets the rows fed so far (a render begins).
    void beginRender();
    /// Redraws the overview raster from the mosaic at its current size.
    void redrawFromMosaic();
    /// Shows the window centred on the given frame (the main window's).
    void showCentredOn(const QRect& frame);

    void FormResize();
    void FormClose();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Refit { None, Kept, Resized };
    Refit refit();
    // Draws overview rows [firstRow, endRow); mosaic rows below finishedRows
    // are read without the lock.
    void drawRows(int firstRow, int endRow, int finishedRows = 0);

    // While a render runs: overview rows [0, m_finishedDrawn) are drawn from
    // final mosaic rows, m_stream goes on from there, m_lastFinished is the
    // last count of final mosaic rows, and m_redrawn tells that a whole
    // redraw has read rows that were perhaps not final.
    Session& m_session;
    TForm1& m_owner;
    AreaReducer m_stream;
    int m_finishedDrawn = 0;
    int m_lastFinished = 0;
    bool m_redrawn = false;
};

}  // namespace tsx
