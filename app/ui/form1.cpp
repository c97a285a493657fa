#include "app/ui/form1.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <new>

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/project_file.h"
#include "app/ui/cell_editor.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "app/ui/form7.h"
#include "app/ui/match_error_overlay.h"
#include "app/ui/missing_colours_window.h"
#include "app/ui/icons.h"
#include "app/ui/printform.h"
#include "app/ui/project_io.h"
#include "app/ui/render_thread.h"
#include "app/ui/save_image.h"
#include "engine/mosaic_job.h"
#include "raster/errors.h"
#include "raster/ui/dxpaintbox.h"
#include "tesserix_version.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"
#include "wizard/ui/formnew.h"

namespace tsx {

namespace {
const QColor kSilver(192, 192, 192);

// Overview repaints during a render are at least this far apart, and at
// least this many times as far as the last one took, so the UI thread stays
// free for the user.
constexpr qint64 kOverviewMinGapMs = 200;
constexpr qint64 kOverviewCostFactor = 2;
constexpr int kRepaintIntervalMs = 40;

QFrame* bevel(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedHeight(30);
    return line;
}
}  // namespace

TForm1::TForm1(Session& session, QWidget* parent)
    : QMainWindow(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tesserix %1").arg(QLatin1String(kVersion)));
    setWindowIcon(programIcon(QStringLiteral("tesserix")));
    setMinimumSize(256, 256);
    m_clock.start();

    FormCreate();

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildToolbar();
    column->addWidget(Panel1);

    Panel2 = new QFrame(central);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAutoFillBackground(true);
    QPalette silver = Panel2->palette();
    silver.setColor(QPalette::Window, kSilver);
    Panel2->setPalette(silver);
    auto* panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    ScrollBox1 = new QScrollArea(Panel2);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ScrollBox1->viewport()->setAutoFillBackground(true);
    ScrollBox1->viewport()->setPalette(silver);
    ddmainimg = new TDXPaintBox;
    ddmainimg->setObjectName(QStringLiteral("ddmainimg"));
    ddmainimg->resize(597, 338);
    ddmainimg->showRaster(&m_session.job.mosaicImage, &m_session.job.mosaicImageLock);
    ScrollBox1->setWidget(ddmainimg);
    panel2Layout->addWidget(ScrollBox1);
    column->addWidget(Panel2, 1);
    setCentralWidget(central);

    buildMenu();
    buildStatusBar();
    cellEditor = new CellEditor(*this, m_session);
    cellEditor->addMenu(menuBar(), menuBar()->findChild<QMenu*>(QStringLiteral("View1"))->menuAction());
    connect(this, &TForm1::renderingChanged, cellEditor, &CellEditor::renderingChanged);
    connect(this, &TForm1::renderEnded, cellEditor, &CellEditor::renderEnded);
    // the shading follows the edited records
    connect(cellEditor, &CellEditor::cellsChanged, this, [this] { refreshMatchError(); });

    // 609 x 448 outside, unless the status bar's texts need more in this font
    resize(std::max(601, statusBar()->sizeHint().width()), 421);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2 + 4, height() / 2 + 14));

    Formnew = new TFormnew(m_session, *this, this);
    connect(this, &TForm1::renderingChanged, Formnew, &TFormnew::onRenderingChanged);
    Form3 = new TForm3(m_session, *this);
    Form4 = new TForm4(this);
    Printform = new TPrintform(m_session, this);
    Form7 = new TForm7(m_session, this);

    MissingColoursWindow = new TMissingColours(m_session, this);

    m_mainOverlay = new MatchErrorOverlay(ddmainimg);
    m_overviewOverlay = new MatchErrorOverlay(Form3->ddoverview);
    m_matchErrorLegend = new MatchErrorLegend(ScrollBox1);
}

TForm1::~TForm1()
{
    // the view goes before the editor that watches it
    if (cellEditor)
        ddmainimg->removeEventFilter(cellEditor);
    if (m_render) {
        // the render cannot be interrupted; the job it reads outlives us
        m_render->wait();
    }
}

void TForm1::FormCreate()
{
    // The job's pictures, rasters and buffers are the session's, made empty
    // with it and kept for the whole run; only the blank raster is the
    // window's own.
    m_blankRaster = blankRaster();
}

void TForm1::buildToolbar()
{
    Panel1 = new QFrame;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFrameShadow(QFrame::Raised);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(2);

    auto button = [&](QToolButton*& target, const char* name, const char* icon, const char* tip, bool flat) {
        target = new QToolButton(Panel1);
        target->setObjectName(QLatin1String(name));
        target->setIcon(programIcon(QLatin1String(icon)));
        target->setIconSize(QSize(20, 20));
        target->setFixedSize(26, 26);
        target->setToolTip(QLatin1String(tip));
        target->setAutoRaise(flat);
        row->addWidget(target);
    };
    button(btnew, "btnew", "new", "Create New Photomosaic", true);
    button(sbsavem, "sbsavem", "save_project", "Save current project", true);
    button(sbload, "sbload", "load_project", "Load project", true);
    row->addSpacing(4);
    row->addWidget(bevel(Panel1));
    row->addSpacing(4);
    button(sbcls, "sbcls", "clear", "Clear all", true);
    button(btsaveimg, "btsaveimg", "save_image", "Save photomosaic image", true);
    button(SpeedButton2, "SpeedButton2", "print", "Print Image", true);
    row->addSpacing(4);
    row->addWidget(bevel(Panel1));
    row->addSpacing(4);
    button(SpeedButton5, "SpeedButton5", "stats", "Stats", false);
    SpeedButton5->setFixedSize(25, 25);
    button(btoverview, "btoverview", "overview", "Overview", true);
    btoverview->setCheckable(true);
    btoverview->setChecked(true);
    row->addSpacing(4);
    row->addWidget(bevel(Panel1));
    row->addSpacing(4);
    button(sbabout, "sbabout", "about", "About", false);
    row->addStretch(1);

    auto* progress = new QVBoxLayout;
    progress->setSpacing(1);
    Label1 = new QLabel(QStringLiteral("Progress :"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    pb2 = new QProgressBar(Panel1);
    pb2->setObjectName(QStringLiteral("pb2"));
    pb2->setRange(0, 100);
    pb2->setValue(0);
    pb2->setTextVisible(false);
    pb2->setFixedSize(257, 13);
    progress->addStretch(1);
    progress->addWidget(Label1);
    progress->addWidget(pb2);
    progress->addStretch(1);
    row->addLayout(progress);

    connect(btnew, &QToolButton::clicked, this, &TForm1::btnewClick);
    connect(sbsavem, &QToolButton::clicked, this, &TForm1::sbsavemClick);
    connect(sbload, &QToolButton::clicked, this, &TForm1::sbloadClick);
    connect(sbcls, &QToolButton::clicked, this, &TForm1::sbclsClick);
    connect(btsaveimg, &QToolButton::clicked, this, &TForm1::btsaveimgClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(SpeedButton5, &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
    connect(btoverview, &QToolButton::clicked, this, &TForm1::btoverviewClick);
    connect(sbabout, &QToolButton::clicked, this, &TForm1::sbaboutClick);
}

void TForm1::buildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [&](QMenu* menu, QAction*& target, const char* name, const char* text, void (TForm1::*handler)()) {
        target = menu->addAction(QLatin1String(text));
        target->setObjectName(QLatin1String(name));
        connect(target, &QAction::triggered, this, handler);
    };
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    item(file, CreateNew1, "CreateNew1", "Create &New Mosaic", &TForm1::btnewClick);
    item(file, LoadMosaic1, "LoadMosaic1", "&Load Mosaic File", &TForm1::sbloadClick);
    item(file, SaveMosaic1, "SaveMosaic1", "&Save Mosaic File", &TForm1::sbsavemClick);
    file->addSeparator();
    item(file, SaveImage1, "SaveImage1", "S&ave Image to...", &TForm1::btsaveimgClick);
    item(file, ClearAll1, "ClearAll1", "&Clear All", &TForm1::sbclsClick);
    file->addSeparator();
    item(file, Exit1, "Exit1", "&Exit", &TForm1::Exit1Click);

    QMenu* view = bar->addMenu(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("View1"));
    item(view, Overview1, "Overview1", "Overview", &TForm1::Overview1Click);
    // the check mark only mirrors the toggle button
    Overview1->setCheckable(true);
    Overview1->setChecked(btoverview->isChecked());
    connect(btoverview, &QToolButton::toggled, Overview1, &QAction::setChecked);
    MatchError1 = view->addAction(QStringLiteral("Match Error"));
    MatchError1->setObjectName(QStringLiteral("MatchError1"));
    MatchError1->setCheckable(true);
    MatchError1->setStatusTip(QStringLiteral("Shade every cell by how far its picture is from its colour"));
    connect(MatchError1, &QAction::toggled, this, [this] { refreshMatchError(); });

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    tools->setObjectName(QStringLiteral("Tools1"));
    item(tools, Print1, "Print1", "&Print", &TForm1::SpeedButton2Click);
    item(tools, Stats1, "Stats1", "&Stats", &TForm1::SpeedButton5Click);
    MissingColours1 = tools->addAction(QStringLiteral("Missing Colours..."));
    MissingColours1->setObjectName(QStringLiteral("MissingColours1"));
    connect(MissingColours1, &QAction::triggered, this, [this] {
        runGuarded(this, [&] {
            if (isRendering())
                return;  // the placement is read while it is drawn
            MissingColoursWindow->refresh();
            openWindow(MissingColoursWindow);
        });
    });

    About1 = bar->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &TForm1::sbaboutClick);
}

void TForm1::buildStatusBar()
{
    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("status"));
    status->setSizeGripEnabled(true);
    setStatusBar(status);
    const char* texts[4] = { "Cells 0 x 0", "Cell Size 0 x 0", "PhotoMosaic Size 0 x 0", "Files in ImageList : 0" };
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(QLatin1String(texts[i]), status);
        panel->setObjectName(QStringLiteral("statusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        status->addWidget(panel, i == 3 ? 1 : 0);
        statusPanel[i] = panel;
        fitStatusPanel(i);
    }
}

void TForm1::fitStatusPanel(int panel)
{
    // the panels' widths are the least they take; a longer text widens its
    // panel rather than being cut
    static constexpr int kWidths[4] = { 150, 115, 200, 50 };
    QLabel* label = statusPanel[panel];
    const int textWidth = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->frameWidth() + 8;
    label->setMinimumWidth(std::max(kWidths[panel], textWidth));
}

TDIB& TForm1::mosaicImage() { return m_session.job.mosaicImage; }

void TForm1::sizeMosaic(int width, int height)
{
    {
        std::lock_guard<std::mutex> lock(m_session.job.mosaicImageLock);
        try {
            if (width > 0 && height > 0)
                mosaicImage().Allocate(width, height, 24);
            else
                mosaicImage().MakeEmpty();  // a job without cells
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(formatMessage(msg::kCannotBeMade, "DIB"));
        }
    }
    ddmainimg->resize(std::max(width, 0), std::max(height, 0));
    ddmainimg->update();
}

void TForm1::setStatusText(int panel, const QString& text)
{
    if (panel < 0 || panel >= 4)
        return;
    statusPanel[panel]->setText(text);
    fitStatusPanel(panel);
    // a window too narrow for its status texts grows to show them whole
    int needed = 40;  // spacing, margins and the size grip
    for (const QLabel* label : statusPanel)
        needed += label->minimumWidth();
    if (needed > width())
        resize(needed, height());
}

QString TForm1::statusText(int panel) const
{
    return panel >= 0 && panel < 4 ? statusPanel[panel]->text() : QString();
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void TForm1::FormShow()
{
    runGuarded(this, [&] { clearAll(); });
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // closing the main window ends the program, whatever else is open
    for (QWidget* window : std::initializer_list<QWidget*>{ Formnew, Form3, Form4, Printform, Form7 })
        if (window)
            window->hide();
    event->accept();
}

void TForm1::clearAll()
{
    MosaicJob& job = m_session.job;
    job.sourcePicture.Bitmap().Dib() = m_blankRaster;
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        job.mosaicImage = m_blankRaster;
    }
    ddmainimg->update();
    if (cellEditor)
        cellEditor->mosaicCleared();
    if (Formnew)
        Formnew->resetSourcePreview();
    if (Form3)
        Form3->redrawFromMosaic();
    refreshMatchError();
}

void TForm1::sbclsClick()
{
    runGuarded(this, [&] { clearAll(); });
}

void TForm1::btnewClick()
{
    runGuarded(this, [&] {
        btoverview->setChecked(true);
        Form3->show();
        if (mosaicImage().Size() > 0 && Form3->isVisible())
            Form3->UpdateOverview();
        clearAll();
        Formnew->startWizard();
    });
}

void TForm1::applyOverviewToggle()
{
    Form3->setVisible(btoverview->isChecked());
    if (mosaicImage().Size() > 0 && Form3->isVisible())
        Form3->UpdateOverview();
}

void TForm1::btoverviewClick()
{
    runGuarded(this, [&] { applyOverviewToggle(); });
}

void TForm1::Overview1Click()
{
    runGuarded(this, [&] {
        btoverview->setChecked(!btoverview->isChecked());
        applyOverviewToggle();
    });
}

void TForm1::openWindow(QWidget* window)
{
    btoverview->setChecked(false);
    Form3->hide();
    window->show();
    window->raise();
    window->activateWindow();
}

void TForm1::SpeedButton2Click()
{
    runGuarded(this, [&] { openWindow(Printform); });
}

void TForm1::SpeedButton5Click()
{
    runGuarded(this, [&] { openWindow(Form7); });
}

void TForm1::sbaboutClick()
{
    runGuarded(this, [&] { openWindow(Form4); });
}

void TForm1::btsaveimgClick()
{
    runGuarded(this, [&] { saveImageFromWindow(*this); });
}

void TForm1::sbsavemClick()
{
    runGuarded(this, [&] { saveProjectFromWindow(*this); });
}

void TForm1::sbloadClick()
{
    runGuarded(this, [&] { loadProjectIntoWindow(*this); });
}

void TForm1::Exit1Click()
{
    runGuarded(this, [&] { close(); });
}

void TForm1::setRenderingUi(bool rendering)
{
    // While a render runs the job, the ImageList and mosaicImage must not
    // change, and nothing may read the half-drawn mosaic as a finished one.
    for (QToolButton* b : { btnew, sbload, sbcls, btsaveimg, SpeedButton2, sbsavem })
        b->setEnabled(!rendering);
    for (QAction* a : { CreateNew1, LoadMosaic1, ClearAll1, SaveImage1, Print1, SaveMosaic1, MissingColours1 })
        a->setEnabled(!rendering);
    refreshMatchError();  // a render starts with a new placement
    emit renderingChanged(rendering);
}

void TForm1::refreshMatchError()
{
    if (!m_mainOverlay)
        return;  // still being built
    const MosaicJob& job = m_session.job;
    const MosaicSettings& s = job.settings;
    bool shown = MatchError1->isChecked() && !s.selfMosaic;
    if (shown) {
        std::lock_guard<std::mutex> lock(m_session.job.mosaicImageLock);
        // nothing to shade over a cleared view
        shown = job.mosaicImage.Width() == s.mosaicWidth && job.mosaicImage.Height() == s.mosaicHeight;
    }
    if (shown)
        m_matchErrorMap = matchErrorMap(s, job.placementGrid);
    const MatchErrorMap* map = shown && !m_matchErrorMap.cells.isNull() ? &m_matchErrorMap : nullptr;
    m_mainOverlay->setMap(map);
    m_overviewOverlay->setMap(map);
    m_matchErrorLegend->setWorst(map ? map->worst : 0);
    m_matchErrorLegend->setVisible(map != nullptr);
}

bool TForm1::isRendering() const { return m_render != nullptr || (cellEditor && cellEditor->isBusy()); }

void TForm1::resizeMosaicView(int width, int height)
{
    // the wizard sizes the view for a new grid
    cellEditor->jobReplaced();
    ddmainimg->resize(width, height);
}

void TForm1::repaintMosaicView() { ddmainimg->update(); }

void TForm1::refreshOverview()
{
    if (Form3 && Form3->isVisible())
        Form3->UpdateOverview();
}

void TForm1::startRender()
{
    if (isRendering())
        return;
    cellEditor->jobReplaced();
    m_render = new RenderThread(prepareRender(m_session), this);
    connect(m_render, &RenderThread::progressed, this, &TForm1::onRenderProgress, Qt::QueuedConnection);
    connect(m_render, &RenderThread::repaintRequested, this, &TForm1::onRenderRepaint, Qt::QueuedConnection);
    connect(m_render, &RenderThread::rowsFinished, this, &TForm1::onRenderRowsFinished, Qt::QueuedConnection);
    connect(m_render, &RenderThread::messageRequested, this, &TForm1::onRenderMessage, Qt::QueuedConnection);
    connect(m_render, &RenderThread::ended, this, &TForm1::onRenderEnded, Qt::QueuedConnection);
    m_renderMessages.clear();
    m_overviewPending = false;
    m_nextOverviewAt = 0;
    m_finishedRows = 0;
    Form3->beginRender();
    setRenderingUi(true);
    m_render->start();
}

void TForm1::onRenderProgress(int percent) { pb2->setValue(percent); }

void TForm1::onRenderRepaint()
{
    // a render asks once per row of cells, far more often than a screen
    // shows; one repaint per frame interval is enough
    if (m_repaintPending)
        return;
    m_repaintPending = true;
    QTimer::singleShot(kRepaintIntervalMs, this, [this] {
        m_repaintPending = false;
        ddmainimg->update();
    });
}

void TForm1::onRenderRowsFinished(int firstRow, int count)
{
    m_finishedRows = std::max(m_finishedRows, firstRow + count);
    if (!Form3->isVisible())
        return;
    // the rows just drawn are reduced now, while they are in the cache;
    // only the repaint waits
    bool changed = false;
    runGuarded(this, [&] { changed = Form3->feedFinishedRows(m_finishedRows); });
    if (!changed || m_overviewPending)
        return;
    m_overviewPending = true;
    const qint64 wait = std::max<qint64>(0, m_nextOverviewAt - m_clock.elapsed());
    QTimer::singleShot(int(wait), this, &TForm1::flushOverview);
}

void TForm1::flushOverview()
{
    if (!m_overviewPending)
        return;
    m_overviewPending = false;
    if (!Form3->isVisible())
        return;
    const qint64 start = m_clock.elapsed();
    Form3->ddoverview->update();
    const qint64 cost = m_clock.elapsed() - start;
    m_nextOverviewAt = m_clock.elapsed() + std::max(kOverviewMinGapMs, cost * kOverviewCostFactor);
}

void TForm1::onRenderMessage(const QString& text, const QString& caption)
{
    // shown once the render has ended, so no modal box runs while the
    // render thread still reports
    m_renderMessages.emplace_back(text, caption);
}

void TForm1::onRenderEnded(bool ok, const QString& error)
{
    if (m_render) {
        m_render->wait();
        m_render->deleteLater();
        m_render = nullptr;
    }
    // A repaint of the overview may still be waiting for its interval; the
    // render's end is when it is owed at once, whether or not the last feed
    // below finds rows it has not drawn.
    const bool overviewOwed = m_overviewPending;
    m_overviewPending = false;
    ddmainimg->update();
    if (Form3->isVisible())
        runGuarded(this, [&] {
            if (Form3->feedFinishedRows(std::numeric_limits<int>::max()) || overviewOwed)
                Form3->ddoverview->update();
        });
    setRenderingUi(false);
    const auto messages = std::move(m_renderMessages);
    m_renderMessages.clear();
    for (const auto& [text, caption] : messages)
        showMessage(this, text, caption);
    if (!ok)
        showMessage(this, error);
    emit renderEnded(ok);
}

}  // namespace tsx
