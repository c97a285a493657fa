#include "app/ui/missing_colours_window.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/statistics.h"
#include "engine/missing_colours.h"
#include "wizard/session.h"

namespace tsx {

TMissingColours::TMissingColours(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_session(session)
{
    setObjectName(QStringLiteral("MissingColours"));
    setWindowTitle(QStringLiteral("Missing Colours"));
    auto* column = new QVBoxLayout(this);
    lbsummary = new QLabel(this);
    lbsummary->setObjectName(QStringLiteral("lbsummary"));
    lbsummary->setWordWrap(true);
    column->addWidget(lbsummary);
    lscolours = new QListWidget(this);
    lscolours->setObjectName(QStringLiteral("lscolours"));
    lscolours->setAccessibleName(QStringLiteral("Missing Colours"));
    lscolours->setIconSize(QSize(48, 24));
    column->addWidget(lscolours, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setAccessibleName(QStringLiteral("Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::hide);
    column->addWidget(buttons);
    resize(420, 320);
}

void TMissingColours::refresh()
{
    const MosaicJob& job = m_session.job;
    lscolours->clear();
    if (job.settings.selfMosaic) {
        lbsummary->setText(QStringLiteral("A self mosaic draws every cell from the source picture."));
        return;
    }
    const std::vector<ColourGap> gaps = missingColours(job.settings, job.placementGrid, job.workingSignatures);
    lbsummary->setText(gaps.empty() ? QStringLiteral("No colour is missing: every cell has a close picture.")
                                    : QStringLiteral("Add pictures of these colours to serve the worst cells better:"));
    for (const ColourGap& gap : gaps) {
        QPixmap swatch(48, 24);
        swatch.fill(QColor(gap.red, gap.green, gap.blue));
        auto* item = new QListWidgetItem(QIcon(swatch), QString::fromStdString(colourGapLine(gap)), lscolours);
        item->setData(Qt::UserRole, QColor(gap.red, gap.green, gap.blue));
    }
}

}  // namespace tsx
