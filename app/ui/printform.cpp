#include "app/ui/printform.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ui/form1.h"
#include "engine/mosaic_job.h"
#include "raster/errors.h"
#include "widgets/dialogs.h"
#include "wizard/session.h"

namespace tsx {

namespace {

// The resolution a PDF page gets until a quality is chosen.
constexpr int kPdfResolution = 600;
// What the margin and resolution boxes let one type, beyond their ranges.
constexpr double kTypedMarginMax = 999.99;
constexpr int kTypedImageDpiMax = 99999;
// A band of the raster drawn at once holds about this many bytes.
constexpr int64_t kBandBytes = 2 << 20;

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// ---------------------------------------------------------------------------

MarginSpinBox::MarginSpinBox(double smallStep, double bigStep, QWidget* parent)
    : QDoubleSpinBox(parent)
    , m_bigStep(bigStep)
{
    // the figures and the layout use a point, whatever the desktop's language
    setLocale(QLocale::c());
    setDecimals(2);
    setRange(0, kTypedMarginMax);
    setSingleStep(smallStep);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    connect(lineEdit(), &QLineEdit::textChanged, this, &MarginSpinBox::editTextChanged);
}

bool MarginSpinBox::stepWithin(double delta)
{
    interpretText();
    const double target = std::round((value() + delta) * 100.0) / 100.0;
    if (target < 0 || target > kMaxMargin) {
        QApplication::beep();
        return false;
    }
    return true;
}

void MarginSpinBox::stepBy(int steps)
{
    if (stepWithin(steps * singleStep()))
        QDoubleSpinBox::stepBy(steps);
}

void MarginSpinBox::bigStepBy(int steps)
{
    const double delta = steps * m_bigStep;
    if (!stepWithin(delta))
        return;
    setValue(value() + delta);
    selectAll();
}

void MarginSpinBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        bigStepBy(event->key() == Qt::Key_PageUp ? 1 : -1);
        event->accept();
        return;
    }
    QDoubleSpinBox::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

ImageDpiSpinBox::ImageDpiSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setRange(kMinImageDpi, kTypedImageDpiMax);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void ImageDpiSpinBox::stepBy(int steps)
{
    interpretText();
    const int64_t target = int64_t(value()) + int64_t(steps) * singleStep();
    if (target < kMinImageDpi || target > kMaxImageDpi) {
        QApplication::beep();
        return;
    }
    QSpinBox::stepBy(steps);
}

QAbstractSpinBox::StepEnabled ImageDpiSpinBox::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (value() < kMaxImageDpi)
        enabled |= StepUpEnabled;
    if (value() > kMinImageDpi)
        enabled |= StepDownEnabled;
    return enabled;
}

void ImageDpiSpinBox::limitToRange()
{
    interpretText();
    if (value() != limitImageDpiOnLeave(value()))
        setValue(limitImageDpiOnLeave(value()));
}

// ---------------------------------------------------------------------------

void drawRasterBands(QPainter& painter, const TDIB& raster, const TRect& target, int bandRows)
{
    const int width = raster.Width();
    const int height = raster.Height();
    const int64_t targetWidth = int64_t(target.Right) - target.Left;
    const int64_t targetHeight = int64_t(target.Bottom) - target.Top;
    if (raster.IsEmpty() || targetWidth <= 0 || targetHeight <= 0)
        return;
    if (raster.BitCount() != 24) {
        TDIB converted = raster;
        converted.ChangeBitCount(24);
        drawRasterBands(painter, converted, target, bandRows);
        return;
    }
    const int64_t rowBytes = raster.WidthBytes();
    if (bandRows <= 0)
        bandRows = int(std::clamp<int64_t>(kBandBytes / rowBytes, 1, height));
    // rows may be stored bottom-up; a band is then drawn upside down
    const bool bottomUp = height > 1 && raster.ScanLine(1) < raster.ScanLine(0);

    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // a PDF page keeps the mosaic's pixels exactly instead of as JPEG
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        const int y1 = std::min(height, y0 + bandRows);
        // band edges land where the whole stretch puts them, so the bands
        // tile the rectangle without gaps or overlaps
        const int64_t top = target.Top + int64_t(y0) * targetHeight / height;
        const int64_t bottom = target.Top + int64_t(y1) * targetHeight / height;
        if (bottom == top)
            continue;
        const uint8_t* first = raster.ScanLine(bottomUp ? y1 - 1 : y0);
        const QImage band(first, width, y1 - y0, qsizetype(rowBytes), QImage::Format_BGR888);
        painter.save();
        if (bottomUp) {
            painter.translate(qreal(target.Left), qreal(bottom));
            painter.scale(1, -1);
        } else {
            painter.translate(qreal(target.Left), qreal(top));
        }
        painter.drawImage(QRectF(0, 0, qreal(targetWidth), qreal(bottom - top)), band);
        painter.restore();
    }
    painter.restore();
}

std::vector<int> qualityResolutions(const QPrinter& printer)
{
    std::vector<int> result;
    if (printer.outputFormat() == QPrinter::NativeFormat) {
        const QPrinterInfo info(printer);
        for (int dpi : info.supportedResolutions())
            if (dpi > 0)
                result.push_back(dpi);
    }
    if (result.empty())
        result = { 150, 300, 600, 1200 };
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

// ---------------------------------------------------------------------------

TPrintform::TPrintform(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint)
    , m_session(session)
{
    setObjectName(QStringLiteral("Printform"));
    setWindowTitle(QStringLiteral("Printer Setup"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    auto label = [](const char* text, QWidget* owner) { return new QLabel(QLatin1String(text), owner); };

    auto* top = new QHBoxLayout;
    GroupBox1 = new QGroupBox(QStringLiteral("Margins (inches)"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* margins = new QGridLayout(GroupBox1);
    spTop = new MarginSpinBox(0.01, 1, GroupBox1);
    spTop->setObjectName(QStringLiteral("spTop"));
    spTop->setValue(0.5);
    spleft = new MarginSpinBox(1, 10, GroupBox1);
    spleft->setObjectName(QStringLiteral("spleft"));
    spleft->setValue(0.5);
    margins->addWidget(label("Top", GroupBox1), 0, 0);
    margins->addWidget(spTop, 0, 1);
    margins->addWidget(label("Left", GroupBox1), 1, 0);
    margins->addWidget(spleft, 1, 1);
    top->addWidget(GroupBox1, 1);

    GroupBox2 = new QGroupBox(QStringLiteral("Orientation"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    auto* orientation = new QVBoxLayout(GroupBox2);
    rbp = new QRadioButton(QStringLiteral("Portait"), GroupBox2);
    rbp->setObjectName(QStringLiteral("rbp"));
    rbp->setChecked(true);
    rbl = new QRadioButton(QStringLiteral("Landscape"), GroupBox2);
    rbl->setObjectName(QStringLiteral("rbl"));
    orientation->addWidget(rbp);
    orientation->addWidget(rbl);
    top->addWidget(GroupBox2, 1);
    column->addLayout(top);

    GroupBox3 = new QGroupBox(QStringLiteral("Image Size and Quality"), this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    auto* quality = new QGridLayout(GroupBox3);
    cbPQ = new QComboBox(GroupBox3);
    cbPQ->setObjectName(QStringLiteral("cbPQ"));
    cbPQ->addItems({ QStringLiteral("Best "), QStringLiteral("Normal"), QStringLiteral("Fast Normal"),
                     QStringLiteral("Fast DRAFT") });
    // shows "Normal" with no item chosen: the printer keeps its own quality
    cbPQ->setPlaceholderText(QStringLiteral("Normal"));
    cbPQ->setCurrentIndex(-1);
    Lpres = new QLabel(QStringLiteral("unknown"), GroupBox3);
    Lpres->setObjectName(QStringLiteral("Lpres"));
    seidpi = new ImageDpiSpinBox(GroupBox3);
    seidpi->setObjectName(QStringLiteral("seidpi"));
    seidpi->setValue(kDefaultImageDpi);
    lpisize = new QLabel(QStringLiteral("unknown"), GroupBox3);
    lpisize->setObjectName(QStringLiteral("lpisize"));
    lpcsize = new QLabel(QStringLiteral("unknown"), GroupBox3);
    lpcsize->setObjectName(QStringLiteral("lpcsize"));
    quality->addWidget(label("Printer Quality", GroupBox3), 0, 0);
    quality->addWidget(cbPQ, 0, 1);
    quality->addWidget(label("Printer Resolution :", GroupBox3), 1, 0);
    quality->addWidget(Lpres, 1, 1);
    quality->addWidget(label("Image Resolution (dpi)", GroupBox3), 2, 0);
    quality->addWidget(seidpi, 2, 1);
    quality->addWidget(label("Output picture size (inches)", GroupBox3), 3, 0);
    quality->addWidget(lpisize, 3, 1);
    quality->addWidget(label("Printed Cell Size (inches)", GroupBox3), 4, 0);
    quality->addWidget(lpcsize, 4, 1);
    column->addWidget(GroupBox3);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button1 = new QPushButton(QStringLiteral("Print"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    btrenew = new QPushButton(QStringLiteral("btrenew"), this);
    btrenew->setObjectName(QStringLiteral("btrenew"));
    btrenew->hide();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    column->addLayout(buttons);

    // the top margin refreshes on every edit, so a box emptied while typing
    // is reported at once
    connect(spTop, &MarginSpinBox::editTextChanged, this, &TPrintform::btrenewClick);
    connect(spTop, &QDoubleSpinBox::editingFinished, this, &TPrintform::spTopExit);
    connect(spleft, &QDoubleSpinBox::valueChanged, this, &TPrintform::spleftChange);
    connect(spleft, &QDoubleSpinBox::editingFinished, this, &TPrintform::spTopExit);
    connect(rbp, &QRadioButton::clicked, this, &TPrintform::btrenewClick);
    connect(rbl, &QRadioButton::clicked, this, &TPrintform::btrenewClick);
    connect(cbPQ, &QComboBox::currentIndexChanged, this, &TPrintform::btrenewClick);
    connect(seidpi, &QSpinBox::valueChanged, this, &TPrintform::seidpiExit);
    connect(seidpi, &QSpinBox::editingFinished, this, [this] {
        seidpi->limitToRange();
        seidpiExit();
    });
    connect(Button1, &QPushButton::clicked, this, &TPrintform::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TPrintform::Button2Click);
    connect(btrenew, &QPushButton::clicked, this, &TPrintform::btrenewClick);

    // printing reads the whole mosaic, which a render is still drawing
    if (auto* main = qobject_cast<TForm1*>(parent))
        connect(main, &TForm1::renderingChanged, Button1, [this](bool rendering) { Button1->setEnabled(!rendering); });

    // 290 x 293 fits the controls in a small font; a larger desktop font
    // widens the window rather than cutting the labels
    const QSize needed = sizeHint().expandedTo(minimumSizeHint());
    setFixedSize(std::max(290, needed.width()), std::max(293, needed.height()));
}

TPrintform::~TPrintform()
{
    // Closing the window finishes an edit still open in a margin or the
    // resolution box; its signals must not refresh a window whose members
    // are already gone.
    for (QAbstractSpinBox* box : findChildren<QAbstractSpinBox*>())
        box->blockSignals(true);
}

QPrinter& TPrintform::printer()
{
    if (!m_printer) {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (!info.isNull()) {
            m_printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        } else {
            // no printer on this system: the page goes into a PDF file
            m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            m_printer->setOutputFormat(QPrinter::PdfFormat);
            m_printer->setResolution(kPdfResolution);
            m_printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        }
        m_printer->setDocName(QStringLiteral("PhotoMosaic"));
    }
    return *m_printer;
}

void TPrintform::setPrinter(std::unique_ptr<QPrinter> printer) { m_printer = std::move(printer); }

void TPrintform::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    btrenewClick();
}

void TPrintform::btrenewClick()
{
    runGuarded(this, [&] { refreshLayout(); });
}

void TPrintform::applyPrinterSettings(QPrinter& target)
{
    // quality levels best to draft pick the highest to the lowest resolution;
    // with no level chosen the printer keeps its own
    const int level = cbPQ->currentIndex();
    if (level >= 0 && level < cbPQ->count()) {
        const std::vector<int> resolutions = qualityResolutions(target);
        const int last = int(resolutions.size()) - 1;
        const int index = last - int(std::lround(double(last) * level / (cbPQ->count() - 1)));
        target.setResolution(resolutions[size_t(std::clamp(index, 0, last))]);
    }
    target.setPageOrientation(rbp->isChecked() ? QPageLayout::Portrait : QPageLayout::Landscape);
}

void TPrintform::refreshLayout()
{
    QPrinter& target = printer();
    applyPrinterSettings(target);
    printerDpiX = target.logicalDpiX();
    printerDpiY = target.logicalDpiY();
    imageDpi = parseImageDpi(seidpi->cleanText().toStdString());

    const TDIB& mosaic = m_session.job.mosaicImage;
    mosaicWidth = mosaic.Width();
    mosaicHeight = mosaic.Height();
    const MosaicSettings& s = m_session.job.settings;
    figures = computePrintFigures(printerDpiX, printerDpiY, imageDpi, mosaicWidth, mosaicHeight, s.cellWidth,
                                  s.cellHeight);
    Lpres->setText(fromUtf8(figures.resolutionText));
    lpisize->setText(fromUtf8(figures.pictureSizeText));
    lpcsize->setText(fromUtf8(figures.cellSizeText));

    // a margin that is not a number stops here: the figures above are shown
    // already and printRect keeps its last value
    const double topMargin = parseMargin(spTop->cleanText().toStdString());
    const double leftMargin = parseMargin(spleft->cleanText().toStdString());
    printRect = computePrintRect(topMargin, leftMargin, printerDpiX, printerDpiY, imageDpi, mosaicWidth,
                                 mosaicHeight);
}

void TPrintform::spTopExit()
{
    // both margin boxes come here when they are left
    for (MarginSpinBox* box : { spTop, spleft })
        if (box->value() > kMaxMargin)
            box->setValue(limitMargin(box->value()));
}

void TPrintform::spleftChange()
{
    if (spleft->value() > kMaxMargin)
        spleft->setValue(limitMargin(spleft->value()));
}

void TPrintform::seidpiExit()
{
    if (seidpi->value() < kMinImageDpi)
        seidpi->setValue(limitImageDpiOnChange(seidpi->value()));
    btrenewClick();
}

void TPrintform::Button1Click()
{
    runGuarded(this, [&] { printPage(); });
}

void TPrintform::Button2Click() { hide(); }

void TPrintform::printPage()
{
    if (auto* main = qobject_cast<TForm1*>(parentWidget()); main && main->isRendering())
        return;
    refreshLayout();
    QPrinter& target = printer();
    QString fileName;
    if (target.outputFormat() == QPrinter::PdfFormat) {
        fileName = getSaveFileName(this, QString::fromLatin1(kPdfTitle), QString::fromLatin1(kPdfFilter),
                                   QStringLiteral("pdf"));
        if (fileName.isEmpty())
            return;
        target.setOutputFileName(fileName);
    }
    QPainter painter;
    if (!painter.begin(&target)) {
        if (!fileName.isEmpty())
            throw EFCreateError(formatMessage(msg::kCannotCreate, QFile::encodeName(fileName).constData()));
        throw Error(formatMessage("The printer %s cannot start a print job",
                                  target.printerName().toLocal8Bit().constData()));
    }
    {
        std::lock_guard<std::mutex> lock(m_session.job.mosaicImageLock);
        drawRasterBands(painter, m_session.job.mosaicImage, printRect);
    }
    if (!painter.end())
        throw Error("The page could not be printed");
}

}  // namespace tsx
