#include "app/ui/match_error_overlay.h"

#include <algorithm>
#include <cstdlib>

#include <QEvent>
#include <QPainter>

#include "raster/ui/dxpaintbox.h"

namespace tsx {

MatchErrorMap matchErrorMap(const MosaicSettings& settings, const PlacementGrid& grid)
{
    MatchErrorMap map;
    const int rows = std::clamp(settings.rows, 0, kGridSide), cols = std::clamp(settings.cols, 0, kGridSide);
    if (rows == 0 || cols == 0)
        return map;
    std::vector<int> distance(size_t(rows) * size_t(cols), -1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const CellPlacement& p = grid.at(c, r);
            if (!p.occupied)
                continue;
            const int64_t d = std::llabs(p.redOffset) + std::llabs(p.greenOffset) + std::llabs(p.blueOffset);
            distance[size_t(r) * size_t(cols) + size_t(c)] = int(std::min<int64_t>(d, 765));
        }
    map.worst = std::max(1, *std::max_element(distance.begin(), distance.end()));
    map.cells = QImage(cols, rows, QImage::Format_ARGB32_Premultiplied);
    for (int r = 0; r < rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(map.cells.scanLine(r));
        for (int c = 0; c < cols; ++c) {
            const int d = distance[size_t(r) * size_t(cols) + size_t(c)];
            line[c] = d < 0 ? qPremultiply(qRgba(0, 0, 0, 0)) : qPremultiply(matchErrorShade(double(d) / map.worst));
        }
    }
    return map;
}

QRgb matchErrorShade(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    // from a dark veil over the mosaic to bright yellow-white
    const int red = int(40 + 215 * std::min(1.0, t * 1.6));
    const int green = int(20 + 235 * t * t);
    const int blue = int(60 + 120 * std::max(0.0, t - 0.6));
    const int alpha = int(120 + 135 * t);
    return qRgba(red, green, blue, alpha);
}

MatchErrorOverlay::MatchErrorOverlay(TDXPaintBox* box)
    : QWidget(box)
    , m_box(box)
{
    setObjectName(QStringLiteral("matchErrorOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(box->rect());
    box->installEventFilter(this);
    hide();
}

void MatchErrorOverlay::setMap(const MatchErrorMap* map)
{
    m_map = map;
    setVisible(map != nullptr && !map->cells.isNull());
    raise();
    update();
}

bool MatchErrorOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_box && event->type() == QEvent::Resize)
        setGeometry(m_box->rect());
    return QWidget::eventFilter(watched, event);
}

void MatchErrorOverlay::paintEvent(QPaintEvent*)
{
    if (!m_map || m_map->cells.isNull())
        return;
    const PaintPlacement at = m_box->placement();
    QPainter painter(this);
    painter.drawImage(QRect(at.x, at.y, at.width, at.height), m_map->cells);
}

MatchErrorLegend::MatchErrorLegend(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("matchErrorLegend"));
    setAccessibleName(QStringLiteral("Match Error Legend"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    parent->installEventFilter(this);
    resize(sizeHint());
    keepInCorner();
    hide();
}

void MatchErrorLegend::setWorst(int worst)
{
    m_worst = worst;
    setToolTip(QStringLiteral("Match distance, 0 to %1").arg(worst));
    keepInCorner();
    raise();
    update();
}

bool MatchErrorLegend::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        keepInCorner();
    return QWidget::eventFilter(watched, event);
}

void MatchErrorLegend::keepInCorner()
{
    // clear of a vertical scroll bar
    const QWidget* p = parentWidget();
    move(std::max(0, p->width() - width() - 24), 8);
}

QSize MatchErrorLegend::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return QSize(std::max(160, fm.horizontalAdvance(QStringLiteral("Match error  0 … 765")) + 16),
                 fm.height() * 2 + 14);
}

void MatchErrorLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255, 230));
    painter.setPen(QColor(80, 80, 80));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QFontMetrics fm = fontMetrics();
    const QRect bar(8, 6, width() - 16, fm.height());
    for (int x = 0; x < bar.width(); ++x) {
        const QRgb shade = matchErrorShade(double(x) / std::max(1, bar.width() - 1));
        painter.setPen(QColor(qRed(shade), qGreen(shade), qBlue(shade)));
        painter.drawLine(bar.left() + x, bar.top(), bar.left() + x, bar.bottom());
    }
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect text(8, bar.bottom() + 2, width() - 16, fm.height() + 4);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("0"));
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Match error"));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QString::number(m_worst));
}

}  // namespace tsx
