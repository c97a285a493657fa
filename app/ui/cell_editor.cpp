#include "app/ui/cell_editor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/ui/cell_panel.h"
#include "app/ui/form1.h"
#include "imageio/picture.h"
#include "raster/errors.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "widgets/picture_preview.h"
#include "wizard/image_list.h"
#include "wizard/session.h"

namespace tsx {

namespace {

constexpr const char* kWhyRendering = "Not while the mosaic is being drawn";
constexpr const char* kWhyBusy = "Not while changed cells are being drawn";
constexpr const char* kWhyNoMosaic = "Make or load a mosaic first";
constexpr const char* kWhySelfMosaic = "Every cell of a self mosaic shows the source picture";
constexpr const char* kWhyNoSelection = "Select a cell first";
// A report of cells that could not be drawn names this many.
constexpr size_t kFailuresShown = 10;

// One use more or fewer of a picture, in place: a selection may hold every
// cell, and copying the signatures for each would be slow.
void moveUse(std::vector<uint8_t>& signatures, int32_t index, int delta)
{
    if (index < 0 || size_t(index) >= signatureCount(signatures))
        return;
    CellSignature sig = signatureAt(signatures, size_t(index));
    sig.useCount = int32_t(uint32_t(sig.useCount) + uint32_t(delta));
    setSignatureAt(signatures, size_t(index), sig);
}

constexpr int kThumbnailSide = 48;

// A picture shrunk to fit a thumbnail, or a null image when it cannot be read.
QImage thumbnailOf(const std::string& path)
{
    try {
        TPicture picture;
        LoadPicture(path, picture);
        const TGraphic* graphic = picture.Graphic();
        const TDIB* source = graphic ? graphic->PixelRaster() : nullptr;
        if (!source || source->IsEmpty())
            return {};
        TDIB converted;
        if (source->BitCount() != 24) {
            converted = *source;
            converted.ChangeBitCount(24);
            source = &converted;
        }
        const int w = source->Width(), h = source->Height();
        const int tw = w >= h ? kThumbnailSide : std::max(1, kThumbnailSide * w / h);
        const int th = w >= h ? std::max(1, kThumbnailSide * h / w) : kThumbnailSide;
        TDIB small;
        small.Allocate(tw, th, 24);
        stretchAreaAverage(*source, TRect{ 0, 0, w, h }, small, TRect{ 0, 0, tw, th });
        QImage image(tw, th, QImage::Format_RGB888);
        for (int y = 0; y < th; ++y) {
            const uint8_t* from = small.ScanLine(y);
            uchar* to = image.scanLine(y);
            for (int x = 0; x < tw; ++x, from += 3, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        }
        return image;
    } catch (...) {
        return {};
    }
}

QString fileNameOf(const std::string& path) { return QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName(); }

}  // namespace

// Draws the selection's outline and the locked cells' mark over the view,
// letting the mouse through to it.
class CellEditor::Overlay : public QWidget {
public:
    Overlay(CellEditor& editor, QWidget* view)
        : QWidget(view), m_editor(editor)
    {
        setObjectName(QStringLiteral("cellOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        resize(view->size());
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const MosaicSettings& s = m_editor.m_session.job.settings;
        if (!m_editor.m_rendered || s.cellWidth <= 0 || s.cellHeight <= 0)
            return;
        if (m_editor.m_selection.empty() && m_editor.m_marks.locked.empty())
            return;
        // only the cells of the exposed part are looked at: a selection may
        // hold every cell of a 640 x 640 mosaic
        const QRect area = event->rect();
        const int c0 = std::max(0, area.left() / s.cellWidth), c1 = std::min(s.cols - 1, area.right() / s.cellWidth);
        const int r0 = std::max(0, area.top() / s.cellHeight), r1 = std::min(s.rows - 1, area.bottom() / s.cellHeight);
        QPainter painter(this);
        for (int r = r0; r <= r1; ++r) {
            for (int c = c0; c <= c1; ++c) {
                const QRect cell(c * s.cellWidth, r * s.cellHeight, s.cellWidth, s.cellHeight);
                if (m_editor.m_selection.count({ c, r })) {
                    // dark and light together show on any picture
                    painter.setPen(QPen(Qt::black, 1));
                    painter.drawRect(cell.adjusted(0, 0, -1, -1));
                    painter.setPen(QPen(Qt::white, 1));
                    painter.drawRect(cell.adjusted(1, 1, -2, -2));
                    painter.drawRect(cell.adjusted(2, 2, -3, -3));
                }
                // over the outline, so a selected locked cell still shows it
                if (m_editor.m_marks.locked.count({ c, r })) {
                    const int side = std::max(4, std::min(s.cellWidth, s.cellHeight) / 4);
                    painter.fillRect(QRect(cell.right() - side + 1, cell.top(), side, side), QColor(255, 190, 0));
                    painter.setPen(Qt::black);
                    painter.drawRect(QRect(cell.right() - side + 1, cell.top(), side - 1, side - 1));
                }
            }
        }
    }

private:
    CellEditor& m_editor;
};

// One command's work on the worker thread and what it gives back.
struct CellEditor::Pending {
    QString name;
    CellMarks marksAfter;
    std::function<std::vector<CellChange>()> compute;
    std::vector<std::string> paths;
    RedrawnCells redrawn;
    std::vector<TDIB> pixelsBefore;
    std::string error;
};

CellEditor::CellEditor(TForm1& window, Session& session)
    : QObject(&window), m_window(window), m_session(session)
{
    setObjectName(QStringLiteral("cellEditor"));
    TDXPaintBox* view = window.ddmainimg;
    view->setMouseTracking(true);
    view->installEventFilter(this);
    m_overlay = new Overlay(*this, view);

    panel = new CellPanel(&window);
    window.addDockWidget(Qt::RightDockWidgetArea, panel);
    panel->hide();

    hoverLabel = new QLabel(&window);
    hoverLabel->setObjectName(QStringLiteral("hoverLabel"));
    hoverLabel->setAccessibleName(QStringLiteral("Cell Under the Mouse"));
    window.statusBar()->addPermanentWidget(hoverLabel);

    auto action = [&](QAction*& target, const char* name, const char* text, const QKeySequence& keys,
                      void (CellEditor::*handler)()) {
        target = new QAction(QString::fromUtf8(text), &window);
        target->setObjectName(QLatin1String(name));
        QString plain = QString::fromUtf8(text);
        plain.remove(QLatin1Char('&'));
        target->setData(plain);  // the accessible name; the tips change with the state
        target->setShortcut(keys);
        target->setShortcutContext(Qt::WindowShortcut);
        window.addAction(target);
        connect(target, &QAction::triggered, this, handler);
    };
    action(NextCandidate1, "NextCandidate1", "&Next Candidate", QKeySequence(Qt::Key_N), &CellEditor::nextCandidate);
    action(ChoosePicture1, "ChoosePicture1", "C&hoose Picture…", QKeySequence(Qt::Key_C), &CellEditor::choosePicture);
    action(Lock1, "Lock1", "&Lock", QKeySequence(Qt::Key_L), &CellEditor::lockCells);
    action(Unlock1, "Unlock1", "U&nlock", QKeySequence(Qt::SHIFT | Qt::Key_L), &CellEditor::unlockCells);
    action(ExcludePicture1, "ExcludePicture1", "&Exclude Picture", QKeySequence(Qt::Key_Delete),
           &CellEditor::excludePicture);
    action(Replace1, "Replace1", "&Re-place Unlocked Cells", QKeySequence(Qt::CTRL | Qt::Key_R),
           &CellEditor::replaceUnlocked);
    action(Undo1, "Undo1", "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &CellEditor::undo);
    action(Redo1, "Redo1", "Re&do", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &CellEditor::redo);

    pictureChooser = [this](QWidget* parent, int current) { return defaultChooser(parent, current); };
    connect(this, &CellEditor::workerDone, this, &CellEditor::finishEdit, Qt::QueuedConnection);
    connect(this, &CellEditor::drawingProgressed, this, [this](int percent) {
        if (isBusy())
            hoverLabel->setText(m_drawingText + QStringLiteral(" %1%").arg(percent));
    }, Qt::QueuedConnection);
    updateActions();
}

CellEditor::~CellEditor()
{
    // the worker reads the session, which outlives the window; what it
    // reports after this is not delivered
    if (m_worker.joinable())
        m_worker.join();
}

void CellEditor::addMenu(QMenuBar* bar, QAction* before)
{
    Edit1 = new QMenu(QStringLiteral("Edit"), bar);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    bar->insertMenu(before, Edit1);
    Edit1->addAction(Undo1);
    Edit1->addAction(Redo1);
    Edit1->addSeparator();
    for (QAction* a : { NextCandidate1, ChoosePicture1, Lock1, Unlock1, ExcludePicture1 })
        Edit1->addAction(a);
    Edit1->addSeparator();
    Edit1->addAction(Replace1);
}

int CellEditor::pictureCount() const
{
    return editablePictureCount(m_session.job, m_session.imageList.count());
}

bool CellEditor::canEdit() const
{
    const MosaicJob& job = m_session.job;
    const MosaicSettings& s = job.settings;
    if (!m_rendered || m_rendering || isBusy() || s.rows <= 0 || s.cols <= 0)
        return false;
    // Clear all puts the blank picture into the view; only the job's own
    // mosaic has its cells
    return job.mosaicImage.Width() == s.mosaicWidth && job.mosaicImage.Height() == s.mosaicHeight &&
           job.mosaicImage.BitCount() == 24;
}

std::vector<CellRef> CellEditor::selectedCells() const { return { m_selection.begin(), m_selection.end() }; }

void CellEditor::jobReplaced()
{
    m_history.clear();
    m_marks = {};
    m_selection.clear();
    m_rendered = false;
    m_overlay->update();
    updatePanel();
    updateActions();
}

void CellEditor::mosaicCleared()
{
    // the job stays as it was, and with it its locks and exclusions, which a
    // project saved now keeps; only the pixels to edit are gone
    m_history.clear();
    m_selection.clear();
    m_rendered = false;
    m_overlay->update();
    updatePanel();
    updateActions();
}

void CellEditor::setMarks(CellMarks marks)
{
    m_marks = std::move(marks);
    m_overlay->update();
    updateActions();
}

void CellEditor::renderingChanged(bool rendering)
{
    // the window also locks its commands while an edit draws; that is not a render
    m_rendering = rendering && !isBusy();
    updateActions();
}

void CellEditor::renderEnded()
{
    m_rendered = true;
    m_overlay->resize(m_window.ddmainimg->size());
    m_overlay->update();
    updateActions();
}

void CellEditor::select(const std::vector<CellRef>& cells, bool add)
{
    if (!add)
        m_selection.clear();
    const MosaicSettings& s = m_session.job.settings;
    for (const CellRef& cell : cells)
        if (cell.col >= 0 && cell.row >= 0 && cell.col < s.cols && cell.row < s.rows)
            m_selection.insert(cell);
    m_overlay->update();
    updatePanel();
    updateActions();
}

QString CellEditor::describeCell(CellRef cell) const
{
    const MosaicJob& job = m_session.job;
    QString text = QStringLiteral("Cell %1, %2").arg(cell.col).arg(cell.row);
    if (job.settings.selfMosaic)
        return text + QStringLiteral(": ") + fileNameOf(m_session.sourceFileName);
    const int index = job.placementGrid.at(cell.col, cell.row).imageIndex;
    if (index < 0 || size_t(index) >= m_session.imageList.count())
        return text + QStringLiteral(": picture %1 is not in the ImageList").arg(index);
    text += QStringLiteral(": ") + fileNameOf(m_session.imageList.path(index));
    const int distance = matchDistance(job, cell, index);
    if (distance >= 0)
        text += QStringLiteral(", distance %1").arg(distance);
    if (m_marks.locked.count(cell))
        text += QStringLiteral(", locked");
    return text;
}

void CellEditor::updatePanel()
{
    if (m_selection.empty() || !m_rendered) {
        panel->hide();
        return;
    }
    const MosaicJob& job = m_session.job;
    const CellRef cell = m_selection.count(m_anchor) ? m_anchor : *m_selection.begin();
    CellDetails d;
    d.col = cell.col;
    d.row = cell.row;
    d.selected = int(m_selection.size());
    d.locked = m_marks.locked.count(cell) > 0;
    const int index = job.placementGrid.at(cell.col, cell.row).imageIndex;
    if (job.settings.selfMosaic)
        d.path = QString::fromLocal8Bit(m_session.sourceFileName.c_str());
    else if (index >= 0 && size_t(index) < m_session.imageList.count())
        d.path = QString::fromLocal8Bit(m_session.imageList.path(index).c_str());
    if (!job.settings.selfMosaic && index >= 0 && size_t(index) < signatureCount(job.workingSignatures)) {
        const CellSignature sig = signatureAt(job.workingSignatures, size_t(index));
        d.signature = QStringLiteral("%1, %2, %3").arg(sig.red).arg(sig.green).arg(sig.blue);
    }
    if (const std::optional<CellColour> colour = cellColour(job, cell)) {
        d.colourKnown = true;
        d.red = colour->red;
        d.green = colour->green;
        d.blue = colour->blue;
        d.cellColour = QStringLiteral("%1, %2, %3").arg(colour->red).arg(colour->green).arg(colour->blue);
    }
    d.distance = job.settings.selfMosaic ? -1 : matchDistance(job, cell, index);
    panel->showDetails(d);
    panel->show();
}

void CellEditor::updateActions()
{
    const MosaicSettings& s = m_session.job.settings;
    QString why;
    if (m_rendering)
        why = QLatin1String(kWhyRendering);
    else if (isBusy())
        why = QLatin1String(kWhyBusy);
    else if (!canEdit())
        why = QLatin1String(kWhyNoMosaic);
    QString pictureWhy = why;
    if (pictureWhy.isEmpty() && (s.selfMosaic || pictureCount() == 0))
        pictureWhy = QLatin1String(kWhySelfMosaic);
    const QString selectionWhy =
        !pictureWhy.isEmpty() ? pictureWhy : (m_selection.empty() ? QLatin1String(kWhyNoSelection) : QString());
    const QString lockWhy = !why.isEmpty() ? why : (m_selection.empty() ? QLatin1String(kWhyNoSelection) : QString());

    bool anyLocked = false, anyUnlocked = false;
    for (const CellRef& cell : m_selection)
        (m_marks.locked.count(cell) ? anyLocked : anyUnlocked) = true;

    auto set = [](QAction* a, const QString& reason, const char* tip) {
        a->setEnabled(reason.isEmpty());
        const QString text = reason.isEmpty() ? QLatin1String(tip) : reason;
        a->setStatusTip(text);
        a->setToolTip(a->data().toString() + QStringLiteral(" - ") + text);
    };
    set(NextCandidate1, selectionWhy, "Show the next of the nearest pictures the rules allow in the selected cells");
    set(ChoosePicture1, selectionWhy, "Put a picture of the ImageList into the selected cells");
    set(Lock1, !lockWhy.isEmpty() ? lockWhy : (anyUnlocked ? QString() : QStringLiteral("The selected cells are locked")),
        "Keep the selected cells as they are when cells are placed again");
    set(Unlock1, !lockWhy.isEmpty() ? lockWhy : (anyLocked ? QString() : QStringLiteral("No selected cell is locked")),
        "Let the selected cells be placed again");
    set(ExcludePicture1, selectionWhy, "Take the selected cells' pictures out of every unlocked cell and place those cells again");
    set(Replace1, pictureWhy, "Place every unlocked cell again, keeping the locked ones and the rules");
    const QString historyWhy = m_rendering ? QLatin1String(kWhyRendering) : (isBusy() ? QLatin1String(kWhyBusy) : QString());
    set(Undo1, !historyWhy.isEmpty() ? historyWhy : (m_history.canUndo() ? QString() : QStringLiteral("Nothing to undo")),
        "Undo the last change to the cells");
    set(Redo1, !historyWhy.isEmpty() ? historyWhy : (m_history.canRedo() ? QString() : QStringLiteral("Nothing to redo")),
        "Redo the change last undone");
    if (m_history.canUndo())
        Undo1->setStatusTip(QStringLiteral("Undo ") + QString::fromStdString(m_history.undoName()));
    if (m_history.canRedo())
        Redo1->setStatusTip(QStringLiteral("Redo ") + QString::fromStdString(m_history.redoName()));
}

bool CellEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window.ddmainimg)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        m_overlay->resize(m_window.ddmainimg->size());
        break;
    case QEvent::Leave:
        hoverLabel->clear();
        break;
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        hover(mouse->position().toPoint());
        if (m_dragging && (mouse->buttons() & Qt::LeftButton) && m_rendered) {
            if (const std::optional<CellRef> at = cellAt(m_session.job.settings, mouse->position().toPoint().x(),
                                                         mouse->position().toPoint().y())) {
                std::vector<CellRef> area;
                for (int r = std::min(m_anchor.row, at->row); r <= std::max(m_anchor.row, at->row); ++r)
                    for (int c = std::min(m_anchor.col, at->col); c <= std::max(m_anchor.col, at->col); ++c)
                        area.push_back({ c, r });
                const bool add = mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
                const CellRef anchor = m_anchor;
                select(area, add);
                m_anchor = anchor;
            }
        }
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !m_rendered)
            break;
        const QPoint at = mouse->position().toPoint();
        if (const std::optional<CellRef> cell = cellAt(m_session.job.settings, at.x(), at.y())) {
            m_dragging = true;
            if (mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) {
                if (m_selection.count(*cell)) {
                    m_selection.erase(*cell);
                    select({}, true);
                } else {
                    m_anchor = *cell;
                    select({ *cell }, true);
                }
            } else {
                m_anchor = *cell;
                select({ *cell });
            }
        } else {
            select({});
        }
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        break;
    case QEvent::ContextMenu: {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        showContextMenu(menuEvent->pos(), menuEvent->globalPos());
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CellEditor::hover(const QPoint& at)
{
    const std::optional<CellRef> cell = m_rendered ? cellAt(m_session.job.settings, at.x(), at.y()) : std::nullopt;
    if (!cell) {
        hoverLabel->clear();
        QToolTip::hideText();
        return;
    }
    const QString text = describeCell(*cell);
    hoverLabel->setText(text);
    m_window.ddmainimg->setToolTip(text);
    QToolTip::showText(m_window.ddmainimg->mapToGlobal(at), text, m_window.ddmainimg);
}

void CellEditor::showContextMenu(const QPoint& at, const QPoint& global)
{
    if (const std::optional<CellRef> cell = m_rendered ? cellAt(m_session.job.settings, at.x(), at.y()) : std::nullopt)
        if (!m_selection.count(*cell)) {
            m_anchor = *cell;
            select({ *cell });
        }
    QMenu menu(m_window.ddmainimg);
    menu.setObjectName(QStringLiteral("cellMenu"));
    for (QAction* a : { NextCandidate1, ChoosePicture1, Lock1, Unlock1, ExcludePicture1 })
        menu.addAction(a);
    menu.addSeparator();
    menu.addAction(Replace1);
    menu.addSeparator();
    menu.addAction(Undo1);
    menu.addAction(Redo1);
    menu.exec(global);
}

void CellEditor::nextCandidate()
{
    if (!NextCandidate1->isEnabled())
        return;
    MosaicJob& job = m_session.job;
    const int n = pictureCount();
    // each cell's next picture is chosen with the cells before it already
    // changed, so two neighbours never move onto the same picture
    const std::vector<uint8_t> signatures = job.workingSignatures;
    std::vector<CellChange> changes;
    for (const CellRef& cell : m_selection) {
        if (m_marks.locked.count(cell))
            continue;
        const std::optional<int> next = tsx::nextCandidate(job, n, m_marks, cell);
        const std::optional<CellColour> colour = cellColour(job, cell);
        if (!next || !colour)
            continue;
        CellPlacement& record = job.placementGrid.at(cell.col, cell.row);
        const CellChange change{ cell, record, placementFor(job, cell, *colour, *next) };
        record = change.after;
        moveUse(job.workingSignatures, change.before.imageIndex, -1);
        moveUse(job.workingSignatures, change.after.imageIndex, 1);
        changes.push_back(change);
    }
    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        job.placementGrid.at(it->cell.col, it->cell.row) = it->before;
    job.workingSignatures = signatures;
    if (changes.empty()) {
        hoverLabel->setText(QStringLiteral("The selected cells have no other candidate"));
        return;
    }
    startEdit(QStringLiteral("Next Candidate"), m_marks, [changes] { return changes; });
}

int CellEditor::defaultChooser(QWidget* parent, int current)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("choosePicture"));
    dialog.setWindowTitle(QStringLiteral("Choose Picture"));
    auto* row = new QHBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("pictureList"));
    list->setAccessibleName(QStringLiteral("Pictures"));
    list->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    list->setUniformItemSizes(true);
    const int n = pictureCount();
    const std::vector<std::string> paths(m_session.imageList.paths().begin(), m_session.imageList.paths().begin() + n);
    // every row as high as a thumbnail from the start, so rows keep their
    // places while the thumbnails come in
    QPixmap blank(kThumbnailSide, kThumbnailSide);
    blank.fill(Qt::transparent);
    const QIcon placeholder(blank);
    for (int i = 0; i < n; ++i) {
        auto* item = new QListWidgetItem(placeholder, fileNameOf(paths[size_t(i)]), list);
        item->setToolTip(QString::fromLocal8Bit(paths[size_t(i)].c_str()));
    }
    // thumbnails are made on a worker and put in as they come, so a long
    // ImageList opens at once and the dialog stays responsive
    std::atomic<bool> stop{ false };
    connect(this, &CellEditor::thumbnailMade, list, [list](int at, const QImage& image) {
        if (QListWidgetItem* item = list->item(at))
            item->setIcon(QIcon(QPixmap::fromImage(image)));
    }, Qt::QueuedConnection);
    std::thread thumbnails([this, &stop, &paths] {
        for (size_t i = 0; i < paths.size() && !stop; ++i) {
            const QImage image = thumbnailOf(paths[i]);
            if (!image.isNull())
                emit thumbnailMade(int(i), image);
        }
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Join()
        {
            stop = true;
            thread.join();
        }
    } join{ stop, thumbnails };
    auto* preview = new PicturePreview(&dialog);
    connect(list, &QListWidget::currentRowChanged, preview, [this, preview](int i) {
        if (i >= 0)
            preview->showFile(QString::fromLocal8Bit(m_session.imageList.path(i).c_str()));
    });
    auto* column = new QVBoxLayout;
    column->addWidget(preview);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    column->addStretch(1);
    column->addWidget(buttons);
    row->addWidget(list, 1);
    row->addLayout(column);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (current >= 0 && current < n) {
        list->setCurrentRow(current);
        // once laid out, so the cell's own picture is in sight
        QTimer::singleShot(0, list, [list] { list->scrollToItem(list->currentItem(), QAbstractItemView::PositionAtCenter); });
    }
    dialog.resize(520, 360);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return list->currentRow();
}

void CellEditor::choosePicture()
{
    if (!ChoosePicture1->isEnabled())
        return;
    MosaicJob& job = m_session.job;
    const CellRef first = m_selection.count(m_anchor) ? m_anchor : *m_selection.begin();
    const int picture = pictureChooser(&m_window, job.placementGrid.at(first.col, first.row).imageIndex);
    if (picture < 0 || picture >= pictureCount() || !canEdit())
        return;
    std::vector<CellChange> changes;
    for (const CellRef& cell : m_selection) {
        const std::optional<CellColour> colour = cellColour(job, cell);
        if (m_marks.locked.count(cell) || !colour)
            continue;
        const CellChange change{ cell, job.placementGrid.at(cell.col, cell.row), placementFor(job, cell, *colour, picture) };
        if (!(change.after == change.before))
            changes.push_back(change);
    }
    if (changes.empty())
        return;
    startEdit(QStringLiteral("Choose Picture"), m_marks, [changes] { return changes; });
}

void CellEditor::lockCells()
{
    if (!Lock1->isEnabled())
        return;
    CellMarks after = m_marks;
    after.locked.insert(m_selection.begin(), m_selection.end());
    commitMarks(QStringLiteral("Lock"), std::move(after));
}

void CellEditor::unlockCells()
{
    if (!Unlock1->isEnabled())
        return;
    CellMarks after = m_marks;
    for (const CellRef& cell : m_selection)
        after.locked.erase(cell);
    commitMarks(QStringLiteral("Unlock"), std::move(after));
}

void CellEditor::excludePicture()
{
    if (!ExcludePicture1->isEnabled())
        return;
    const MosaicJob& job = m_session.job;
    const MosaicSettings& s = job.settings;
    CellMarks after = m_marks;
    for (const CellRef& cell : m_selection) {
        const int index = job.placementGrid.at(cell.col, cell.row).imageIndex;
        if (index >= 0 && index < pictureCount())
            after.excluded.insert(index);
    }
    std::vector<CellRef> cells;
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.cols; ++c)
            if (!after.locked.count({ c, r }) && after.excluded.count(job.placementGrid.at(c, r).imageIndex))
                cells.push_back({ c, r });
    const int n = pictureCount();
    startEdit(QStringLiteral("Exclude Picture"), after, [this, n, after, cells] {
        return replaceCells(m_session.job, n, after, cells, m_session.random);
    });
}

void CellEditor::replaceUnlocked()
{
    if (!Replace1->isEnabled())
        return;
    const MosaicSettings& s = m_session.job.settings;
    std::vector<CellRef> cells;
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.cols; ++c)
            cells.push_back({ c, r });
    const int n = pictureCount();
    const CellMarks marks = m_marks;
    startEdit(QStringLiteral("Re-place Unlocked Cells"), m_marks, [this, n, marks, cells] {
        return replaceCells(m_session.job, n, marks, cells, m_session.random);
    });
}

void CellEditor::startEdit(const QString& name, CellMarks marksAfter, std::function<std::vector<CellChange>()> compute)
{
    if (isBusy() || !canEdit())
        return;
    m_pending = std::make_unique<Pending>();
    m_pending->name = name;
    m_pending->marksAfter = std::move(marksAfter);
    m_pending->compute = std::move(compute);
    m_pending->paths = m_session.imageList.paths();
    Pending* pending = m_pending.get();
    MosaicJob& job = m_session.job;
    Random& random = m_session.random;
    // Progress goes to the status bar's own field, which leaves the job's
    // panels in sight; the worker emits, Qt carries the figure over.
    m_drawingText = name + QStringLiteral(": drawing the changed cells…");
    hoverLabel->setText(m_drawingText);
    // The job does not change while the worker reads it: every command that
    // could change it is off until finishEdit.
    // A thread of the standard library, whose join orders what the worker
    // wrote before everything finishEdit reads.
    m_worker = std::thread([this, pending, &job, &random] {
        auto progress = [this](size_t done, size_t total) {
            emit drawingProgressed(int(done * 100 / std::max<size_t>(total, 1)));
        };
        try {
            pending->redrawn = redrawCells(job, random, pending->paths, pending->compute(), progress);
            std::lock_guard<std::mutex> lock(job.mosaicImageLock);
            for (const CellChange& change : pending->redrawn.changes)
                pending->pixelsBefore.push_back(copyCellPixels(job, change.cell));
        } catch (const std::bad_alloc&) {
            pending->error = "Out of memory while drawing the changed cells";
        } catch (const std::exception& ex) {
            pending->error = ex.what();
        }
        emit workerDone();
    });
    m_window.setEditRunning(true);
    updateActions();
}

void CellEditor::finishEdit()
{
    if (!m_worker.joinable())
        return;
    m_worker.join();
    std::unique_ptr<Pending> pending = std::move(m_pending);
    m_window.setEditRunning(false);
    hoverLabel->clear();
    runGuarded(&m_window, [&] {
        if (!pending->error.empty())
            throw Error(pending->error);
        MosaicJob& job = m_session.job;
        if (!pending->redrawn.changes.empty() || !(pending->marksAfter == m_marks)) {
            EditStep step;
            step.name = pending->name.toStdString();
            step.cells = pending->redrawn.changes;
            step.pixelsBefore = std::move(pending->pixelsBefore);
            step.pixelsAfter = std::move(pending->redrawn.pixels);
            step.marksBefore = m_marks;
            step.marksAfter = pending->marksAfter;
            step.signaturesBefore = job.workingSignatures;
            step.signaturesAfter = signaturesAfter(job.workingSignatures, step.cells);
            applyEditStep(job, m_marks, step, true);
            m_history.push(std::move(step));
        } else if (pending->redrawn.failures.empty()) {
            hoverLabel->setText(QStringLiteral("Nothing changed"));
        }
        afterChange();
        const std::vector<std::string>& failures = pending->redrawn.failures;
        if (!failures.empty()) {
            QString text = QStringLiteral("These cells were left as they were:");
            for (size_t k = 0; k < failures.size() && k < kFailuresShown; ++k)
                text += QLatin1Char('\n') + QString::fromLocal8Bit(failures[k].c_str());
            if (failures.size() > kFailuresShown)
                text += QStringLiteral("\n(and %1 more)").arg(failures.size() - kFailuresShown);
            showMessage(&m_window, text);
        }
    });
    updateActions();
    emit editFinished();
}

void CellEditor::commitMarks(const QString& name, CellMarks marksAfter)
{
    if (marksAfter == m_marks)
        return;
    EditStep step;
    step.name = name.toStdString();
    step.marksBefore = m_marks;
    step.marksAfter = std::move(marksAfter);
    step.signaturesBefore = step.signaturesAfter = m_session.job.workingSignatures;
    applyEditStep(m_session.job, m_marks, step, true);
    m_history.push(std::move(step));
    afterChange();
}

void CellEditor::undo()
{
    if (!Undo1->isEnabled())
        return;
    runGuarded(&m_window, [&] {
        m_history.undo(m_session.job, m_marks);
        afterChange();
    });
}

void CellEditor::redo()
{
    if (!Redo1->isEnabled())
        return;
    runGuarded(&m_window, [&] {
        m_history.redo(m_session.job, m_marks);
        afterChange();
    });
}

void CellEditor::afterChange()
{
    emit cellsChanged();
    m_window.ddmainimg->update();
    m_overlay->update();
    m_window.refreshOverview();
    updatePanel();
    updateActions();
}

}  // namespace tsx
