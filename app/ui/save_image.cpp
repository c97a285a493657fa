#include "app/ui/save_image.h"

#include <algorithm>
#include <mutex>
#include <new>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QProgressBar>
#include <QSpinBox>
#include <QPushButton>
#include <QToolButton>

#include "app/print_layout.h"
#include "app/ui/form1.h"
#include "app/ui/printform.h"
#include "engine/mosaic_job.h"
#include "widgets/dialogs.h"
#include "wizard/session.h"

namespace tsx {

SaveImageOptionsDialog::SaveImageOptionsDialog(QWidget* parent, ImageFileKind kind, int dpiValue)
    : QDialog(parent), m_kind(kind)
{
    setObjectName(QStringLiteral("SaveImageOptions"));
    auto* form = new QFormLayout(this);
    if (kind == ImageFileKind::Jpeg) {
        setWindowTitle(QStringLiteral("JPEG Options"));
        quality = new QSpinBox(this);
        quality->setObjectName(QStringLiteral("quality"));
        quality->setAccessibleName(QStringLiteral("Quality"));
        quality->setRange(1, 100);
        quality->setValue(ImageWriteOptions{}.jpegQuality);
        form->addRow(QStringLiteral("&Quality:"), quality);
        subsampled = new QCheckBox(QStringLiteral("&Smaller File, Colour at Half Resolution"), this);
        subsampled->setObjectName(QStringLiteral("subsampled"));
        subsampled->setAccessibleName(QStringLiteral("Colour at Half Resolution"));
        form->addRow(subsampled);
    } else {
        setWindowTitle(QStringLiteral("TIFF Options"));
        dpi = new QSpinBox(this);
        dpi->setObjectName(QStringLiteral("dpi"));
        dpi->setAccessibleName(QStringLiteral("Resolution"));
        dpi->setRange(kMinImageDpi, kMaxImageDpi);
        dpi->setSuffix(QStringLiteral(" dpi"));
        dpi->setValue(dpiValue);
        form->addRow(QStringLiteral("&Resolution:"), dpi);
        compression = new QComboBox(this);
        compression->setObjectName(QStringLiteral("compression"));
        compression->setAccessibleName(QStringLiteral("Compression"));
        compression->addItems({ QStringLiteral("None"), QStringLiteral("Deflate"), QStringLiteral("LZW") });
        form->addRow(QStringLiteral("&Compression:"), compression);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

ImageWriteOptions SaveImageOptionsDialog::options() const
{
    ImageWriteOptions o;
    o.kind = m_kind;
    if (quality)
        o.jpegQuality = quality->value();
    if (subsampled)
        o.jpegSubsampled = subsampled->isChecked();
    if (dpi)
        o.dpi = dpi->value();
    if (compression) {
        static constexpr TiffCompression kinds[] = { TiffCompression::None, TiffCompression::Deflate,
                                                     TiffCompression::Lzw };
        o.tiffCompression = kinds[std::clamp(compression->currentIndex(), 0, 2)];
    }
    return o;
}

ImageSaver::~ImageSaver()
{
    m_stop = true;
    join();
}

void ImageSaver::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void ImageSaver::start(TDIB mosaic, std::string fileName, ImageWriteOptions options)
{
    join();
    m_stop = false;
    m_done = false;
    m_thread = std::thread([this, mosaic = std::move(mosaic), fileName = std::move(fileName), options] {
        bool ok = false;
        QString error;
        try {
            int shown = -1;
            ok = writeImageFile(mosaic, fileName, options, [this, &shown](int percent) {
                if (percent != shown)
                    emit progressed(percent);
                shown = percent;
                return !m_stop.load();
            });
        } catch (const std::bad_alloc&) {
            error = QStringLiteral("Out of memory");
        } catch (const std::exception& ex) {
            error = QString::fromUtf8(ex.what());
        }
        m_done = true;
        if (!m_stop.load())
            emit ended(ok, error);
    });
}

namespace {

ImageSaver& saverOf(TForm1& window)
{
    if (auto* saver = window.findChild<ImageSaver*>(QString(), Qt::FindDirectChildrenOnly))
        return *saver;
    // The saver itself receives what its thread tells, so nothing told is
    // left waiting for a window that has gone: the thread ends before the saver.
    auto* saver = new ImageSaver(&window);
    QObject::connect(saver, &ImageSaver::progressed, saver, [&window](int percent) { window.pb2->setValue(percent); });
    QObject::connect(saver, &ImageSaver::ended, saver, [&window](bool ok, const QString& error) {
        window.pb2->setValue(0);
        window.btsaveimg->setEnabled(!window.isRendering());
        window.SaveImage1->setEnabled(!window.isRendering());
        if (!ok && !error.isEmpty())
            showMessage(&window, error);
    });
    return *saver;
}

}  // namespace

void saveImageFromWindow(TForm1& window)
{
    if (window.isRendering() || saverOf(window).busy())
        return;
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = QString::fromLatin1(kSaveImageTitle);
    request.filters = toQtFilters(QString::fromLatin1(kSaveImageFilter));
    request.defaultSuffix = QStringLiteral("bmp");
    request.suffixFollowsFilter = true;
    const QString chosen = dialogService().fileName(&window, request);
    if (chosen.isEmpty())
        return;
    const std::string fileName = QFile::encodeName(chosen).toStdString();

    // any name but these is written as a bitmap, as it always was
    ImageWriteOptions options;
    options.kind = imageFileKindFor(fileName).value_or(ImageFileKind::Bmp);
    if (options.kind == ImageFileKind::Jpeg || options.kind == ImageFileKind::Tiff) {
        const int dpi = window.Printform ? limitImageDpiOnLeave(window.Printform->seidpi->value()) : kDefaultImageDpi;
        SaveImageOptionsDialog dialog(&window, options.kind, dpi);
        if (!dialogService().runDialog(dialog))
            return;
        options = dialog.options();
    }

    TDIB mosaic;
    {
        // shares the pixels: a later change to the window's raster copies them first
        std::lock_guard<std::mutex> lock(window.session().job.mosaicImageLock);
        mosaic = window.session().job.mosaicImage;
    }
    if (mosaic.Size() < kBackgroundSaveBytes) {
        writeImageFile(mosaic, fileName, options);
        return;
    }
    const std::string problem = imageLimitProblem(options.kind, mosaic.Width(), mosaic.Height(), fileName);
    if (!problem.empty()) {
        showMessage(&window, QString::fromUtf8(problem));
        return;
    }
    window.btsaveimg->setEnabled(false);
    window.SaveImage1->setEnabled(false);
    window.pb2->setValue(0);
    saverOf(window).start(std::move(mosaic), fileName, options);
}

}  // namespace tsx
