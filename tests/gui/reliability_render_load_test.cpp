// A render started by loading a project through the main window, while the
// user keeps working: toggling and resizing the overview, scrolling the
// mosaic, opening other windows and pressing the commands a render locks.
// The mosaic must still end complete and the window answer throughout. Run
// under ThreadSanitizer by scripts/test.sh.

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form3.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/ui/dxpaintbox.h"
#include "wizard/image_list.h"

using namespace tsx;

namespace {

// Long enough a render for many rounds of input; the sanitizer's build is
// ten times slower and needs fewer cells for as many.
#if defined(__SANITIZE_THREAD__)
constexpr int kRows = 240, kCols = 240;
#else
constexpr int kRows = 640, kCols = 640;
#endif
constexpr int kCell = 8, kPictures = 12;

uint8_t channel(int k, int factor, int base) { return uint8_t(base + k * factor); }

std::string writeSolidBmp(const QString& path, int k)
{
    return testing::writeSolidBmp(path, 9 + k, 7 + k, channel(k, 20, 5), channel(k, -15, 250),
                                  channel(k, 9, 60));
}

int pictureOf(int c, int r) { return (c * 5 + r * 3) % kPictures; }

bool cellIsPicture(int c, int r)
{
    const int k = pictureOf(c, r);
    return testing::cellHasColour(c, r, kCell, kCell, channel(k, 20, 5), channel(k, -15, 250),
                                  channel(k, 9, 60));
}

}  // namespace

class RenderLoadWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup()
    {
        testing::endProgram();
    }

    void renderFromAProjectWhileTheUserKeepsWorking()
    {
        QTemporaryDir dir;
        std::vector<std::string> paths;
        for (int k = 0; k < kPictures; ++k)
            paths.push_back(writeSolidBmp(dir.filePath(QStringLiteral("tile%1.bmp").arg(k)), k));
        testing::setUpPlainJob(kRows, kCols, kCell, kCell, paths, pictureOf);

        ScriptedDialogs dialogs;
        const QString project = dir.filePath(QStringLiteral("load.TSX"));
        dialogs.fileAnswers.push_back(project);
        Form1->sbsavem->click();
        QVERIFY(QFile::exists(project));
        Form1->sbcls->click();

        QSignalSpy ended(Form1, &TForm1::renderEnded);
        dialogs.fileAnswers.push_back(project);
        Form1->sbload->click();
        QVERIFY(Form1->isRendering());

        // The user at work until the render ends; each round is one burst of
        // input followed by the events it caused.
        QScrollBar* across = Form1->ScrollBox1->horizontalScrollBar();
        QScrollBar* down = Form1->ScrollBox1->verticalScrollBar();
        QElapsedTimer clock;
        clock.start();
        int round = 0;
        while (ended.isEmpty()) {
            QVERIFY2(clock.elapsed() < 240000, "the render did not end");
            ++round;
            Form1->btoverview->click();  // hides, then shows the overview again
            Form3->resize(160 + (round * 37) % 200, 120 + (round * 53) % 160);
            down->setValue((round * 97) % (down->maximum() + 1));
            across->setValue((round * 61) % (across->maximum() + 1));
            Form1->ddmainimg->update();
            if (round % 5 == 0) {
                // locked while rendering: these must change nothing
                Form1->sbcls->click();
                Form1->btnew->click();
                Form1->ClearAll1->trigger();
                Form1->sbaboutClick();
                Form1->btoverview->click();
            }
            QTest::qWait(round % 3 == 0 ? 15 : 2);
        }
        QVERIFY(!Form1->isRendering());
        QCOMPARE(ended.takeFirst().at(0).toBool(), true);
        QVERIFY2(round > 3, "the render ended before the user could do anything");
        qInfo("%d rounds of input during the render", round);
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages.back().text, QStringLiteral("Photomosaic created success!"));
        QCOMPARE(Form1->ddmainimg->size(), QSize(kCols * kCell, kRows * kCell));
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kCols; ++c)
                QVERIFY2(cellIsPicture(c, r), qPrintable(QStringLiteral("cell %1,%2").arg(c).arg(r)));

        // the overview, shown again, holds the finished mosaic
        if (!Form3->isVisible())
            Form1->btoverview->click();
        QVERIFY(Form3->isVisible());
        const TDIB& overview = Form3->ddoverview->DIB();
        QVERIFY(!overview.IsEmpty());
        TDIB expected;
        expected.Allocate(overview.Width(), overview.Height(), 24);
        stretchAreaAverage(mosaicJob().mosaicImage, { 0, 0, kCols * kCell, kRows * kCell }, expected,
                           { 0, 0, overview.Width(), overview.Height() });
        for (int y = 0; y < overview.Height(); ++y)
            QVERIFY(std::equal(overview.ScanLine(y), overview.ScanLine(y) + overview.Width() * 3, expected.ScanLine(y)));
    }
};

TSX_WINDOW_TEST_MAIN(RenderLoadWindowTest)
#include "reliability_render_load_test.moc"
