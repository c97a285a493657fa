// The wizard's options step and Finish, and a whole run through the wizard
// whose mosaic must equal the batch tool's from the same inputs.
#include <memory>
#include <mutex>

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form7.h"
#include "app/ui/missing_colours_window.h"
#include "raster/ui/dxpaintbox.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "wizard/image_list.h"
#include "wizard/ui/formnew.h"
#include "wizard_test_support.h"

using namespace tsx;
using namespace tsx::testing;

namespace {
const QString kTooFew = QStringLiteral("You should load more than 10 pictures, or you can only use selfmosaic mode.");

TDIB mosaicCopy()
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    TDIB copy = mosaicJob().mosaicImage;
    return copy;
}
}  // namespace

class WizardFinishTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_source, m_pictures;

    // Steps 1 to 3 through their buttons: a 64 x 48 source, 16 x 16 cells of
    // 24 x 24 (or the given size), a folder of the given number of pictures.
    void walkToOptions(int pictureCount, int rows = 16, int cols = 16)
    {
        m_source = m_dir->filePath(QStringLiteral("source.bmp"));
        gradient(64, 48).WriteBmp(bytesOf(m_source));
        m_pictures = m_dir->filePath(QStringLiteral("pictures"));
        QVERIFY(QDir().mkpath(m_pictures));
        writePictures(m_pictures, pictureCount);

        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
        m_dialogs->fileAnswers.push_back(m_source);
        QTest::mouseClick(Formnew->btloadsource, Qt::LeftButton);
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        Formnew->sbvcc->setValue(rows);
        Formnew->sbhcc->setValue(cols);
        Formnew->sbcw->setValue(24);
        Formnew->sbch->setValue(24);
        QTest::mouseClick(Formnew->btnext3, Qt::LeftButton);
        m_dialogs->fileAnswers.push_back(m_pictures);
        QTest::mouseClick(Formnew->btloadcell2, Qt::LeftButton);
        QCOMPARE(imageList().count(), size_t(pictureCount));
        QTest::mouseClick(Formnew->btnext2, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plmosaic);
        m_dialogs->messages.clear();
    }

    // Finish, then the render to its final message.
    void finishAndRender()
    {
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        QTest::mouseClick(Formnew->btfinish, Qt::LeftButton);
        QVERIFY(!Formnew->isVisible());
        QVERIFY(ended.count() == 1 || ended.wait(60000));
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        QCOMPARE(m_dialogs->messages.back().text, QStringLiteral("Photomosaic created success!"));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        startProgram();
        m_dialogs = std::make_unique<ScriptedDialogs>();
    }
    void cleanup()
    {
        endProgram();
        m_dialogs.reset();
        m_dir.reset();
    }

    void ninePicturesAskFirstAndCancelChangesNothing()
    {
        walkToOptions(9);
        // step 3's Next turned self mosaic mode on; the user turns it off
        QVERIFY(Formnew->cbselfmode->isChecked());
        Formnew->cbselfmode->setChecked(false);
        const MosaicSettings before = mosaicJob().settings;

        m_dialogs->okCancelAnswers.push_back(false);
        QTest::mouseClick(Formnew->btfinish, Qt::LeftButton);
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QCOMPARE(m_dialogs->messages[0].text, kTooFew);
        QCOMPARE(m_dialogs->messages[0].caption, QStringLiteral("Caution"));
        QVERIFY(m_dialogs->messages[0].okCancel);
        QVERIFY(Formnew->isVisible());
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plmosaic);
        QVERIFY(!Formnew->cbselfmode->isChecked());
        QVERIFY(!Form1->isRendering());
        QCOMPARE(mosaicJob().settings, before);

        // OK makes it a self mosaic
        finishAndRender();
        QCOMPARE(m_dialogs->messages[1].text, kTooFew);
        QVERIFY(Formnew->cbselfmode->isChecked());
        QVERIFY(mosaicJob().settings.selfMosaic);
    }

    void tenPicturesFinishWithoutAQuestion()
    {
        walkToOptions(10);
        QVERIFY(!Formnew->cbselfmode->isChecked());
        finishAndRender();
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QVERIFY(!mosaicJob().settings.selfMosaic);
        const MosaicSettings& s = mosaicJob().settings;
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.cols; ++c) {
                const CellPlacement& p = mosaicJob().placementGrid.at(c, r);
                QVERIFY(p.occupied == 1 && p.imageIndex >= 0 && p.imageIndex < 10);
            }
        // the wizard opens again at step 1 with the options as they were
        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plload);
        QCOMPARE(imageList().count(), size_t(10));
        QCOMPARE(Formnew->filelist->count(), 10);
    }

    void finishCopiesEveryOption()
    {
        walkToOptions(10);
        QCOMPARE(Formnew->LBrandom->text(), QStringLiteral("Randomize Level: 5"));
        Formnew->tbrandom->setValue(1);
        Formnew->tbrandom->setValue(5);
        QCOMPARE(Formnew->LBrandom->text(), QStringLiteral("Randomize Range : 5"));

        // digits and signs only; too large a number takes the nearer limit
        QLineEdit* edit = Formnew->sprepeat->findChild<QLineEdit*>();
        QVERIFY(edit);
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("9x9"));
        QCOMPARE(edit->text(), QStringLiteral("99"));

        QTest::mouseClick(Formnew->rbcut, Qt::LeftButton);
        for (QCheckBox* box : { Formnew->cbmonocell, Formnew->cbvf, Formnew->cbhf, Formnew->cbuseall,
                                Formnew->cbrepeat, Formnew->cbnoclose, Formnew->cbceoff })
            QTest::mouseClick(box, Qt::LeftButton);
        finishAndRender();

        QCOMPARE(Formnew->sprepeat->text(), QStringLiteral("20"));
        const MosaicSettings& s = mosaicJob().settings;
        QCOMPARE(s.maxRepeat, 20);
        QCOMPARE(s.randomLevel, 5);
        QVERIFY(s.cutEdges && !s.stretchCells);
        QVERIFY(s.monoCells && s.allowVFlip && s.allowHFlip && s.useAll && s.limitRepeat && s.colorEnhanceOff);
        QVERIFY(!s.noClose && !s.selfMosaic);

        // a text that is no number counts as 1
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("-"));
        Formnew->sprepeat->interpretText();
        QCOMPARE(Formnew->sprepeat->value(), 1);
    }

    void theWizardMakesTheBatchToolsMosaic()
    {
        const QString tool = QStringLiteral(TESSERIX_BINARY_DIR "/tesserix-cli");
        if (!QFileInfo(tool).isExecutable())
            QSKIP("the batch tool is not built (target tesserix-cli)");
        walkToOptions(12, 16, 20);
        // back to step 1 for a source adjustment, then options off their defaults
        QTest::mouseClick(Formnew->btback3, Qt::LeftButton);
        QTest::mouseClick(Formnew->btback2, Qt::LeftButton);
        QTest::mouseClick(Formnew->btback1, Qt::LeftButton);
        Formnew->sbra->setValue(30);
        Formnew->sbba->setValue(-15);
        QTest::mouseClick(Formnew->btnext1, Qt::LeftButton);
        QTest::mouseClick(Formnew->btnext3, Qt::LeftButton);
        QTest::mouseClick(Formnew->btnext2, Qt::LeftButton);
        QTest::mouseClick(Formnew->cbuseall, Qt::LeftButton);
        QTest::mouseClick(Formnew->cbhf, Qt::LeftButton);
        Formnew->tbrandom->setValue(3);
        Formnew->useFixedRandomState(20240611u);
        finishAndRender();
        const TDIB fromWizard = mosaicCopy();
        QCOMPARE(fromWizard.Width(), 20 * 24);
        QCOMPARE(fromWizard.Height(), 16 * 24);

        const QString out = m_dir->filePath(QStringLiteral("batch.bmp"));
        QProcess batch;
        batch.start(tool, { QStringLiteral("make"), QStringLiteral("--source"), m_source, QStringLiteral("--images"),
                            m_pictures, QStringLiteral("--out"), out, QStringLiteral("--rows"), QStringLiteral("16"),
                            QStringLiteral("--cols"), QStringLiteral("20"), QStringLiteral("--cell-width"),
                            QStringLiteral("24"), QStringLiteral("--cell-height"), QStringLiteral("24"),
                            QStringLiteral("--red"), QStringLiteral("30"), QStringLiteral("--blue"),
                            QStringLiteral("-15"), QStringLiteral("--use-all"), QStringLiteral("--hflip"),
                            QStringLiteral("--random-level"), QStringLiteral("3"), QStringLiteral("--seed"),
                            QStringLiteral("20240611"), QStringLiteral("--quiet") });
        QVERIFY(batch.waitForFinished(120000));
        QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
        TPicture fromBatch;
        LoadPicture(bytesOf(out), fromBatch);
        QVERIFY(samePixels(fromBatch.Bitmap().Dib(), fromWizard));
    }

    // Match detail from the wizard gives the batch tool's --detail mosaic;
    // the match-error map, the figures and the missing colours read it.
    void detailMatchingThroughTheWindows()
    {
        const QString tool = QStringLiteral(TESSERIX_BINARY_DIR "/tesserix-cli");
        if (!QFileInfo(tool).isExecutable())
            QSKIP("the batch tool is not built (target tesserix-cli)");
        walkToOptions(12, 16, 20);
        QVERIFY(!Formnew->cbdetail->isChecked());
        QVERIFY(!Formnew->cbdetailgrid->isEnabled());
        QCOMPARE(Formnew->cbdetailgrid->currentText(), QStringLiteral("3 \u00d7 3"));
        QTest::mouseClick(Formnew->cbdetail, Qt::LeftButton);
        QVERIFY(Formnew->cbdetailgrid->isEnabled());
        Formnew->cbdetailgrid->setCurrentIndex(2);
        Formnew->useFixedRandomState(77u);
        finishAndRender();
        QCOMPARE(mosaicJob().detailGrid, 4);
        const TDIB fromWizard = mosaicCopy();

        const QString out = m_dir->filePath(QStringLiteral("batch.bmp"));
        QProcess batch;
        batch.start(tool, { QStringLiteral("make"), QStringLiteral("--source"), m_source, QStringLiteral("--images"),
                            m_pictures, QStringLiteral("--out"), out, QStringLiteral("--rows"), QStringLiteral("16"),
                            QStringLiteral("--cols"), QStringLiteral("20"), QStringLiteral("--cell-width"),
                            QStringLiteral("24"), QStringLiteral("--cell-height"), QStringLiteral("24"),
                            QStringLiteral("--detail"), QStringLiteral("4"), QStringLiteral("--seed"),
                            QStringLiteral("77"), QStringLiteral("--quiet") });
        QVERIFY(batch.waitForFinished(120000));
        QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
        TPicture fromBatch;
        LoadPicture(bytesOf(out), fromBatch);
        QVERIFY(samePixels(fromBatch.Bitmap().Dib(), fromWizard));

        // the map lies over the view; turning it off leaves the pixels alone
        auto* overlay = Form1->ddmainimg->findChild<QWidget*>(QStringLiteral("matchErrorOverlay"));
        QVERIFY(overlay && !overlay->isVisible());
        Form1->show();
        Form1->MatchError1->trigger();
        QVERIFY(overlay->isVisible());
        QCOMPARE(overlay->size(), Form1->ddmainimg->size());
        Form1->MatchError1->trigger();
        QVERIFY(!overlay->isVisible());
        QVERIFY(samePixels(mosaicCopy(), fromWizard));

        Form1->Stats1->trigger();
        QTest::mouseClick(Form7->btgetstat, Qt::LeftButton);
        QVERIFY(Form7->lbfigures->isVisible());
        QVERIFY2(Form7->lbfigures->text().contains(QStringLiteral("Fidelity: SSIM 0.")), qPrintable(Form7->lbfigures->text()));
        QVERIFY(!Form7->Memo1->toPlainText().contains(QStringLiteral("Match distance")));

        Form1->MissingColours1->trigger();
        QVERIFY(Form1->MissingColoursWindow->isVisible());
        QVERIFY(!Form1->MissingColoursWindow->lbsummary->text().isEmpty());
    }
};

TSX_WINDOW_TEST_MAIN(WizardFinishTest)
#include "wizard_finish_test.moc"
