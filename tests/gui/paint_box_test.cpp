// Where the paint box puts a raster, and what it draws there.
#include <QImage>
#include <QTest>
#include <QWidget>

#include "gui_test_support.h"
#include "raster/ui/dxpaintbox.h"

using namespace tsx;

namespace {

// Columns of the raster coloured by x: column x is (x, 255 - x, 7) as r, g, b.
TDIB ramp(int width, int height)
{
    TDIB dib;
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = 7;
            p[1] = uint8_t(255 - x % 256);
            p[2] = uint8_t(y % 256);
        }
    }
    return dib;
}

QRgb rampColour(int x, int y) { return qRgb(y % 256, 255 - x % 256, 7); }

}  // namespace

class PaintBoxTest : public QObject {
    Q_OBJECT
private slots:
    void drawsTheRasterAndLeavesTheRestToTheParent()
    {
        QWidget parent;
        parent.resize(200, 200);
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, QColor(1, 2, 3));
        parent.setPalette(palette);
        TDXPaintBox box(&parent);
        box.setGeometry(0, 0, 200, 200);
        box.setAutoStretch(true);
        box.setCenter(true);

        // an empty raster paints nothing
        QImage shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(100, 100), qRgb(1, 2, 3));

        // natural size, centred: pixel for pixel
        box.setDIB(ramp(100, 60));
        shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(49, 100), qRgb(1, 2, 3));
        QCOMPARE(shot.pixel(50, 70), rampColour(0, 0));
        QCOMPARE(shot.pixel(149, 129), rampColour(99, 59));
        QCOMPARE(shot.pixel(87, 100), rampColour(37, 30));
        QCOMPARE(shot.pixel(150, 100), qRgb(1, 2, 3));

        // shrunk: 400 x 100 into 200 x 50 at (0, 75), every second column and row
        box.setDIB(ramp(400, 100));
        shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(100, 74), qRgb(1, 2, 3));
        QCOMPARE(shot.pixel(0, 75), rampColour(0, 0));
        QCOMPARE(shot.pixel(10, 80), rampColour(20, 10));
        QCOMPARE(shot.pixel(199, 124), rampColour(398, 98));
        QCOMPARE(shot.pixel(100, 125), qRgb(1, 2, 3));

        // the same raster without Center sits at the top-left corner
        box.setCenter(false);
        shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(10, 5), rampColour(20, 10));
        QCOMPARE(shot.pixel(10, 60), qRgb(1, 2, 3));
    }

    void drawsOnlyTheExposedPartOfAHugeView()
    {
        // the main view at 1:1 inside a small window: only the visible part
        // is read, and it comes out pixel for pixel at its offset
        QWidget parent;
        parent.resize(64, 48);
        TDXPaintBox box(&parent);
        box.setDIB(ramp(3000, 2000));
        box.setGeometry(-2900, -1900, 3000, 2000);
        QImage shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(0, 0), rampColour(2900, 1900));
        QCOMPARE(shot.pixel(63, 47), rampColour(2963, 1947));
    }
};

TSX_WINDOW_TEST_MAIN(PaintBoxTest)
#include "paint_box_test.moc"
