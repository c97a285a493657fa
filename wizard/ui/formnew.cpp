#include "wizard/ui/formnew.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "engine/mosaic_job.h"
#include "raster/ui/dxpaintbox.h"

namespace tsx {

TFormnew::TFormnew(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Formnew"));
    setWindowTitle(QStringLiteral("Tesserix  ----  Load Main Image"));
    // TODO: the four steps; this holds only what the main window reaches
    plload = new QWidget(this);
    plload->setObjectName(QStringLiteral("plload"));
    auto* silver = new QWidget(plload);
    silver->setAutoFillBackground(true);
    QPalette palette = silver->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    silver->setPalette(palette);
    silver->setFixedSize(249, 177);
    ddprev1 = new TDXPaintBox(silver);
    ddprev1->setObjectName(QStringLiteral("ddprev1"));
    ddprev1->setAutoStretch(true);
    ddprev1->setCenter(true);
    ddprev1->setGeometry(0, 0, 249, 177);
    btnext1 = new QPushButton(QStringLiteral("Next"), plload);
    btnext1->setObjectName(QStringLiteral("btnext1"));
    btnext1->setEnabled(false);
    auto* page = new QVBoxLayout(plload);
    page->addWidget(silver);
    page->addWidget(btnext1, 0, Qt::AlignRight);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plload);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFormnew::startWizard()
{
    setWindowTitle(QStringLiteral("Tesserix  ----  Load Main Image"));
    plload->show();
    show();
    raise();
    btresetClick();
}

void TFormnew::resetSourcePreview()
{
    ddprev1->DIB().AssignFrom(&mosaicJob().sourcePicture);
    ddprev1->update();
    btnext1->setEnabled(false);
}

void TFormnew::btresetClick()
{
    MosaicSettings& settings = mosaicJob().settings;
    settings.sourceRedAdjust = 0;
    settings.sourceGreenAdjust = 0;
    settings.sourceBlueAdjust = 0;
    settings.sourceMono = false;
    ddprev1->DIB().AssignFrom(&mosaicJob().sourcePicture);
    ddprev1->update();
}

}  // namespace tsx
