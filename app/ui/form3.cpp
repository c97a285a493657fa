#include "app/ui/form3.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include <QCloseEvent>
#include <QResizeEvent>
#include <QToolButton>

#include "app/ui/form1.h"
#include "engine/mosaic_job.h"
#include "raster/area_reduce.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "wizard/session.h"

namespace tsx {

TForm3::TForm3(Session& session, TForm1& owner)
    : QWidget(&owner, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_session(session)
    , m_owner(owner)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Overview"));
    resize(248, 165);
    setMinimumSize(120, 101);
    ddoverview = new TDXPaintBox(this);
    ddoverview->setGeometry(rect());
    ddoverview->setObjectName(QStringLiteral("ddoverview"));
    ddoverview->setAutoStretch(true);
    ddoverview->setCenter(true);
    ddoverview->setKeepAspect(true);
    ddoverview->setStretch(false);
}

void TForm3::showCentredOn(const QRect& frame)
{
    move(frame.center() - QPoint(width() / 2, height() / 2));
    show();
}

TForm3::Refit TForm3::refit()
{
    int width = 0, height = 0;
    const int Wm = m_owner.ddmainimg->width();
    const int Hm = m_owner.ddmainimg->height();
    if (!fitOverview(ddoverview->width(), ddoverview->height(), Wm, Hm, width, height))
        return Refit::None;
    TDIB& overview = ddoverview->DIB();
    if (overview.Width() == width && overview.Height() == height && overview.BitCount() == 24)
        return Refit::Kept;
    overview.Allocate(width, height, 24);
    return Refit::Resized;
}

void TForm3::drawRows(int firstRow, int endRow, int finishedRows)
{
    // The mosaic is area-averaged a band of overview rows at a time, so the
    // mosaic's lock is held for one band at most, and not at all for rows a
    // running render has finished (it never writes them again). Each band
    // uses the mapping of the whole, so the bands add up to one stretch of
    // the whole.
    TDIB& overview = ddoverview->DIB();
    const int width = overview.Width(), height = overview.Height();
    firstRow = std::max(firstRow, 0);
    endRow = std::min(endRow, height);
    if (overview.IsEmpty() || firstRow >= endRow)
        return;
    MosaicJob& job = m_session.job;
    const TDIB& mosaic = job.mosaicImage;
    int64_t sourceWidth = 0, sourceHeight = 0;
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        // rows are padded to 4 bytes, so this skips 1 x 1, 2 x 1 and 1 x 2
        if (mosaic.Size() <= 10 || mosaic.BitCount() != 24)
            return;
        sourceWidth = mosaic.Width();
        sourceHeight = mosaic.Height();
    }
    constexpr int64_t kBandBytes = int64_t(8) << 20;
    const int64_t sourceRowsPerBand = std::max<int64_t>(1, kBandBytes / (sourceWidth * 3));
    const int bandRows = int(std::clamp<int64_t>(sourceRowsPerBand * height / sourceHeight, 1, height));
    if (canReduceAreaAverage(int(sourceWidth), int(sourceHeight), width, height)) {
        // a reduction reads the mosaic's rows in place
        const auto rowAt = [&](int y) { return mosaic.ScanLine(y); };
        for (int top = firstRow; top < endRow; top += bandRows) {
            const int rows = std::min(bandRows, endRow - top);
            int s0 = 0, s1 = 0;
            coveredSourceRows(int(sourceHeight), height, top, top + rows, s0, s1);
            std::unique_lock<std::mutex> lock(job.mosaicImageLock, std::defer_lock);
            if (s1 > finishedRows)
                lock.lock();
            reduceAreaAverageRows(int(sourceWidth), int(sourceHeight), rowAt, overview, top, top + rows);
        }
        return;
    }
    // Otherwise the rows a band covers are copied aside and that copy is
    // stretched, the mapping of the whole clipped to the band.
    const size_t sourceRowBytes = size_t(sourceWidth) * 3;
    // the most mosaic rows one band covers; both band rasters are made once
    const int sourceBandRows
        = int(std::min<int64_t>(sourceHeight, (int64_t(bandRows) * sourceHeight + height - 1) / height + 1));
    TDIB source, band;
    source.Allocate(int(sourceWidth), sourceBandRows, 24);
    band.Allocate(width, bandRows, 24);
    for (int top = firstRow; top < endRow; top += bandRows) {
        const int rows = std::min(bandRows, endRow - top);
        // overview row j averages mosaic rows [j * Hs / h, (j + 1) * Hs / h)
        const int s0 = int(int64_t(top) * sourceHeight / height);
        const int s1 = int(std::min<int64_t>(sourceHeight, ((top + rows) * sourceHeight + height - 1) / height));
        const int lockedFrom = std::clamp(finishedRows, s0, s1);
        for (int y = s0; y < lockedFrom; ++y)
            std::memcpy(source.RowPointer(y - s0), mosaic.ScanLine(y), sourceRowBytes);
        if (lockedFrom < s1) {
            std::lock_guard<std::mutex> lock(job.mosaicImageLock);
            for (int y = lockedFrom; y < s1; ++y)
                std::memcpy(source.RowPointer(y - s0), mosaic.ScanLine(y), sourceRowBytes);
        }
        // rows of the band past endRow are computed from rows never read;
        // they are not copied out
        stretchAreaAverage(source, { 0, -s0, int(sourceWidth), int(sourceHeight - s0) }, band,
                           { 0, -top, width, height - top });
        for (int y = 0; y < rows; ++y)
            std::memcpy(overview.RowPointer(top + y), band.ScanLine(y), size_t(width) * 3);
    }
}

void TForm3::UpdateOverview()
{
    if (refit() == Refit::None)
        return;
    drawRows(0, ddoverview->DIB().Height());
    m_redrawn = true;
    ddoverview->update();
}

void TForm3::beginRender()
{
    m_stream.stop();
    m_finishedDrawn = 0;
    m_lastFinished = 0;
    m_redrawn = false;
}

bool TForm3::feedFinishedRows(int finishedRows)
{
    const Refit fitted = refit();
    if (fitted == Refit::None)
        return false;
    TDIB& overview = ddoverview->DIB();
    const int height = overview.Height();
    MosaicJob& job = m_session.job;
    const TDIB& mosaic = job.mosaicImage;
    int sourceWidth = 0, sourceHeight = 0;
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        if (mosaic.Size() <= 10 || mosaic.BitCount() != 24)
            return false;
        sourceWidth = mosaic.Width();
        sourceHeight = mosaic.Height();
    }
    finishedRows = std::clamp(finishedRows, 0, sourceHeight);
    // overview rows whose every mosaic row is final
    const int complete = int(int64_t(finishedRows) * height / sourceHeight);
    bool changed = false;
    if (fitted == Refit::Resized) {
        drawRows(0, height, finishedRows);  // new blank pixels: all of it
        m_stream.stop();
        m_finishedDrawn = complete;
        changed = true;
    } else if (m_redrawn) {
        // A whole redraw since the last call read rows that may not have
        // been final then; only those final at the last call are sure.
        m_stream.stop();
        m_finishedDrawn = int(int64_t(m_lastFinished) * height / sourceHeight);
    }
    m_redrawn = false;
    m_lastFinished = finishedRows;
    m_finishedDrawn = std::min(m_finishedDrawn, complete);

    if (!canReduceAreaAverage(sourceWidth, sourceHeight, overview.Width(), height)) {
        if (m_finishedDrawn < complete) {
            drawRows(m_finishedDrawn, complete, finishedRows);
            m_finishedDrawn = complete;
            changed = true;
        }
        return changed;
    }
    if (!m_stream.reduces(sourceWidth, sourceHeight, overview))
        m_stream.start(sourceWidth, sourceHeight, overview, m_finishedDrawn);
    const int before = m_stream.completedRows();
    m_stream.feedUpTo(finishedRows, [&](int y) { return mosaic.ScanLine(y); });
    m_finishedDrawn = m_stream.completedRows();
    return changed || m_finishedDrawn != before;
}

void TForm3::redrawFromMosaic()
{
    drawRows(0, ddoverview->DIB().Height());
    m_redrawn = true;
    ddoverview->update();
}

void TForm3::FormResize()
{
    runGuarded(this, [&] { UpdateOverview(); });
}

void TForm3::FormClose()
{
    runGuarded(this, [&] {
        m_owner.btoverview->setChecked(false);
    });
}

void TForm3::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ddoverview->setGeometry(rect());  // fills the window
    FormResize();
}

void TForm3::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();  // hidden, not destroyed
}

}  // namespace tsx
