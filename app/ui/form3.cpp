#include "app/ui/form3.h"

#include <mutex>

#include <QCloseEvent>
#include <QResizeEvent>
#include <QToolButton>

#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/forms.h"
#include "engine/mosaic_job.h"
#include "raster/ui/dxpaintbox.h"

namespace tsx {

bool fitOverview(int areaWidth, int areaHeight, int mosaicWidth, int mosaicHeight, int& width, int& height)
{
    if (areaWidth < 1 || areaHeight < 1 || mosaicWidth < 1 || mosaicHeight < 1)
        return false;
    // 64-bit products: a 512000-pixel-wide mosaic in a tall window would
    // overflow 32 bits; below that the results are the same
    const int64_t Wo = areaWidth, Ho = areaHeight, Wm = mosaicWidth, Hm = mosaicHeight;
    if (Hm * Wo < Ho * Wm) {
        width = int(Wo);
        height = int(Hm * Wo / Wm);
    } else {
        height = int(Ho);
        width = int(Ho * Wm / Hm);
    }
    return true;
}

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
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

void TForm3::UpdateOverview()
{
    int width = 0, height = 0;
    const int Wm = Form1 ? Form1->ddmainimg->width() : 0;
    const int Hm = Form1 ? Form1->ddmainimg->height() : 0;
    if (!fitOverview(ddoverview->width(), ddoverview->height(), Wm, Hm, width, height))
        return;
    TDIB& overview = ddoverview->DIB();
    if (overview.Width() != width || overview.Height() != height || overview.BitCount() != 24)
        overview.Allocate(width, height, 24);
    MosaicJob& job = mosaicJob();
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        // rows are padded to 4 bytes, so this skips 1 x 1, 2 x 1 and 1 x 2
        if (job.mosaicImage.Size() <= 10)
            return;
        stretchAreaAverage(job.mosaicImage, { 0, 0, job.mosaicImage.Width(), job.mosaicImage.Height() }, overview,
                           { 0, 0, width, height });
    }
    ddoverview->update();
}

void TForm3::redrawFromMosaic()
{
    TDIB& overview = ddoverview->DIB();
    if (overview.IsEmpty())
        return;
    MosaicJob& job = mosaicJob();
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        if (job.mosaicImage.IsEmpty())
            return;
        stretchAreaAverage(job.mosaicImage, { 0, 0, job.mosaicImage.Width(), job.mosaicImage.Height() }, overview,
                           { 0, 0, overview.Width(), overview.Height() });
    }
    ddoverview->update();
}

void TForm3::FormResize()
{
    runGuarded(this, [&] { UpdateOverview(); });
}

void TForm3::FormClose()
{
    runGuarded(this, [&] {
        if (Form1)
            Form1->btoverview->setChecked(false);
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
