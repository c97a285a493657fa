// TForm1, the main window: the mosaic at full size in a scrolling view, the
// toolbar and menu that reach every command, the progress bar and the status
// bar. It owns the render while one runs.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include "app/ui/match_error_overlay.h"
#include "raster/dib.h"
#include "wizard/ui/wizard_host.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QScrollArea;
class QToolButton;

namespace tsx {

struct Session;
class CellEditor;
class RenderThread;
class TDXPaintBox;
class TForm3;
class TForm4;
class TForm7;
class TMissingColours;
class TFormnew;
class TPrintform;

/// The main window. It owns the other five windows, which it creates after
/// its own controls, and it is the wizard's host. All members are used on
/// the UI thread only.
class TForm1 : public QMainWindow, public WizardHost {
    Q_OBJECT
public:
    /// The session must outlive the window.
    explicit TForm1(Session& session, QWidget* parent = nullptr);
    ~TForm1() override;

    Session& session() { return m_session; }

    // The other windows, owned by this one.
    TFormnew* Formnew = nullptr;
    TForm3* Form3 = nullptr;
    TForm4* Form4 = nullptr;
    TPrintform* Printform = nullptr;
    TForm7* Form7 = nullptr;
    TMissingColours* MissingColoursWindow = nullptr;

    // Controls, under their names.
    QFrame* Panel1 = nullptr;
    QToolButton* btnew = nullptr;
    QToolButton* sbsavem = nullptr;
    QToolButton* sbload = nullptr;
    QToolButton* sbcls = nullptr;
    QToolButton* btsaveimg = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton5 = nullptr;
    QToolButton* btoverview = nullptr;
    QToolButton* sbabout = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* pb2 = nullptr;
    QFrame* Panel2 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    TDXPaintBox* ddmainimg = nullptr;
    QLabel* statusPanel[4] = {};

    QAction* CreateNew1 = nullptr;
    QAction* LoadMosaic1 = nullptr;
    QAction* SaveMosaic1 = nullptr;
    QAction* SaveImage1 = nullptr;
    QAction* ClearAll1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* Overview1 = nullptr;
    QAction* MatchError1 = nullptr;  // "Match Error": shades the cells by match distance
    QAction* Print1 = nullptr;
    QAction* Stats1 = nullptr;
    QAction* MissingColours1 = nullptr;  // "Missing Colours..."
    QAction* About1 = nullptr;
    /// The Edit menu's commands on the finished mosaic's cells.
    CellEditor* cellEditor = nullptr;

    // Handlers.
    void btnewClick();
    void sbsavemClick();
    void sbloadClick();
    void sbclsClick();
    void btsaveimgClick();
    void SpeedButton2Click();
    void SpeedButton5Click();
    void btoverviewClick();
    void Overview1Click();
    void sbaboutClick();
    void Exit1Click();

    // Services to the other windows.
    /// The mosaic raster shown by ddmainimg (the job's mosaicImage). While a
    /// render runs nothing may resize it or copy it: the render writes it in
    /// place, and a copy sharing its pixels would make it duplicate them.
    TDIB& mosaicImage();
    /// Gives mosaicImage width x height pixels at 24 bits and the paint box
    /// the same size; out of memory leaves the old raster and raises.
    void sizeMosaic(int width, int height);
    /// Writes status bar panel 0..3.
    void setStatusText(int panel, const QString& text) override;
    QString statusText(int panel) const;
    /// Clear all without the error guard, for callers that have their own.
    void clearAll();
    /// Starts the render of the placed job on its own thread; the wizard's
    /// file list and source file are read now, not while rendering.
    void startRender() override;
    /// True while a render runs or changed cells are drawn.
    bool isRendering() const;
    /// Locks the job's commands while edited cells are drawn, as a render does.
    void setEditRunning(bool running) { setRenderingUi(running); }

    // The rest of the wizard's host.
    void resizeMosaicView(int width, int height) override;
    void repaintMosaicView() override;
    void refreshOverview() override;

signals:
    /// A render started (true) or ended (false).
    void renderingChanged(bool rendering);
    /// The render ended and its final message (if any) was shown.
    void renderEnded(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void buildToolbar();
    void buildMenu();
    void buildStatusBar();
    void fitStatusPanel(int panel);
    void applyOverviewToggle();
    void openWindow(QWidget* window);
    void setRenderingUi(bool rendering);
    void onRenderProgress(int percent);
    void onRenderRepaint();
    void onRenderRowsFinished(int firstRow, int count);
    void onRenderMessage(const QString& text, const QString& caption);
    void onRenderEnded(bool ok, const QString& error);
    void flushOverview();
    void refreshMatchError();

    Session& m_session;
    TDIB m_blankRaster;
    RenderThread* m_render = nullptr;
    bool m_shownOnce = false;
    // Overview refreshes during a render are coalesced (see flushOverview).
    bool m_repaintPending = false;
    bool m_overviewPending = false;
    QElapsedTimer m_clock;
    qint64 m_nextOverviewAt = 0;
    int m_finishedRows = 0;  // mosaic pixel rows [0, m_finishedRows) are final
    std::vector<std::pair<QString, QString>> m_renderMessages;
    MatchErrorMap m_matchErrorMap;
    MatchErrorOverlay* m_mainOverlay = nullptr;
    MatchErrorOverlay* m_overviewOverlay = nullptr;
    MatchErrorLegend* m_matchErrorLegend = nullptr;
};

}  // namespace tsx
