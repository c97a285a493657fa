// Renders an SVG icon as the PNG files of a freedesktop icon theme:
// <out>/<N>x<N>/<context>/<name>.png for every size given.
// Usage: tesserix-render-icon <icon.svg> <out> <context> <name> <size>...
#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s <icon.svg> <out> <context> <name> <size>...\n", argv[0]);
        return 2;
    }
    // no window is ever shown; a display need not be there at build time
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "%s: not a picture this renderer reads\n", argv[1]);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString context = QString::fromLocal8Bit(argv[3]);
    const QString name = QString::fromLocal8Bit(argv[4]);
    for (int i = 5; i < argc; ++i) {
        const int side = std::atoi(argv[i]);
        if (side <= 0 || side > 1024) {
            std::fprintf(stderr, "%s: not an icon size\n", argv[i]);
            return 2;
        }
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/%3").arg(out).arg(side).arg(context);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        // written beside and renamed, so a build stopped half-way leaves no
        // truncated icon that looks up to date
        const QString part = file + QStringLiteral(".part");
        if (!QDir().mkpath(folder) || !image.save(part, "PNG") || (QFile::exists(file) && !QFile::remove(file))
            || !QFile::rename(part, file)) {
            std::fprintf(stderr, "%s: cannot write\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
