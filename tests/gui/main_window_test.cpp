// The main window and the overview window driven through their controls.
#include <cstring>
#include <limits>
#include <mutex>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "app/ui/form7.h"
#include "app/ui/printform.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/byte_io.h"
#include "raster/ui/dxpaintbox.h"
#include "wizard/ui/formnew.h"

using namespace tsx;
using tsx::testing::noise;
using tsx::testing::solid;

namespace {

bool allPixels(const TDIB& dib, uint8_t blue, uint8_t green, uint8_t red)
{
    if (dib.IsEmpty() || dib.BitCount() != 24)
        return false;
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* p = dib.ScanLine(y);
        for (int x = 0; x < dib.Width(); ++x, p += 3)
            if (p[0] != blue || p[1] != green || p[2] != red)
                return false;
    }
    return true;
}

bool isSilver(const TDIB& dib) { return allPixels(dib, 192, 192, 192); }

void setMosaic(const TDIB& dib)
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    mosaicJob().mosaicImage = dib;
}

bool overviewShownAndDown() { return Form3->isVisible() && Form1->btoverview->isChecked(); }
bool overviewHiddenAndUp() { return !Form3->isVisible() && !Form1->btoverview->isChecked(); }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup() { testing::endProgram(); }

    void startsWithBlankMosaicAndOverviewShown()
    {
        QCOMPARE(Form1->windowTitle(), QStringLiteral("Tesserix 4.21"));
        QCOMPARE(mosaicJob().mosaicImage.Width(), 24);
        QCOMPARE(mosaicJob().mosaicImage.Height(), 24);
        QVERIFY(isSilver(mosaicJob().mosaicImage));
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells 0 x 0"));
        QCOMPARE(Form1->statusText(1), QStringLiteral("Cell Size 0 x 0"));
        QCOMPARE(Form1->statusText(2), QStringLiteral("PhotoMosaic Size 0 x 0"));
        QCOMPARE(Form1->statusText(3), QStringLiteral("Files in ImageList : 0"));
        QCOMPARE(Form1->pb2->value(), 0);
        QCOMPARE(Form1->pb2->maximum(), 100);
        QVERIFY(overviewShownAndDown());
        QVERIFY(Form1->Overview1->isChecked());
        QCOMPARE(Form3->windowTitle(), QStringLiteral("Overview"));
        QVERIFY(Form3->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(Form4->windowTitle(), QStringLiteral("About Tesserix 4.21"));
        QCOMPARE(Printform->windowTitle(), QStringLiteral("Printer Setup"));
        QCOMPARE(Form7->windowTitle(), QStringLiteral("Image File Usage Statistic"));
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix  ----  Load Main Image"));
        // the wizard cannot go past its first step before a source is loaded
        QVERIFY(!Formnew->btnext1->isEnabled());
        QVERIFY(isSilver(Formnew->ddprev1->DIB()));
    }

    void toolbarAndMenuTextsAreTheProgramsOwn()
    {
        const std::pair<const char*, const char*> tips[] = {
            { "btnew", "Create New Photomosaic" }, { "sbsavem", "Save current project" },
            { "sbload", "Load project" }, { "sbcls", "Clear all" }, { "btsaveimg", "Save photomosaic image" },
            { "SpeedButton2", "Print Image" }, { "SpeedButton5", "Stats" }, { "btoverview", "Overview" },
            { "sbabout", "About" },
        };
        for (const auto& [name, tip] : tips) {
            auto* button = Form1->findChild<QToolButton*>(QLatin1String(name));
            QVERIFY2(button, name);
            QCOMPARE(button->toolTip(), QLatin1String(tip));
            QVERIFY2(!button->icon().isNull(), name);
        }
        QCOMPARE(Form1->CreateNew1->text(), QStringLiteral("Create &New Mosaic"));
        QCOMPARE(Form1->SaveImage1->text(), QStringLiteral("S&ave Image to..."));
        QCOMPARE(Form1->Exit1->text(), QStringLiteral("&Exit"));
        QCOMPARE(Form1->Label1->text(), QStringLiteral("Progress :"));
    }

    void toggleAndMenuAlwaysAgree()
    {
        QTest::mouseClick(Form1->btoverview, Qt::LeftButton);
        QVERIFY(overviewHiddenAndUp());
        QVERIFY(!Form1->Overview1->isChecked());
        Form1->Overview1->trigger();
        QVERIFY(overviewShownAndDown());
        QVERIFY(Form1->Overview1->isChecked());
        Form1->Overview1->trigger();
        QVERIFY(overviewHiddenAndUp());
        QTest::mouseClick(Form1->btoverview, Qt::LeftButton);
        QVERIFY(overviewShownAndDown());

        // closing the overview by its title bar puts the button up; the menu
        // item brings it back with the button down
        Form3->close();
        QVERIFY(overviewHiddenAndUp());
        Form1->Overview1->trigger();
        QVERIFY(overviewShownAndDown());
    }

    void openingAnotherWindowHidesTheOverview()
    {
        QWidget* windows[] = { Printform, Form7, Form4 };
        QToolButton* buttons[] = { Form1->SpeedButton2, Form1->SpeedButton5, Form1->sbabout };
        for (int i = 0; i < 3; ++i) {
            Form1->btoverview->click();
            if (!Form3->isVisible())
                Form1->btoverview->click();
            QVERIFY(overviewShownAndDown());
            QTest::mouseClick(buttons[i], Qt::LeftButton);
            QVERIFY(windows[i]->isVisible());
            QVERIFY(overviewHiddenAndUp());
            windows[i]->close();
            QVERIFY(overviewHiddenAndUp());
        }
        Form1->Stats1->trigger();
        QVERIFY(Form7->isVisible());
        Form1->About1->trigger();
        QVERIFY(Form4->isVisible());
        QTest::mouseClick(Form4->btok, Qt::LeftButton);
        QVERIFY(!Form4->isVisible());
    }

    void clearAllRestoresTheBlankButKeepsTheJob()
    {
        MosaicJob& job = mosaicJob();
        setMosaic(solid(30, 20, 10, 20, 30));
        Form1->setStatusText(0, QStringLiteral("Cells Count 16 x 16 = 256"));
        Form1->setStatusText(3, QStringLiteral("Files In ImageList : 12"));
        job.settings.rows = 16;
        job.settings.cols = 16;
        Formnew->btnext1->setEnabled(true);
        Form3->UpdateOverview();
        QVERIFY(!isSilver(Form3->ddoverview->DIB()));
        const int overviewWidth = Form3->ddoverview->DIB().Width();

        QTest::mouseClick(Form1->sbcls, Qt::LeftButton);
        QVERIFY(isSilver(job.mosaicImage));
        QCOMPARE(job.mosaicImage.Width(), 24);
        QVERIFY(isSilver(job.sourcePicture.Bitmap().Dib()));
        QVERIFY(isSilver(Formnew->ddprev1->DIB()));
        QVERIFY(!Formnew->btnext1->isEnabled());
        // the overview is redrawn at its size, not refitted
        QVERIFY(isSilver(Form3->ddoverview->DIB()));
        QCOMPARE(Form3->ddoverview->DIB().Width(), overviewWidth);
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 16 x 16 = 256"));
        QCOMPARE(Form1->statusText(3), QStringLiteral("Files In ImageList : 12"));
        QCOMPARE(job.settings.rows, 16);
        QCOMPARE(job.settings.cols, 16);
        job.settings = MosaicSettings{};
    }

    void createNewOpensTheWizardWithTheOverview()
    {
        Form1->btoverview->click();
        QVERIFY(overviewHiddenAndUp());
        setMosaic(solid(40, 40, 0, 0, 255));
        mosaicJob().settings.sourceRedAdjust = 40;
        mosaicJob().settings.sourceMono = true;
        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
        QVERIFY(overviewShownAndDown());
        QVERIFY(isSilver(mosaicJob().mosaicImage));
        QVERIFY(Formnew->isVisible());
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix  ----  Load Main Image"));
        QCOMPARE(mosaicJob().settings.sourceRedAdjust, 0);
        QVERIFY(!mosaicJob().settings.sourceMono);
    }

    void saveImageRightAfterStartWritesTheSilverBlank()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("blank.bmp"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        QTest::mouseClick(Form1->btsaveimg, Qt::LeftButton);
        QCOMPARE(dialogs.fileRequests.size(), size_t(1));
        const FileRequest& request = dialogs.fileRequests[0];
        QCOMPARE(request.kind, FileRequest::Kind::Save);
        QCOMPARE(request.title, QStringLiteral("Save Image"));
        QCOMPARE(request.filters.value(0), QStringLiteral("24-bit Bitmap (*.bmp *.dib)"));
        QCOMPARE(request.defaultSuffix, QStringLiteral("bmp"));
        QVERIFY(!request.confirmOverwrite);
        QVERIFY(dialogs.messages.empty());

        const std::vector<uint8_t> bytes = readWholeFile(QFile::encodeName(path).toStdString());
        ByteReader in(bytes.data(), bytes.size());
        QCOMPARE(in.u16le(), uint16_t(0x4D42));  // "BM"
        in.seek(10);
        const uint32_t pixelOffset = in.u32le();
        in.seek(18);
        QCOMPARE(in.i32le(), 24);
        QCOMPARE(in.i32le(), 24);
        in.skip(2);
        QCOMPARE(in.u16le(), uint16_t(24));
        QCOMPARE(in.u32le(), 0u);  // uncompressed
        in.seek(pixelOffset);
        for (int i = 0; i < 24 * 24 * 3; ++i)
            QCOMPARE(in.u8(), uint8_t(192));

        // cancelling writes nothing
        QFile::remove(path);
        Form1->SaveImage1->trigger();
        QVERIFY(!QFile::exists(path));
        QVERIFY(dialogs.messages.empty());
    }

    void saveImageToAnUncreatableFileShowsTheError()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("no-such-folder/mosaic.bmp"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        Form1->btsaveimg->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot create file %1").arg(path));
        QVERIFY(isSilver(mosaicJob().mosaicImage));
        // the event loop goes on: the window still answers
        Form1->btoverview->click();
        QVERIFY(overviewHiddenAndUp());
    }

    void overviewWindowRefitsFromTheMainPaintBox()
    {
        Form3->resize(248, 165);
        QCOMPARE(Form3->ddoverview->size(), QSize(248, 165));
        setMosaic(solid(1024, 512, 255, 0, 0));
        Form1->ddmainimg->resize(1024, 512);
        Form3->UpdateOverview();
        const TDIB& overview = Form3->ddoverview->DIB();
        QCOMPARE(overview.Width(), 248);
        QCOMPARE(overview.Height(), 124);
        QVERIFY(allPixels(overview, 255, 0, 0));
        // drawn at natural size, centred
        QCOMPARE(Form3->ddoverview->placement(), (PaintPlacement{ 0, 20, 248, 124, false }));

        // a main paint box of 0 x 0 leaves the overview as it was
        Form1->ddmainimg->resize(0, 0);
        Form3->UpdateOverview();
        QCOMPARE(overview.Width(), 248);
        QCOMPARE(overview.Height(), 124);

        // mosaics of 10 bytes or less are not drawn, the raster still refits
        Form1->ddmainimg->resize(512, 1024);
        setMosaic(solid(2, 1, 0, 255, 0));
        Form3->UpdateOverview();
        QCOMPARE(overview.Width(), 82);
        QVERIFY(!allPixels(overview, 0, 255, 0));
        setMosaic(solid(3, 1, 0, 255, 0));  // 12 bytes: drawn
        Form3->UpdateOverview();
        QVERIFY(allPixels(overview, 0, 255, 0));

        // resizing the window refits
        Form3->resize(200, 300);
        QCOMPARE(overview.Width(), 150);
        QCOMPARE(overview.Height(), 300);
    }

    void overviewFollowsARenderRowByRow()
    {
        // A render finishes the mosaic from the top; the overview takes the
        // finished rows as they are reported, survives a resize midway, and
        // ends equal to one stretch of the finished mosaic. Both a reduced
        // and an enlarged overview.
        for (const QSize mosaicSize : { QSize(900, 600), QSize(120, 70) }) {
            const int w = mosaicSize.width(), h = mosaicSize.height();
            Form3->resize(248, 165);
            Form1->ddmainimg->resize(900, 600);
            setMosaic(noise(w, h, 1));
            Form3->UpdateOverview();
            const TDIB finished = noise(w, h, 2);
            Form3->beginRender();
            int done = 0;
            for (int step = 0; done < h; ++step) {
                const int next = std::min(h, done + 7 + step % 23);
                {
                    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
                    for (int y = done; y < next; ++y)
                        std::memcpy(mosaicJob().mosaicImage.RowPointer(y), finished.ScanLine(y), size_t(w) * 3);
                }
                done = next;
                Form3->feedFinishedRows(done);
                if (step == 5)
                    Form3->resize(200, 300);
            }
            Form3->feedFinishedRows(std::numeric_limits<int>::max());
            const TDIB& overview = Form3->ddoverview->DIB();
            QCOMPARE(overview.Width(), 200);
            QCOMPARE(overview.Height(), 133);
            TDIB expected;
            expected.Allocate(200, 133, 24);
            stretchAreaAverage(finished, { 0, 0, w, h }, expected, { 0, 0, 200, 133 });
            for (int y = 0; y < 133; ++y)
                QVERIFY2(std::memcmp(overview.ScanLine(y), expected.ScanLine(y), 200 * 3) == 0,
                         qPrintable(QStringLiteral("%1 x %2, row %3").arg(w).arg(h).arg(y)));
        }
    }

    void outOfMemoryWhileSizingKeepsTheOldRaster()
    {
        setMosaic(solid(30, 20, 1, 2, 3));
        const QSize before = Form1->ddmainimg->size();
        bool raised = false;
        try {
            Form1->sizeMosaic(1 << 30, 1 << 30);
        } catch (const Error& e) {
            raised = true;
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("DIB cannot be made"));
        }
        QVERIFY(raised);
        QCOMPARE(mosaicJob().mosaicImage.Width(), 30);
        QVERIFY(allPixels(mosaicJob().mosaicImage, 1, 2, 3));
        QCOMPARE(Form1->ddmainimg->size(), before);
    }

    void exitClosesEveryWindow()
    {
        Form1->SpeedButton5->click();
        Form1->btnew->click();
        QVERIFY(Form7->isVisible() && Formnew->isVisible());
        Form1->Exit1->trigger();
        QVERIFY(!Form1->isVisible());
        QVERIFY(!Form7->isVisible());
        QVERIFY(!Formnew->isVisible());
        QVERIFY(!Form3->isVisible());
    }
};

TSX_WINDOW_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
