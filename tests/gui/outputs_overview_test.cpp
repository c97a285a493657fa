// The overview after a project load: the reduced mosaic, exactly as after
// a mosaic made in the wizard, whichever road came before.

#include <mutex>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/project_file.h"
#include "app/ui/form3.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"

using namespace tsx;

namespace {

// Pictures of many colours, so every cell of the overview differs from black.
std::vector<std::string> writePictures(const QTemporaryDir& dir, int count)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("p%1.bmp").arg(i));
        paths.push_back(testing::writeSolidBmp(path, 12, 9, uint8_t(40 + i * 3), uint8_t(250 - i * 4),
                                               uint8_t((i * 37) % 200 + 30)));
    }
    return paths;
}

// Saves a placed job of rows x cols cells of side pixels as a project file,
// then empties the window's job again.
QString saveProjectOf(const QTemporaryDir& dir, const QString& name, int rows, int cols, int side,
                      const std::vector<std::string>& paths)
{
    testing::setUpPlainJob(rows, cols, side, side, paths,
                           [&](int c, int r) { return (c * 7 + r * 3) % int(paths.size()); });
    mosaicJob().workingSignatures = mosaicJob().signatureStream;
    const QString file = dir.filePath(name);
    saveProject(testing::bytesOf(file), mosaicJob(), imageList());
    Form1->sbcls->click();
    imageList().clear();
    mosaicJob().settings = MosaicSettings{};
    mosaicJob().placementGrid.clear();
    return file;
}

bool loadThroughTheMenu(ScriptedDialogs& dialogs, const QString& file)
{
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    dialogs.fileAnswers.push_back(file);
    Form1->LoadMosaic1->trigger();
    return ended.wait(60000) && ended.first().at(0).toBool();
}

// What the overview window shows on the screen now, without painting it anew.
QImage shownOverview()
{
    QTest::qWait(400);  // every repaint the window has asked for is done
    const QImage window = QGuiApplication::primaryScreen()->grabWindow(Form3->winId()).toImage();
    const PaintPlacement at = Form3->ddoverview->placement();
    const QPoint topLeft = Form3->ddoverview->mapTo(Form3, QPoint(at.x, at.y));
    return window.copy(QRect(topLeft, QSize(at.width, at.height))).convertToFormat(QImage::Format_RGB32);
}

// The overview's raster is the area average of the whole mosaic, and so is
// what the window shows of it.
bool overviewIsTheReducedMosaic()
{
    const TDIB& overview = Form3->ddoverview->DIB();
    if (overview.IsEmpty())
        return false;
    TDIB expected;
    expected.Allocate(overview.Width(), overview.Height(), 24);
    {
        std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
        const TDIB& mosaic = mosaicJob().mosaicImage;
        stretchAreaAverage(mosaic, { 0, 0, mosaic.Width(), mosaic.Height() }, expected,
                           { 0, 0, overview.Width(), overview.Height() });
    }
    for (int y = 0; y < overview.Height(); ++y)
        for (int x = 0; x < overview.Width() * 3; ++x)
            if (overview.ScanLine(y)[x] != expected.ScanLine(y)[x]) {
                qWarning("overview differs at row %d, byte %d: %d, not %d", y, x, overview.ScanLine(y)[x],
                         expected.ScanLine(y)[x]);
                return false;
            }
    const QImage shown = shownOverview();
    if (shown.width() != overview.Width() || shown.height() != overview.Height()) {
        qWarning("the overview shows %d x %d pixels of %d x %d", shown.width(), shown.height(), overview.Width(),
                 overview.Height());
        return false;
    }
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const uint8_t* p = expected.ScanLine(y) + 3 * x;
            if (shown.pixel(x, y) != qRgb(p[2], p[1], p[0])) {
                qWarning("the overview shows %08x at %d, %d, not the mosaic's %02x%02x%02x", shown.pixel(x, y), x,
                         y, p[2], p[1], p[0]);
                return false;
            }
        }
    return true;
}

}  // namespace

class OutputsOverviewTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup() { testing::endProgram(); }

    void overviewShowsEveryLoadedProject()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = writePictures(dir, 60);
        const QString first = saveProjectOf(dir, QStringLiteral("first.tsx"), 24, 32, 24, paths);
        const QString second = saveProjectOf(dir, QStringLiteral("second.tsx"), 20, 16, 30, paths);
        ScriptedDialogs dialogs;
        QVERIFY(Form3->isVisible());

        QVERIFY(loadThroughTheMenu(dialogs, first));
        QCOMPARE(mosaicJob().mosaicImage.Width(), 32 * 24);
        QVERIFY(overviewIsTheReducedMosaic());

        // another size: the overview refits and follows again
        QVERIFY(loadThroughTheMenu(dialogs, second));
        QCOMPARE(mosaicJob().mosaicImage.Width(), 16 * 30);
        QVERIFY(overviewIsTheReducedMosaic());

        // a mosaic started as the wizard's Finish starts it, then a project
        testing::setUpPlainJob(16, 16, 24, 24, paths, [](int c, int r) { return (c + r) % 5; });
        Form1->sizeMosaic(16 * 24, 16 * 24);
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        Form1->startRender();
        QVERIFY(ended.wait(60000));
        QVERIFY(overviewIsTheReducedMosaic());
        QVERIFY(loadThroughTheMenu(dialogs, first));
        QVERIFY(overviewIsTheReducedMosaic());
        for (const auto& m : dialogs.messages)
            QCOMPARE(m.text, QStringLiteral("Photomosaic created success!"));
    }
};

TSX_WINDOW_TEST_MAIN(OutputsOverviewTest)
#include "outputs_overview_test.moc"
