#include "app/ui/cell_panel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "widgets/picture_preview.h"

namespace tsx {

CellPanel::CellPanel(QWidget* parent)
    : QDockWidget(QStringLiteral("Cell"), parent)
{
    setObjectName(QStringLiteral("CellPanel"));
    setAccessibleName(QStringLiteral("Cell"));
    setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    preview = new PicturePreview(body);
    preview->setAccessibleName(QStringLiteral("Cell Picture"));
    column->addWidget(preview, 0, Qt::AlignHCenter);

    auto* form = new QFormLayout;
    auto label = [&](QLabel*& target, const char* name, const char* caption) {
        target = new QLabel(body);
        target->setObjectName(QLatin1String(name));
        target->setAccessibleName(QLatin1String(caption));
        target->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QLatin1String(caption) + QLatin1Char(':'), target);
    };
    label(cellLabel, "cellLabel", "Cell");
    label(pathLabel, "pathLabel", "File");
    pathLabel->setWordWrap(true);
    label(signatureLabel, "signatureLabel", "Signature");
    swatch = new QLabel(body);
    swatch->setObjectName(QStringLiteral("swatch"));
    swatch->setFixedSize(16, 16);
    swatch->setAutoFillBackground(true);
    colourLabel = new QLabel(body);
    colourLabel->setObjectName(QStringLiteral("colourLabel"));
    colourLabel->setAccessibleName(QStringLiteral("Cell Colour"));
    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(swatch);
    colourRow->addWidget(colourLabel, 1);
    form->addRow(QStringLiteral("Cell Colour:"), colourRow);
    label(distanceLabel, "distanceLabel", "Distance");
    column->addLayout(form);

    showInFolder = new QPushButton(QStringLiteral("Show in Folder"), body);
    showInFolder->setObjectName(QStringLiteral("showInFolder"));
    showInFolder->setAccessibleName(QStringLiteral("Show in Folder"));
    column->addWidget(showInFolder);
    column->addStretch(1);
    setWidget(body);
    connect(showInFolder, &QPushButton::clicked, this, &CellPanel::showInFolderClick);

    openFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
}

void CellPanel::showDetails(const CellDetails& d)
{
    m_details = d;
    QString cell = QStringLiteral("%1, %2").arg(d.col).arg(d.row);
    if (d.locked)
        cell += QStringLiteral(" (locked)");
    if (d.selected > 1)
        cell += QStringLiteral(" - %1 cells selected").arg(d.selected);
    cellLabel->setText(cell);
    pathLabel->setText(d.path.isEmpty() ? QStringLiteral("(none)") : d.path);
    signatureLabel->setText(d.signature.isEmpty() ? QStringLiteral("(none)") : d.signature);
    colourLabel->setText(d.colourKnown ? d.cellColour : QStringLiteral("(unknown)"));
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, d.colourKnown ? QColor(d.red, d.green, d.blue) : palette.color(QPalette::Base));
    swatch->setPalette(palette);
    distanceLabel->setText(d.distance >= 0 ? QString::number(d.distance) : QStringLiteral("(unknown)"));
    showInFolder->setEnabled(!d.path.isEmpty());
    if (preview->property("shownPath").toString() != d.path) {
        preview->setProperty("shownPath", d.path);
        preview->showFile(d.path);
    }
}

void CellPanel::showInFolderClick()
{
    if (m_details.path.isEmpty() || !openFolder)
        return;
    openFolder(QFileInfo(m_details.path).absolutePath());
}

}  // namespace tsx
