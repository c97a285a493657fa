#include "app/ui/icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

static void initIconResources()
{
    // the pictures live in a static library, whose resource object the
    // linker would otherwise drop
    Q_INIT_RESOURCE(icons);
}

namespace tsx {

QIcon programIcon(const QString& name)
{
    static const bool initialised = (initIconResources(), true);
    (void)initialised;
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int side : { 16, 20, 24, 32, 48, 64, 128 }) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tsx
