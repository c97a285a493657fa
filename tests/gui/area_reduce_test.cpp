// The in-place reduction behind the overview gives the raster filter's bytes.

#include <QTest>

#include "gui_test_support.h"
#include "raster/ui/area_reduce.h"

using namespace tsx;
using tsx::testing::noise;

namespace {

bool sameRows(const TDIB& a, const TDIB& b, int first, int end)
{
    for (int y = first; y < end; ++y)
        for (int x = 0; x < a.Width() * 3; ++x)
            if (a.ScanLine(y)[x] != b.ScanLine(y)[x])
                return false;
    return true;
}

}  // namespace

class AreaReduceTest : public QObject {
    Q_OBJECT
private slots:
    void matchesTheRasterFilter_data()
    {
        QTest::addColumn<int>("srcWidth");
        QTest::addColumn<int>("srcHeight");
        QTest::addColumn<int>("dstWidth");
        QTest::addColumn<int>("dstHeight");
        QTest::newRow("overview of a wide mosaic") << 1024 << 512 << 248 << 124;
        QTest::newRow("coprime sizes") << 997 << 613 << 83 << 51;
        QTest::newRow("integer reduction") << 960 << 480 << 240 << 120;
        QTest::newRow("one axis kept") << 300 << 77 << 300 << 20;
        QTest::newRow("no change") << 31 << 17 << 31 << 17;
        QTest::newRow("to one pixel") << 64 << 48 << 1 << 1;
        QTest::newRow("one source column") << 1 << 200 << 1 << 7;
    }
    void matchesTheRasterFilter()
    {
        QFETCH(int, srcWidth);
        QFETCH(int, srcHeight);
        QFETCH(int, dstWidth);
        QFETCH(int, dstHeight);
        QVERIFY(canReduceAreaAverage(srcWidth, srcHeight, dstWidth, dstHeight));
        const TDIB source = noise(srcWidth, srcHeight, unsigned(srcWidth * 7919 + srcHeight));
        TDIB expected;
        expected.Allocate(dstWidth, dstHeight, 24);
        stretchAreaAverage(source, { 0, 0, srcWidth, srcHeight }, expected, { 0, 0, dstWidth, dstHeight });

        const auto rowAt = [&](int y) { return source.ScanLine(y); };
        TDIB whole;
        whole.Allocate(dstWidth, dstHeight, 24);
        reduceAreaAverageRows(srcWidth, srcHeight, rowAt, whole, 0, dstHeight);
        QVERIFY(sameRows(whole, expected, 0, dstHeight));

        // in bands of uneven height, reading only the rows each band covers
        TDIB pieces;
        pieces.Allocate(dstWidth, dstHeight, 24);
        for (int top = 0, step = 1; top < dstHeight; top += step, step = step % 5 + 2) {
            const int end = std::min(dstHeight, top + step);
            int first = 0, last = 0;
            coveredSourceRows(srcHeight, dstHeight, top, end, first, last);
            const auto guardedRow = [&](int y) {
                if (y < first || y >= last)
                    qFatal("row %d read outside %d..%d", y, first, last);
                return source.ScanLine(y);
            };
            reduceAreaAverageRows(srcWidth, srcHeight, guardedRow, pieces, top, end);
        }
        QVERIFY(sameRows(pieces, expected, 0, dstHeight));
    }

    void streamsRowsAsTheyArrive()
    {
        // a target row is written as soon as its last source row was fed,
        // and not before: after s rows, floor(s * h / H) rows are complete
        const int srcWidth = 500, srcHeight = 331, dstWidth = 61, dstHeight = 47;
        const TDIB source = noise(srcWidth, srcHeight, 5);
        TDIB expected;
        expected.Allocate(dstWidth, dstHeight, 24);
        stretchAreaAverage(source, { 0, 0, srcWidth, srcHeight }, expected, { 0, 0, dstWidth, dstHeight });
        TDIB streamed;
        streamed.Allocate(dstWidth, dstHeight, 24);
        AreaReducer reducer;
        QVERIFY(reducer.start(srcWidth, srcHeight, streamed, 0));
        QVERIFY(reducer.reduces(srcWidth, srcHeight, streamed));
        for (int fed = 0; fed < srcHeight; ++fed) {
            QCOMPARE(reducer.nextSourceRow(), fed);
            reducer.feed(source.ScanLine(fed));
            QCOMPARE(reducer.completedRows(), (fed + 1) * dstHeight / srcHeight);
        }
        QVERIFY(sameRows(streamed, expected, 0, dstHeight));

        // restarted in the middle, it goes on from the first row it needs
        streamed.Allocate(dstWidth, dstHeight + 1, 24);
        QVERIFY(!reducer.reduces(srcWidth, srcHeight, streamed));
        streamed.Allocate(dstWidth, dstHeight, 24);
        QVERIFY(reducer.start(srcWidth, srcHeight, streamed, 20));
        int first = 0, end = 0;
        coveredSourceRows(srcHeight, dstHeight, 20, 21, first, end);
        QCOMPARE(reducer.nextSourceRow(), first);
        while (reducer.nextSourceRow() < srcHeight)
            reducer.feed(source.ScanLine(reducer.nextSourceRow()));
        QVERIFY(sameRows(streamed, expected, 20, dstHeight));
    }

    void refusesEnlargement()
    {
        QVERIFY(!canReduceAreaAverage(24, 24, 248, 140));
        QVERIFY(!canReduceAreaAverage(400, 24, 248, 140));
        QVERIFY(!canReduceAreaAverage(100, 100, 0, 10));
    }
};

TSX_WINDOW_TEST_MAIN(AreaReduceTest)
#include "area_reduce_test.moc"
