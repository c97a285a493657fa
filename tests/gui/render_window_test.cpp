// A render started from the main window runs to its final message, moving
// the progress bar in order and keeping the job's commands locked meanwhile.
#include <algorithm>

#include <QAction>
#include <QFile>
#include <QProgressBar>
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

struct Colour {
    uint8_t blue, green, red;
};
const Colour kColours[3] = { { 200, 30, 10 }, { 20, 180, 60 }, { 90, 90, 250 } };

std::string writeSolidBmp(const QString& path, const Colour& c)
{
    return testing::writeSolidBmp(path, 10, 12, c.blue, c.green, c.red);
}

// tile0.bmp to tile2.bmp, one of each colour.
std::vector<std::string> writeTiles(const QTemporaryDir& dir)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i)
        paths.push_back(writeSolidBmp(dir.filePath(QStringLiteral("tile%1.bmp").arg(i)), kColours[i]));
    return paths;
}

// A placed job of 16 rows and 4 columns of 8 x 8 cells over the given
// pictures; cell (c, r) uses picture (c + r) % 3, with no colour shift.
void setUpJob(const std::vector<std::string>& paths)
{
    testing::setUpPlainJob(16, 4, 8, 8, paths, [](int c, int r) { return (c + r) % 3; });
    Form1->sizeMosaic(32, 128);
}

bool cellHasColour(int c, int r, const Colour& colour)
{
    return testing::cellHasColour(c, r, 8, 8, colour.blue, colour.green, colour.red);
}

bool jobCommandsEnabled(bool enabled)
{
    for (QToolButton* b : { Form1->btnew, Form1->sbload, Form1->sbcls, Form1->btsaveimg, Form1->SpeedButton2,
                            Form1->sbsavem })
        if (b->isEnabled() != enabled)
            return false;
    for (QAction* a : { Form1->CreateNew1, Form1->LoadMosaic1, Form1->ClearAll1, Form1->SaveImage1, Form1->Print1,
                        Form1->SaveMosaic1 })
        if (a->isEnabled() != enabled)
            return false;
    return true;
}

}  // namespace

class RenderWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup()
    {
        testing::endProgram();
    }

    void renderRunsToItsFinalMessage()
    {
        QTemporaryDir dir;
        setUpJob(writeTiles(dir));
        ScriptedDialogs dialogs;
        QSignalSpy progress(Form1->pb2, &QProgressBar::valueChanged);
        QSignalSpy ended(Form1, &TForm1::renderEnded);

        Form1->startRender();
        QVERIFY(Form1->isRendering());
        QVERIFY(jobCommandsEnabled(false));
        QVERIFY(Form1->btoverview->isEnabled());
        QVERIFY(ended.wait(30000));
        QCOMPARE(ended.takeFirst().at(0).toBool(), true);

        QVERIFY(!Form1->isRendering());
        QVERIFY(jobCommandsEnabled(true));
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Photomosaic created success!"));
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Finish"));

        // r * 100 div 15 at the start of each row, then 0 again (the bar
        // starts at 0, which is no change)
        QList<int> seen;
        for (const QList<QVariant>& call : progress)
            seen << call.at(0).toInt();
        const QList<int> expected{ 6, 13, 20, 26, 33, 40, 46, 53, 60, 66, 73, 80, 86, 93, 100, 0 };
        QCOMPARE(seen, expected);

        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 4; ++c)
                QVERIFY2(cellHasColour(c, r, kColours[(c + r) % 3]), qPrintable(QStringLiteral("cell %1,%2").arg(c).arg(r)));

        // the overview shows the finished mosaic, not the preview
        const TDIB& overview = Form3->ddoverview->DIB();
        QVERIFY(!overview.IsEmpty());
        TDIB expectedOverview;
        expectedOverview.Allocate(overview.Width(), overview.Height(), 24);
        stretchAreaAverage(mosaicJob().mosaicImage, { 0, 0, 32, 128 }, expectedOverview,
                           { 0, 0, overview.Width(), overview.Height() });
        for (int y = 0; y < overview.Height(); ++y)
            QVERIFY(std::equal(overview.ScanLine(y), overview.ScanLine(y) + overview.Width() * 3,
                               expectedOverview.ScanLine(y)));
    }

    void projectSavedAndLoadedThroughTheWindowRendersAgain()
    {
        QTemporaryDir dir;
        setUpJob(writeTiles(dir));
        const QString project = dir.filePath(QStringLiteral("job.TSX"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(project);
        QTest::mouseClick(Form1->sbsavem, Qt::LeftButton);
        QVERIFY(QFile::exists(project));
        QCOMPARE(dialogs.fileRequests.back().title, QStringLiteral("Save PhotoMosaic Project File"));
        QCOMPARE(dialogs.fileRequests.back().filters, QStringList{ QStringLiteral("Mosaic Project File (*.TSX)") });

        // a different job in memory, then the saved one loaded back
        Form1->sbcls->click();
        imageList().clear();
        mosaicJob().placementGrid.clear();
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        dialogs.fileAnswers.push_back(project);
        Form1->LoadMosaic1->trigger();
        QCOMPARE(dialogs.fileRequests.back().title, QStringLiteral("Open PhotoMosaic Project File"));
        QVERIFY(Form1->isRendering());
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 4 x 16 = 64"));
        QCOMPARE(Form1->statusText(1), QStringLiteral("Cell Size 8 x 8"));
        QCOMPARE(Form1->statusText(2), QStringLiteral("PhotoMosaic Size 32 x 128"));
        QCOMPARE(Form1->statusText(3), QStringLiteral("Files In ImageList : 3"));
        QCOMPARE(Form1->ddmainimg->size(), QSize(32, 128));
        QVERIFY(ended.wait(30000));
        QCOMPARE(ended.takeFirst().at(0).toBool(), true);
        QCOMPARE(dialogs.messages.back().text, QStringLiteral("Photomosaic created success!"));
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 4; ++c)
                QVERIFY(cellHasColour(c, r, kColours[(c + r) % 3]));

        // a file that is not a project is refused and starts nothing
        const QString bogus = dir.filePath(QStringLiteral("bogus.TSX"));
        QFile file(bogus);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a project");
        file.close();
        const size_t shown = dialogs.messages.size();
        dialogs.fileAnswers.push_back(bogus);
        Form1->sbload->click();
        QVERIFY(!Form1->isRendering());
        QCOMPARE(dialogs.messages.size(), shown + 1);
        QCOMPARE(imageList().count(), size_t(3));
    }

    void failedRenderShowsItsErrorAndUnlocksTheWindow()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.bmp"));
        writeSolidBmp(good, kColours[0]);
        const QString missing = dir.filePath(QStringLiteral("missing.bmp"));
        const std::string goodPath = QFile::encodeName(good).toStdString();
        setUpJob({ goodPath, QFile::encodeName(missing).toStdString(), goodPath });
        ScriptedDialogs dialogs;
        QSignalSpy ended(Form1, &TForm1::renderEnded);

        Form1->startRender();
        QVERIFY(ended.wait(30000));
        QCOMPARE(ended.takeFirst().at(0).toBool(), false);
        QVERIFY(jobCommandsEnabled(true));
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY2(dialogs.messages[0].text.contains(missing), qPrintable(dialogs.messages[0].text));
        // the first cell was drawn before the missing picture stopped the render
        QVERIFY(cellHasColour(0, 0, kColours[0]));
    }
};

TSX_WINDOW_TEST_MAIN(RenderWindowTest)
#include "render_window_test.moc"
