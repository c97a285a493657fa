#include "raster/ui/dxpaintbox.h"

#include <cfenv>
#include <cmath>
#include <vector>

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

namespace tsx {

TDXPaintBox::TDXPaintBox(QWidget* parent)
    : QWidget(parent)
{
    resize(105, 105);
}

void TDXPaintBox::setOption(bool PaintBoxOptions::*field, bool on)
{
    if (m_options.*field == on)
        return;
    m_options.*field = on;
    update();
}

void TDXPaintBox::setAutoStretch(bool on) { setOption(&PaintBoxOptions::autoStretch, on); }
void TDXPaintBox::setCenter(bool on) { setOption(&PaintBoxOptions::center, on); }
void TDXPaintBox::setKeepAspect(bool on) { setOption(&PaintBoxOptions::keepAspect, on); }
void TDXPaintBox::setStretch(bool on) { setOption(&PaintBoxOptions::stretch, on); }

void TDXPaintBox::setDIB(const TDIB& dib)
{
    m_own = dib;
    m_shown = &m_own;
    m_lock = nullptr;
    update();
}

void TDXPaintBox::showRaster(TDIB* raster, std::mutex* lock)
{
    m_shown = raster ? raster : &m_own;
    m_lock = raster ? lock : nullptr;
    update();
}

PaintPlacement TDXPaintBox::placement() const
{
    return placeRaster(m_shown->Width(), m_shown->Height(), width(), height(), m_options);
}

void TDXPaintBox::paintEvent(QPaintEvent* event)
{
    const TDIB& dib = *m_shown;
    PaintPlacement at;
    {
        std::unique_lock<std::mutex> guard;
        if (m_lock)
            guard = std::unique_lock<std::mutex>(*m_lock);
        if (dib.IsEmpty() || dib.BitCount() != 24)
            return;
        at = placement();
    }
    const QRect drawn(at.x, at.y, at.width, at.height);
    const QRect exposed = event->rect() & drawn;
    if (exposed.isEmpty())
        return;

    // Nearest-pixel sampling of the exposed part only: destination pixel x of
    // the drawn rectangle takes source pixel x * W / w (identity at natural
    // size), the rule the raster's own nearest-pixel stretch uses.
    const int W = dib.Width(), H = dib.Height();
    std::vector<int> sourceColumn(static_cast<size_t>(exposed.width()));
    for (int i = 0; i < exposed.width(); ++i)
        sourceColumn[size_t(i)] = int(int64_t(exposed.left() + i - at.x) * W / at.width);

    QImage band(exposed.size(), QImage::Format_RGB32);
    for (int j = 0; j < exposed.height(); ++j) {
        const int sy = int(int64_t(exposed.top() + j - at.y) * H / at.height);
        auto* out = reinterpret_cast<QRgb*>(band.scanLine(j));
        // the lock is taken row by row, so a writer on another thread waits
        // for one row at most
        std::unique_lock<std::mutex> guard;
        if (m_lock)
            guard = std::unique_lock<std::mutex>(*m_lock);
        const uint8_t* src = dib.ScanLine(sy);
        if (!at.stretched) {
            const uint8_t* p = src + size_t(sourceColumn[0]) * 3;
            for (int i = 0; i < exposed.width(); ++i, p += 3)
                out[i] = qRgb(p[2], p[1], p[0]);
        } else {
            for (int i = 0; i < exposed.width(); ++i) {
                const uint8_t* p = src + size_t(sourceColumn[size_t(i)]) * 3;
                out[i] = qRgb(p[2], p[1], p[0]);
            }
        }
    }
    QPainter painter(this);
    painter.drawImage(exposed.topLeft(), band);
}

}  // namespace tsx
