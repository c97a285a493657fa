// The render thread of the desktop program: runs one render of the job and
// ends. Whatever the render asks of the windows leaves this thread as a
// queued signal; nothing here touches a widget.
#pragma once

#include <QThread>

#include "wizard/session.h"

namespace tsx {

/// One render of a prepared job; a fresh thread for every render. The render
/// reads the job and writes its mosaicImage under its lock; the UI thread
/// must not change the job until ended() arrives.
class RenderThread final : public QThread {
    Q_OBJECT
public:
    /// The ImageList's paths and the source file come prepared, so the
    /// render never reads a window's list.
    explicit RenderThread(PreparedRender render, QObject* parent = nullptr);
    ~RenderThread() override;

signals:
    void progressed(int percent);
    void repaintRequested();
    /// Mosaic pixel rows [firstRow, firstRow + count) are final.
    void rowsFinished(int firstRow, int count);
    void messageRequested(const QString& text, const QString& caption);
    /// Emitted exactly once, last: ok, or the text of the error that stopped it.
    void ended(bool ok, const QString& error);

protected:
    void run() override;

private:
    class Host;
    PreparedRender m_render;
};

}  // namespace tsx
