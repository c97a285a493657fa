#include "widgets/picture_preview.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "imageio/picture.h"
#include "raster/ui/dxpaintbox.h"

namespace tsx {

namespace {
// Files beyond this are not decoded just to be glanced at while browsing.
constexpr qint64 kMaxPreviewFileBytes = qint64(64) << 20;
}  // namespace

QString previewCaption(int width, int height, bool loaded)
{
    if (!loaded)
        return QStringLiteral("(None)");
    return QStringLiteral(" (%1x%2)").arg(width).arg(height);
}

PicturePreview::PicturePreview(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("picturePreview"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 0, 0);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setFixedSize(156, 156);
    m_box = new TDXPaintBox(frame);
    m_box->setObjectName(QStringLiteral("previewBox"));
    m_box->setAutoStretch(true);
    m_box->setCenter(true);
    m_box->setGeometry(3, 3, 150, 150);
    m_caption = new QLabel(previewCaption(0, 0, false), this);
    m_caption->setObjectName(QStringLiteral("previewCaption"));
    m_caption->setAlignment(Qt::AlignHCenter);
    column->addWidget(frame);
    column->addWidget(m_caption);
    column->addStretch(1);
}

void PicturePreview::showFile(const QString& fileName)
{
    TPicture picture;
    bool loaded = false;
    const QFileInfo info(fileName);
    if (info.isFile() && info.size() <= kMaxPreviewFileBytes) {
        try {
            LoadPicture(QFile::encodeName(fileName).toStdString(), picture);
            loaded = true;
        } catch (...) {
            // not a picture we can read: the pane says so instead
        }
    }
    if (loaded)
        m_box->DIB().AssignFrom(picture.Graphic());
    else
        m_box->DIB().MakeEmpty();
    m_box->update();
    m_caption->setText(previewCaption(picture.Width(), picture.Height(), loaded));
}

QString PicturePreview::caption() const { return m_caption->text(); }

PicturePreview* PicturePreview::attachTo(QFileDialog& dialog)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid)
        return nullptr;  // a native dialog has no room for it
    auto* preview = new PicturePreview(&dialog);
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, &PicturePreview::showFile);
    return preview;
}

}  // namespace tsx
