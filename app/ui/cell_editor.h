// Editing the finished mosaic in the main window: what lies under the mouse,
// the selection and its outline, the Edit commands and their history, and
// the background redraw of the cells they change.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>

#include "app/edit_history.h"
#include "engine/cell_edit.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QWidget;

namespace tsx {

struct Session;
class CellPanel;
class TForm1;

class CellEditor : public QObject {
    Q_OBJECT
public:
    /// Works on the window's mosaic view; both must outlive it.
    CellEditor(TForm1& window, Session& session);
    ~CellEditor() override;

    /// The Edit menu, put into the bar before `before`.
    void addMenu(QMenuBar* bar, QAction* before);

    // The window tells it what happens to the job.
    /// A render of a new or loaded job starts: history, marks and selection go.
    void jobReplaced();
    /// The mosaic view was cleared: nothing can be edited until a render;
    /// the marks stay with the job.
    void mosaicCleared();
    /// Locks and exclusions that came with a loaded project.
    void setMarks(CellMarks marks);
    void renderingChanged(bool rendering);
    void renderEnded();

    const CellMarks& marks() const { return m_marks; }
    const std::set<CellRef>& selection() const { return m_selection; }
    const EditHistory& history() const { return m_history; }
    /// Selects cells; with add, keeps the ones selected already.
    void select(const std::vector<CellRef>& cells, bool add = false);
    /// True while changed cells are drawn in the background.
    bool isBusy() const { return m_worker.joinable(); }
    /// True when the mosaic shown is the job's, drawn, and nothing runs.
    bool canEdit() const;
    /// What hovering over the cell tells: column, row, file name, distance.
    QString describeCell(CellRef cell) const;

    // Commands, each also an action below.
    void nextCandidate();
    void choosePicture();
    void lockCells();
    void unlockCells();
    void excludePicture();
    void replaceUnlocked();
    void undo();
    void redo();

    QMenu* Edit1 = nullptr;
    QAction* NextCandidate1 = nullptr;
    QAction* ChoosePicture1 = nullptr;
    QAction* Lock1 = nullptr;
    QAction* Unlock1 = nullptr;
    QAction* ExcludePicture1 = nullptr;
    QAction* Replace1 = nullptr;
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
    CellPanel* panel = nullptr;
    QLabel* hoverLabel = nullptr;  // in the status bar

    /// Asks for a picture of the ImageList (its index) or -1; tests put
    /// their own here. The default shows a list with a preview.
    std::function<int(QWidget* parent, int current)> pictureChooser;

signals:
    /// Changed cells were drawn and put into the mosaic (or could not be).
    void editFinished();
    /// The records of some cells changed (an edit, an undo or a redo).
    void cellsChanged();
    /// Told from the worker while it draws: percent of the changed cells.
    void drawingProgressed(int percent);
    /// Told from the worker as its last act.
    void workerDone();
    /// Told from the thread that makes Choose Picture's thumbnails.
    void thumbnailMade(int row, const QImage& image);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Overlay;
    struct Pending;

    int pictureCount() const;
    std::vector<CellRef> selectedCells() const;
    void updateActions();
    void updatePanel();
    void hover(const QPoint& at);
    void showContextMenu(const QPoint& at, const QPoint& global);
    /// Runs compute on a worker thread, draws the cells it changes and
    /// commits the step on this thread.
    void startEdit(const QString& name, CellMarks marksAfter,
                   std::function<std::vector<CellChange>()> compute);
    void finishEdit();
    void commitMarks(const QString& name, CellMarks marksAfter);
    void afterChange();
    int defaultChooser(QWidget* parent, int current);

    TForm1& m_window;
    Session& m_session;
    CellMarks m_marks;
    EditHistory m_history;
    std::set<CellRef> m_selection;
    CellRef m_anchor;
    bool m_dragging = false;
    bool m_rendered = false;
    bool m_rendering = false;
    Overlay* m_overlay = nullptr;
    std::thread m_worker;
    std::unique_ptr<Pending> m_pending;
    QString m_drawingText;
};

}  // namespace tsx
