// Save Image from the main window: the kinds of file, the options dialog and
// the background write of a large mosaic.
#include <cstring>
#include <mutex>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <tiffio.h>

#include "app/ui/printform.h"
#include "app/ui/save_image.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "widgets/dialogs.h"

using namespace tsx;
using tsx::testing::bytesOf;

namespace {

void setMosaic(const TDIB& dib)
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    mosaicJob().mosaicImage = dib;
}

}  // namespace

class SaveImageWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup() { testing::endProgram(); }

    void bitmapStaysFirstAndTheDefaultAndKeepsItsBytes()
    {
        QTemporaryDir dir;
        const TDIB mosaic = testing::noise(301, 77, 5);
        setMosaic(mosaic);
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(dir.filePath(QStringLiteral("m.bmp")));
        Form1->btsaveimg->click();
        QCOMPARE(dialogs.fileRequests.size(), size_t(1));
        const FileRequest& request = dialogs.fileRequests[0];
        QCOMPARE(request.filters,
                 (QStringList{ QStringLiteral("24-bit Bitmap (*.bmp *.dib)"), QStringLiteral("PNG Image (*.png)"),
                               QStringLiteral("JPEG Image (*.jpg *.jpeg)"), QStringLiteral("TIFF Image (*.tif *.tiff)") }));
        QCOMPARE(request.defaultSuffix, QStringLiteral("bmp"));
        QVERIFY(request.suffixFollowsFilter);
        QVERIFY(dialogs.dialogs.empty());  // a bitmap has nothing to choose
        mosaic.WriteBmp(bytesOf(dir.filePath(QStringLiteral("direct.bmp"))));
        QVERIFY(readWholeFile(bytesOf(dir.filePath(QStringLiteral("m.bmp")))) ==
                readWholeFile(bytesOf(dir.filePath(QStringLiteral("direct.bmp")))));

        // cancelling the options writes nothing
        dialogs.fileAnswers.push_back(dir.filePath(QStringLiteral("m.jpg")));
        dialogs.onDialog = [](QDialog&) { return false; };
        Form1->SaveImage1->trigger();
        QCOMPARE(dialogs.dialogs.size(), size_t(1));
        QCOMPARE(dialogs.dialogs[0], QStringLiteral("SaveImageOptions"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("m.jpg"))));
        QVERIFY(dialogs.messages.empty());
    }

    void largeTiffIsWrittenInTheBackgroundWithTheChosenResolution()
    {
        QTemporaryDir dir;
        // above the background threshold: 2600 x 2200 pixels, 17 MB
        TDIB mosaic = testing::solid(2600, 2200, 10, 120, 240);
        std::memset(mosaic.RowPointer(0), 0, 3 * 100);  // a black start of the top row
        setMosaic(mosaic);
        QVERIFY(mosaic.Size() >= kBackgroundSaveBytes);
        Printform->seidpi->setValue(300);

        ScriptedDialogs dialogs;
        const QString path = dir.filePath(QStringLiteral("poster.tif"));
        dialogs.fileAnswers.push_back(path);
        int shownDpi = 0;
        dialogs.onDialog = [&](QDialog& dialog) {
            auto& options = static_cast<SaveImageOptionsDialog&>(dialog);
            shownDpi = options.dpi->value();
            options.compression->setCurrentIndex(2);  // LZW
            return true;
        };
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(5);
        int highest = 0;
        connect(Form1->pb2, &QProgressBar::valueChanged, [&](int v) { highest = std::max(highest, v); });
        QElapsedTimer clock;
        clock.start();
        Form1->btsaveimg->click();
        QVERIFY(clock.elapsed() < 1000);  // the click returns while the file is written
        QCOMPARE(shownDpi, 300);
        QVERIFY(!Form1->btsaveimg->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Form1->btsaveimg->isEnabled(), 60000);
        ticker.stop();
        QVERIFY(dialogs.messages.empty());
        QVERIFY(ticks > 0);
        QVERIFY(highest > 0);
        QCOMPARE(Form1->pb2->value(), 0);

        TIFF* tif = TIFFOpen(bytesOf(path).c_str(), "r");
        QVERIFY(tif);
        uint16_t compression = 0;
        float xres = 0;
        uint32_t width = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        QCOMPARE(compression, uint16_t(COMPRESSION_LZW));
        QCOMPARE(xres, 300.f);
        QCOMPARE(width, 2600u);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
        QCOMPARE(TIFFReadScanline(tif, row.data(), 0, 0), 1);
        QCOMPARE(int(row[0]), 0);
        QCOMPARE(int(row[300]), 240);  // red of pixel 100
        QCOMPARE(int(row[302]), 10);
        TIFFClose(tif);
    }

    void aFailedBackgroundSaveShowsItsMessage()
    {
        QTemporaryDir dir;
        setMosaic(testing::solid(2600, 2200, 1, 2, 3));
        const QString path = dir.filePath(QStringLiteral("gone/m.png"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        Form1->btsaveimg->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages.size(), size_t(1), 60000);
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot create file %1").arg(path));
        QVERIFY(Form1->btsaveimg->isEnabled());
    }

    void closingTheProgramDuringASaveStopsItAndLeavesNoFile()
    {
        QTemporaryDir dir;
        setMosaic(testing::solid(2600, 2200, 7, 8, 9));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(dir.filePath(QStringLiteral("late.png")));
        Form1->btsaveimg->click();
        QVERIFY(!Form1->btsaveimg->isEnabled());
        destroyForms();  // the window goes while its file is being written
        QCoreApplication::processEvents();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(dialogs.messages.empty());
    }
};

TSX_WINDOW_TEST_MAIN(SaveImageWindowTest)
#include "save_image_window_test.moc"
