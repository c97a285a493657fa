#include "app/ui/form7.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <mutex>
#include <optional>

#include "app/statistics.h"
#include "engine/fidelity.h"
#include "engine/mosaic_job.h"
#include "widgets/dialogs.h"
#include "wizard/session.h"

namespace tsx {

TForm7::TForm7(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_session(session)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Image File Usage Statistic"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    // long paths stay on one line; the memo scrolls both ways instead
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(Memo1, 1);

    // beside the memo, so the memo's text (and the file saved from it) stays
    // the statistic alone
    lbfigures = new QLabel(this);
    lbfigures->setObjectName(QStringLiteral("lbfigures"));
    lbfigures->setAccessibleName(QStringLiteral("Match Figures"));
    lbfigures->setWordWrap(true);
    lbfigures->setContentsMargins(8, 4, 8, 4);
    lbfigures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbfigures->hide();
    column->addWidget(lbfigures);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(54);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFrameShadow(QFrame::Raised);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(8, 8, 8, 8);
    auto button = [&](QPushButton*& target, const char* name, const char* text) {
        target = new QPushButton(QLatin1String(text), Panel1);
        target->setObjectName(QLatin1String(name));
        target->setAutoDefault(false);
        row->addWidget(target);
    };
    button(btgetstat, "btgetstat", "Start Stats");
    button(Button1, "Button1", "Save Text File");
    button(Button2, "Button2", "Close");
    column->addWidget(Panel1);

    connect(btgetstat, &QPushButton::clicked, this, &TForm7::btgetstatClick);
    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm7::Button2Click);

    // the client area of a 296 x 341 window with a thin frame and a title bar
    resize(288, 314);
}

void TForm7::btgetstatClick()
{
    runGuarded(this, [&] { fillStatistics(); });
}

void TForm7::Button1Click()
{
    runGuarded(this, [&] { saveText(); });
}

void TForm7::Button2Click() { hide(); }

void TForm7::fillStatistics()
{
    const MosaicJob& job = m_session.job;
    const UsageStatistics stats = usageStatistics(job.settings, job.placementGrid, m_session.imageList.paths());
    if (stats.outcome == UsageStatistics::Outcome::SelfMosaic) {
        showMessage(this, QString::fromUtf8(kSelfMosaicStatsMessage), QString::fromUtf8(kSelfMosaicStatsCaption));
        return;
    }
    QStringList lines;
    lines.reserve(qsizetype(stats.lines.size()));
    for (const std::string& line : stats.lines)
        lines << QString::fromLocal8Bit(line);
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    // the lines met before a missing entry stay; the message is the error
    if (stats.outcome == UsageStatistics::Outcome::IndexOutOfBounds) {
        lbfigures->hide();
        showMessage(this, QString::fromStdString(stats.message));
        return;
    }
    showFigures();
}

void TForm7::showFigures()
{
    MosaicJob& job = m_session.job;
    std::optional<Fidelity> fidelity;
    {
        const TDIB source = adjustedSource(job);
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        if (!source.IsEmpty() && !job.mosaicImage.IsEmpty())
            fidelity = mosaicFidelity(job.mosaicImage, source, job.settings.rows, job.settings.cols);
    }
    QStringList lines;
    for (const std::string& line : matchFigureLines(matchFigures(job.settings, job.placementGrid),
                                                    fidelity ? &*fidelity : nullptr))
        lines << QString::fromStdString(line);
    lbfigures->setText(lines.join(QLatin1Char('\n')));
    lbfigures->show();
}

void TForm7::saveText()
{
    const QString fileName =
        getSaveFileName(this, QStringLiteral("Save Text File"), QString::fromLatin1(kStatsTextFilter),
                        QStringLiteral("txt"));
    if (fileName.isEmpty())
        return;
    saveTextFile(QFile::encodeName(fileName).toStdString(), Memo1->toPlainText().toLocal8Bit().toStdString());
}

}  // namespace tsx
