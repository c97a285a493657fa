// The creation wizard's source and size steps and the moves between steps,
// driven through the controls with scripted dialogs.
#include <memory>
#include <mutex>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/ui/dxpaintbox.h"
#include "wizard/image_list.h"
#include "wizard/mosaic_size.h"
#include "wizard/ui/formnew.h"
#include "widgets/picture_preview.h"
#include "wizard_test_support.h"

using namespace tsx;
using namespace tsx::testing;

namespace {

TDIB mosaicCopy()
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    TDIB copy = mosaicJob().mosaicImage;
    return copy;
}

TDIB adjusted(const TDIB& source, int red, int green, int blue, bool grey)
{
    TDIB out = source;
    adjustColours(out, red, green, blue, grey);
    return out;
}

bool everyByte(const TDIB& dib, int channel, uint8_t value)
{
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* p = dib.ScanLine(y);
        for (int x = 0; x < dib.Width(); ++x, p += 3)
            if (p[channel] != value)
                return false;
    }
    return true;
}

}  // namespace

class WizardStepsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;

    // Writes a picture and loads it through step 1.
    void loadSource(const TDIB& picture, const QString& name = QStringLiteral("source.bmp"))
    {
        const QString path = m_dir->filePath(name);
        picture.WriteBmp(bytesOf(path));
        m_dialogs->fileAnswers.push_back(path);
        QTest::mouseClick(Formnew->btloadsource, Qt::LeftButton);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        startProgram();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
    }
    void cleanup()
    {
        m_dialogs.reset();
        endProgram();
        m_dir.reset();
    }

    void openingShowsStepOneAndACancelledLoadShowsTheBlank()
    {
        QVERIFY(Formnew->isVisible());
        QVERIFY(Formnew->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(Formnew->minimumSize(), Formnew->maximumSize());
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix  ----  Load Main Image"));
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plload);
        QVERIFY(!Formnew->btnext1->isEnabled());
        QCOMPARE(Formnew->lbratio1->text(), QStringLiteral("Aspect ratio of source image  : unknown"));

        QTest::mouseClick(Formnew->btloadsource, Qt::LeftButton);
        QCOMPARE(m_dialogs->fileRequests.size(), size_t(1));
        const FileRequest& request = m_dialogs->fileRequests[0];
        QVERIFY(request.picturePreview);
        // the classic pairs stay as they were, the photo formats follow them
        QCOMPARE(request.filters.size(), 17);
        QCOMPARE(request.filters.first(),
                 QStringLiteral("All Image File (*.dib *.gif *.pcx *.pic *.tga *.tif *.tiff *.jpg *.jpeg *.bmp)"));
        QCOMPARE(request.filters[10], QStringLiteral("Windows Bitmaps (*.bmp) (*.bmp)"));
        QCOMPARE(request.filters[11], QStringLiteral("Photo images (*.png *.webp *.heic *.heif *.avif)"));
        QCOMPARE(request.filters.last(), QStringLiteral("AVIF images (*.avif) (*.avif)"));
        // the 24 x 24 blank of Clear all counts as a picture
        QVERIFY(Formnew->btnext1->isEnabled());
        QCOMPARE(Formnew->lbsw->text(), QStringLiteral("Width: 24"));
        QCOMPARE(Formnew->lbsh->text(), QStringLiteral("Height: 24"));
        QCOMPARE(Formnew->lbratio1->text(), QStringLiteral("Aspect ratio of source image :100/100"));
        QVERIFY(m_dialogs->messages.empty());
    }

    void loadShowsSizeAndRatioAndPutsTheSourceInTheMainWindow()
    {
        struct Case {
            int width, height;
            const char* ratio;
        };
        const Case cases[] = { { 80, 60, ":75/100" }, { 1, 1000, ":100000/100" }, { 1000, 3, ":0/100" } };
        for (const Case& c : cases) {
            const TDIB picture = gradient(c.width, c.height);
            loadSource(picture, QStringLiteral("p%1x%2.bmp").arg(c.width).arg(c.height));
            QCOMPARE(Formnew->lbsw->text(), QStringLiteral("Width: %1").arg(c.width));
            QCOMPARE(Formnew->lbsh->text(), QStringLiteral("Height: %1").arg(c.height));
            QCOMPARE(Formnew->lbratio1->text(), QStringLiteral("Aspect ratio of source image ") + QLatin1String(c.ratio));
            QVERIFY(samePixels(mosaicCopy(), picture));
            QCOMPARE(Form1->ddmainimg->size(), QSize(c.width, c.height));
            QVERIFY(samePixels(Formnew->ddprev1->DIB(), picture));
        }
        QVERIFY(Formnew->sourceFileName().ends_with("p1000x3.bmp"));
        QVERIFY(m_dialogs->messages.empty());
    }

    void thePicturePreviewNamesTheSizeOrNone()
    {
        PicturePreview preview;
        const QString picture = m_dir->filePath(QStringLiteral("p.bmp"));
        gradient(80, 60).WriteBmp(bytesOf(picture));
        preview.showFile(picture);
        QCOMPARE(preview.caption(), QStringLiteral(" (80x60)"));
        const QString junk = m_dir->filePath(QStringLiteral("junk.jpg"));
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
        file.close();
        for (const QString& none : { junk, m_dir->path(), m_dir->filePath(QStringLiteral("missing.bmp")) }) {
            preview.showFile(none);
            QCOMPARE(preview.caption(), QStringLiteral("(None)"));
        }
    }

    void aPictureThatFailsToLoadLeavesTheStepAsItWas()
    {
        const TDIB picture = gradient(40, 30);
        loadSource(picture);
        const std::string goodFile = Formnew->sourceFileName();

        const QString damaged = m_dir->filePath(QStringLiteral("damaged.bmp"));
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BM this is not a bitmap at all");
        file.close();
        m_dialogs->fileAnswers.push_back(damaged);
        QTest::mouseClick(Formnew->btloadsource, Qt::LeftButton);

        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QVERIFY(!m_dialogs->messages[0].text.isEmpty());
        QCOMPARE(Formnew->lbsw->text(), QStringLiteral("Width: 40"));
        QCOMPARE(mosaicJob().sourcePicture.Width(), 40);
        QVERIFY(samePixels(Formnew->ddprev1->DIB(), picture));
        QVERIFY(Formnew->btnext1->isEnabled());
        // a self mosaic must read the picture the steps were built from
        QCOMPARE(Formnew->sourceFileName(), goodFile);
    }

    void liveAdjustmentNeverPilesUpAndApplyAndResetFollowIt()
    {
        const TDIB picture = gradient(30, 20);
        loadSource(picture);

        Formnew->sbra->setValue(255);
        QVERIFY(everyByte(Formnew->ddprev1->DIB(), 2, 255));
        Formnew->sbra->setValue(-255);
        QVERIFY(everyByte(Formnew->ddprev1->DIB(), 2, 0));

        Formnew->sbra->setValue(40);
        Formnew->sbga->setValue(-20);
        Formnew->sbba->setValue(10);
        Formnew->sbga->setValue(-20);
        QVERIFY(samePixels(Formnew->ddprev1->DIB(), adjusted(picture, 40, -20, 10, false)));
        QCOMPARE(Formnew->lbra->text(), QStringLiteral("40"));
        QCOMPARE(Formnew->lbga->text(), QStringLiteral("-20"));
        QTest::mouseClick(Formnew->cbmono, Qt::LeftButton);
        QVERIFY(samePixels(Formnew->ddprev1->DIB(), adjusted(picture, 40, -20, 10, true)));

        // the job follows the controls at once; the main window only on Apply
        const MosaicSettings& s = mosaicJob().settings;
        QCOMPARE(s.sourceRedAdjust, 40);
        QCOMPARE(s.sourceGreenAdjust, -20);
        QCOMPARE(s.sourceBlueAdjust, 10);
        QVERIFY(s.sourceMono);
        QVERIFY(samePixels(mosaicCopy(), picture));
        QVERIFY(samePixels(mosaicJob().sourcePicture.Bitmap().Dib(), picture));
        QTest::mouseClick(Formnew->btapply1, Qt::LeftButton);
        QVERIFY(samePixels(mosaicCopy(), adjusted(picture, 40, -20, 10, true)));

        QTest::mouseClick(Formnew->btreset, Qt::LeftButton);
        QCOMPARE(s.sourceRedAdjust, 0);
        QCOMPARE(s.sourceGreenAdjust, 0);
        QCOMPARE(s.sourceBlueAdjust, 0);
        QVERIFY(!s.sourceMono);
        QVERIFY(!Formnew->cbmono->isChecked());
        QCOMPARE(Formnew->lbra->text(), QStringLiteral("0"));
        QVERIFY(samePixels(Formnew->ddprev1->DIB(), picture));
        QVERIFY(samePixels(mosaicCopy(), picture));
    }

    void movesSetTheirCaptionsAndReopeningStartsAtStepOne()
    {
        loadSource(gradient(16, 16));
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plsize);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Photo Mosaic Size Setup"));
        // step 2's Apply ran with the initial 32 x 32 cells of 48 x 48
        QCOMPARE(Formnew->lbdisk->text(), QStringLiteral("Disk Space Taken : 6.7 MB"));
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 32 x 32 = 1024"));
        QCOMPARE(mosaicCopy().Width(), 1536);

        QTest::mouseClick(Formnew->btback1, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plload);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Loading Main Image"));
        QCOMPARE(mosaicCopy().Width(), 16);  // step 1's Apply ran again

        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        QTest::mouseClick(Formnew->btnext3, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->pliml);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Load Images For Cells"));
        QTest::mouseClick(Formnew->btback2, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plsize);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Photo Mosaic Size Setup"));
        QTest::mouseClick(Formnew->btnext3, Qt::LeftButton);

        QVERIFY(!Formnew->cbselfmode->isChecked());
        QTest::mouseClick(Formnew->btnext2, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plmosaic);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Mosaic Creation Setup "));
        QVERIFY(Formnew->cbselfmode->isChecked());
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QCOMPARE(m_dialogs->messages[0].text,
                 QStringLiteral("You should load more than 10 pictures, or you can only use selfmosaic mode."));
        QCOMPARE(m_dialogs->messages[0].caption, QStringLiteral("Caution"));
        QVERIFY(!m_dialogs->messages[0].okCancel);
        QTest::mouseClick(Formnew->btback3, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->pliml);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix ---- Load Images For Cells"));

        // closing only hides; the next opening starts at step 1 with the
        // colour controls reset and everything else as it was
        Formnew->sbvcc->setValue(20);
        Formnew->sbra->setValue(30);
        Formnew->close();
        QVERIFY(!Formnew->isVisible());
        QCOMPARE(mosaicJob().settings.sourceRedAdjust, 30);
        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
        QVERIFY(Formnew->isVisible());
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plload);
        QCOMPARE(Formnew->windowTitle(), QStringLiteral("Tesserix  ----  Load Main Image"));
        QCOMPARE(Formnew->sbra->value(), 0);
        QCOMPARE(Formnew->sbvcc->value(), 20);
        QVERIFY(Formnew->cbselfmode->isChecked());
    }

    void sizeApplyBuildsTheRastersWithTheOffsetsOnceAndTwice()
    {
        loadSource(solid(8, 8, 20, 50, 100));
        Formnew->sbra->setValue(40);
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        Formnew->sbvcc->setValue(16);
        Formnew->sbhcc->setValue(16);
        Formnew->sbcw->setValue(64);
        Formnew->sbch->setValue(64);
        // Recompute writes the job and the labels, nothing else
        QCOMPARE(mosaicJob().settings.mosaicWidth, 1024);
        QCOMPARE(Formnew->lbmsize->text(), QStringLiteral("Mosaic size will be : 1024 x 1024"));
        QCOMPARE(Formnew->lbdisk->text(), QStringLiteral("Disk Space Taken : 3 MB"));
        QCOMPARE(Formnew->lbratio2->text(), QStringLiteral("Aspect ratio of Photomosaic image :100/100"));
        QCOMPARE(Formnew->lbvcc->text(), QStringLiteral("Vertical  Cells Count : 16"));
        QCOMPARE(mosaicCopy().Width(), 1536);

        QTest::mouseClick(Formnew->btapply2, Qt::LeftButton);
        const TDIB& cells = mosaicJob().cellColourRaster;
        QCOMPARE(cells.Width(), 16);
        QCOMPARE(cells.Height(), 16);
        QVERIFY(everyByte(cells, 2, 140));
        const TDIB mosaic = mosaicCopy();
        QCOMPARE(mosaic.Width(), 1024);
        QCOMPARE(mosaic.Height(), 1024);
        QVERIFY(everyByte(mosaic, 2, 180));
        QVERIFY(everyByte(mosaic, 1, 50));
        QCOMPARE(Form1->ddmainimg->size(), QSize(1024, 1024));
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 16 x 16 = 256"));
        QCOMPARE(Form1->statusText(1), QStringLiteral("Cell Size 64 x 64"));
        QCOMPARE(Form1->statusText(2), QStringLiteral("PhotoMosaic Size 1024 x 1024"));
    }

    void theSizeLimitAcceptsTwentyThousandPixelsAndRefusesTenMore()
    {
        loadSource(gradient(24, 24));
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        Formnew->sbvcc->setValue(640);
        Formnew->sbhcc->setValue(640);
        Formnew->sbcw->setValue(32);
        Formnew->sbch->setValue(32);
        QTest::mouseClick(Formnew->btapply2, Qt::LeftButton);
        QVERIFY(m_dialogs->messages.empty());
        QCOMPARE(Formnew->lbdisk->text(), QStringLiteral("Disk Space Taken : 1200 MB"));
        QCOMPARE(mosaicCopy().Width(), 20480);
        QCOMPARE(mosaicCopy().Height(), 20480);
        QCOMPARE(mosaicJob().cellColourRaster.Width(), 640);

        // 30 rows of 683 pixels: 20490 high
        Formnew->sbvcc->setValue(30);
        Formnew->sbch->setValue(683);
        QTest::mouseClick(Formnew->btnext3, Qt::LeftButton);
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QCOMPARE(m_dialogs->messages[0].text, QLatin1String(kTooBigMessage));
        QCOMPARE(m_dialogs->messages[0].caption, QStringLiteral("Can not create project"));
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plsize);
        QCOMPARE(Formnew->lbdisk->text(), QStringLiteral("Disk Space Taken : 1200.6 MB"));
        const MosaicSettings& s = mosaicJob().settings;
        QCOMPARE(s.rows, 30);
        QCOMPARE(s.cellHeight, 683);
        QCOMPARE(s.mosaicHeight, 20490);
        QCOMPARE(mosaicCopy().Height(), 20480);
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 640 x 640 = 409600"));

        QTest::mouseClick(Formnew->btreset2, Qt::LeftButton);
        QCOMPARE(Formnew->sbvcc->value(), 48);
        QCOMPARE(Formnew->sbcw->value(), 32);
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 48 x 48 = 2304"));
        QCOMPARE(Form1->statusText(1), QStringLiteral("Cell Size 32 x 32"));
        QCOMPARE(mosaicCopy().Width(), 1536);
    }

    void whileARenderRunsTheStepsLeaveTheJobAlone()
    {
        loadSource(gradient(16, 16));
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        const TDIB before = mosaicCopy();
        const MosaicSettings settings = mosaicJob().settings;
        emit Form1->renderingChanged(true);
        QVERIFY(!Formnew->btapply2->isEnabled());
        QVERIFY(!Formnew->btfinish->isEnabled());
        QVERIFY(!Formnew->btloadsource->isEnabled());
        Formnew->btapply1Click();
        Formnew->btnext1Click();
        Formnew->btreset2Click();
        Formnew->btfinishClick();
        QVERIFY(mosaicCopy().ScanLine(0) == before.ScanLine(0));
        QCOMPARE(mosaicJob().settings, settings);
        QVERIFY(m_dialogs->messages.empty());
        emit Form1->renderingChanged(false);
        QVERIFY(Formnew->btapply2->isEnabled());
        QVERIFY(Formnew->btnext1->isEnabled());
    }
};

TSX_WINDOW_TEST_MAIN(WizardStepsTest)
#include "wizard_steps_test.moc"
