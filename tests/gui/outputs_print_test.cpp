// The printer setup window: its controls and limits, the figures it shows
// for a printer of a known resolution, and a page printed into a PDF file
// that shows the mosaic in the rectangle the figures give.
#include <mutex>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/printform.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"

using namespace tsx;

namespace {

// A PDF writer that stands for a printer of the given resolution; pages
// have no unprintable border, so a margin is measured from the page corner.
std::unique_ptr<QPrinter> pdfPrinter(int dpi)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setResolution(dpi);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    return printer;
}

void setMosaic(int width, int height, int cellWidth, int cellHeight)
{
    Form1->sizeMosaic(width, height);
    mosaicJob().settings.cellWidth = cellWidth;
    mosaicJob().settings.cellHeight = cellHeight;
}

struct Rgb {
    int red, green, blue;
};

// Four quadrants of different colours.
const Rgb kQuadrants[4] = { { 220, 30, 30 }, { 30, 200, 40 }, { 40, 60, 230 }, { 240, 220, 20 } };

void paintQuadrants(int width, int height)
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    TDIB& dib = mosaicJob().mosaicImage;
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            const Rgb& c = kQuadrants[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
            p[0] = uint8_t(c.blue);
            p[1] = uint8_t(c.green);
            p[2] = uint8_t(c.red);
        }
    }
}

bool near(QRgb pixel, const Rgb& c, int tolerance = 2)
{
    return std::abs(qRed(pixel) - c.red) <= tolerance && std::abs(qGreen(pixel) - c.green) <= tolerance &&
           std::abs(qBlue(pixel) - c.blue) <= tolerance;
}

const Rgb kWhite{ 255, 255, 255 };

}  // namespace

class OutputsPrintTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        testing::startProgram();
    }
    void cleanup()
    {
        testing::endProgram();
    }

    void figuresOfA1024PixelMosaicOnA600DpiPrinter()
    {
        Printform->setPrinter(pdfPrinter(600));
        setMosaic(1024, 1024, 48, 48);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("unknown"));
        QTest::mouseClick(Form1->SpeedButton2, Qt::LeftButton);
        QVERIFY(Printform->isVisible());
        QCOMPARE(Printform->Lpres->text(), QStringLiteral("600 X 600"));
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("6.83 x 6.83"));
        QCOMPARE(Printform->lpcsize->text(), QStringLiteral("0.32 x 0.32"));
        QCOMPARE(Printform->printRect, (TRect{ 300, 300, 4396, 4396 }));

        // half the image resolution, twice the printed size
        Printform->seidpi->setValue(75);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("13.65 x 13.65"));
        QCOMPARE(Printform->lpcsize->text(), QStringLiteral("0.64 x 0.64"));
        QCOMPARE(Printform->printRect, (TRect{ 300, 300, 8492, 8492 }));

        // closing keeps the settings for the next time
        QTest::mouseClick(Printform->Button2, Qt::LeftButton);
        QVERIFY(!Printform->isVisible());
        Form1->Print1->trigger();
        QCOMPARE(Printform->seidpi->value(), 75);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("13.65 x 13.65"));
    }

    void marginsRoundHalvesToTheEvenDot()
    {
        Printform->setPrinter(pdfPrinter(75));
        setMosaic(300, 300, 30, 30);
        Printform->spleft->setValue(1.5);
        Printform->show();
        QCOMPARE(Printform->printRect, (TRect{ 112, 38, 262, 188 }));
    }

    void qualityAndOrientationReachThePrinter()
    {
        Printform->setPrinter(pdfPrinter(100));
        Printform->show();
        // nothing chosen: the printer's own resolution stays
        QCOMPARE(Printform->Lpres->text(), QStringLiteral("100 X 100"));
        Printform->cbPQ->setCurrentIndex(1);
        QCOMPARE(Printform->cbPQ->currentText(), QStringLiteral("Normal"));
        QCOMPARE(Printform->Lpres->text(), QStringLiteral("600 X 600"));
        Printform->cbPQ->setCurrentIndex(0);
        QCOMPARE(Printform->Lpres->text(), QStringLiteral("1200 X 1200"));
        Printform->cbPQ->setCurrentIndex(3);
        QCOMPARE(Printform->Lpres->text(), QStringLiteral("150 X 150"));

        QCOMPARE(Printform->printer().pageLayout().orientation(), QPageLayout::Portrait);
        QTest::mouseClick(Printform->rbl, Qt::LeftButton);
        QCOMPARE(Printform->printer().pageLayout().orientation(), QPageLayout::Landscape);
        QTest::mouseClick(Printform->rbp, Qt::LeftButton);
        QCOMPARE(Printform->printer().pageLayout().orientation(), QPageLayout::Portrait);
    }

    void marginStepsStayWithinTheirRange()
    {
        Printform->setPrinter(pdfPrinter(600));
        Printform->show();
        MarginSpinBox* top = Printform->spTop;
        QTest::keyClick(top, Qt::Key_Up);
        QCOMPARE(top->value(), 0.51);
        QTest::keyClick(top, Qt::Key_PageUp);
        QCOMPARE(top->value(), 1.51);
        QTest::keyClick(top, Qt::Key_PageDown);
        QTest::keyClick(top, Qt::Key_PageDown);
        QCOMPARE(top->value(), 0.51);  // a step below 0 is refused
        top->setValue(9.6);
        QTest::keyClick(top, Qt::Key_PageUp);
        QCOMPARE(top->value(), 9.6);
        top->setValue(9.99);
        QTest::keyClick(top, Qt::Key_Up);
        QCOMPARE(top->value(), 10.0);
        QTest::keyClick(top, Qt::Key_Up);
        QCOMPARE(top->value(), 10.0);

        MarginSpinBox* left = Printform->spleft;
        QTest::keyClick(left, Qt::Key_Up);
        QCOMPARE(left->value(), 1.5);
        QTest::keyClick(left, Qt::Key_PageUp);
        QCOMPARE(left->value(), 1.5);
        QTest::keyClick(left, Qt::Key_Down);
        QTest::keyClick(left, Qt::Key_Down);
        QCOMPARE(left->value(), 0.5);

        // typed values above 10 come back to 10
        left->selectAll();
        QTest::keyClicks(left, QStringLiteral("12"));
        QCOMPARE(left->value(), 10.0);
        top->selectAll();
        QTest::keyClicks(top, QStringLiteral("12"));
        QCOMPARE(top->value(), 12.0);
        QTest::keyClick(top, Qt::Key_Enter);
        QCOMPARE(top->value(), 10.0);
    }

    void imageResolutionStaysWithin50And1200()
    {
        Printform->setPrinter(pdfPrinter(600));
        setMosaic(1024, 1024, 48, 48);
        Printform->show();
        ImageDpiSpinBox* dpi = Printform->seidpi;
        dpi->setFocus();
        dpi->selectAll();
        QTest::keyClicks(dpi, QStringLiteral("20"));
        QTest::keyClick(dpi, Qt::Key_Enter);
        QCOMPARE(dpi->value(), 50);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("20.48 x 20.48"));
        QTest::keyClick(dpi, Qt::Key_Down);
        QCOMPARE(dpi->value(), 50);

        // a typed 5000 holds while the box is being edited, 1200 once left
        dpi->selectAll();
        QTest::keyClicks(dpi, QStringLiteral("5000"));
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("0.20 x 0.20"));
        QTest::keyClick(dpi, Qt::Key_Enter);
        QCOMPARE(dpi->value(), 1200);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("0.85 x 0.85"));
        QTest::keyClick(dpi, Qt::Key_Up);
        QCOMPARE(dpi->value(), 1200);
        QTest::keyClick(dpi, Qt::Key_Down);
        QCOMPARE(dpi->value(), 1199);
    }

    void aMarginThatIsNoNumberStopsTheRefreshAndThePrint()
    {
        Printform->setPrinter(pdfPrinter(600));
        setMosaic(1024, 1024, 48, 48);
        Printform->show();
        const TRect before = Printform->printRect;
        ScriptedDialogs dialogs;
        QTemporaryDir dir;
        dialogs.fileAnswers.push_back(dir.filePath(QStringLiteral("page.pdf")));
        Printform->spTop->selectAll();
        QTest::keyClick(Printform->spTop, Qt::Key_Backspace);
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("'' is not a valid floating point value"));
        // the figures are brought up to date before the margins are read
        Printform->seidpi->setValue(75);
        QCOMPARE(Printform->lpisize->text(), QStringLiteral("13.65 x 13.65"));
        QCOMPARE(Printform->printRect, before);

        Printform->Button1Click();
        QVERIFY(dialogs.fileRequests.empty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("page.pdf"))));
    }

    void printedPageShowsTheMosaicInTheComputedRectangle()
    {
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed: the printed page cannot be looked at");
        // 100 dots per inch, margins 0.5 and 1.5 inches, 50 image pixels per
        // inch: a 200 x 100 mosaic covers dots 150..550 x 50..250
        Printform->setPrinter(pdfPrinter(100));
        setMosaic(200, 100, 10, 10);
        paintQuadrants(200, 100);
        Printform->show();
        Printform->seidpi->setValue(50);
        Printform->spleft->setValue(1.5);

        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(pdf);
        QTest::mouseClick(Printform->Button1, Qt::LeftButton);
        QVERIFY2(dialogs.messages.empty(), dialogs.messages.empty() ? "" : qPrintable(dialogs.messages[0].text));
        QCOMPARE(dialogs.fileRequests.size(), size_t(1));
        QCOMPARE(dialogs.fileRequests[0].filters, QStringList{ QStringLiteral("PDF File (*.pdf)") });
        QCOMPARE(Printform->printRect, (TRect{ 150, 50, 550, 250 }));
        QVERIFY(QFile::exists(pdf));
        QVERIFY(Printform->isVisible());

        const QString png = dir.filePath(QStringLiteral("page"));
        QCOMPARE(QProcess::execute(pdftoppm, { QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-png"),
                                                QStringLiteral("-singlefile"), pdf, png }),
                 0);
        const QImage page(png + QStringLiteral(".png"));
        QVERIFY(!page.isNull());
        QCOMPARE(page.size(), QSize(827, 1170));  // A4 at 100 dpi
        // quadrant centres, the corners just inside, and the page around
        QVERIFY(near(page.pixel(250, 100), kQuadrants[0]));
        QVERIFY(near(page.pixel(450, 100), kQuadrants[1]));
        QVERIFY(near(page.pixel(250, 200), kQuadrants[2]));
        QVERIFY(near(page.pixel(450, 200), kQuadrants[3]));
        QVERIFY(near(page.pixel(151, 51), kQuadrants[0]));
        QVERIFY(near(page.pixel(548, 248), kQuadrants[3]));
        QVERIFY(near(page.pixel(148, 100), kWhite));
        QVERIFY(near(page.pixel(552, 100), kWhite));
        QVERIFY(near(page.pixel(300, 48), kWhite));
        QVERIFY(near(page.pixel(300, 252), kWhite));

        const QString nowhere = dir.filePath(QStringLiteral("gone/page.pdf"));
        dialogs.fileAnswers.push_back(nowhere);
        Printform->Button1->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot create file %1").arg(nowhere));
    }

    void bandsTileTheRectangleAsOneNearestPixelStretch()
    {
        // every pixel differs; 9 rows into 27 and 10 columns into 20, drawn
        // in bands of 2 rows, must equal the whole stretch drawn at once
        TDIB raster;
        raster.Allocate(10, 9, 24);
        for (int y = 0; y < 9; ++y) {
            uint8_t* p = raster.RowPointer(y);
            for (int x = 0; x < 10; ++x, p += 3) {
                p[0] = uint8_t(x * 25);
                p[1] = uint8_t(y * 28);
                p[2] = uint8_t(x * y * 3);
            }
        }
        const TRect target{ 3, 5, 23, 32 };
        QImage banded(40, 40, QImage::Format_RGB32);
        banded.fill(Qt::white);
        {
            QPainter painter(&banded);
            drawRasterBands(painter, raster, target, 2);
        }
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x) {
                const bool inside = x >= 3 && x < 23 && y >= 5 && y < 32;
                QRgb expected = qRgb(255, 255, 255);
                if (inside) {
                    const uint8_t* p = raster.ScanLine((y - 5) / 3) + (x - 3) / 2 * 3;
                    expected = qRgb(p[2], p[1], p[0]);
                }
                QVERIFY2(banded.pixel(x, y) == expected, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }
};

TSX_WINDOW_TEST_MAIN(OutputsPrintTest)
#include "outputs_print_test.moc"
