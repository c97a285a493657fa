// The render thread of the desktop program: runs one render of the job and
// ends. Whatever the render asks of the windows leaves this thread as a
// queued signal; nothing here touches a widget.
#pragma once

#include <string>
#include <vector>

#include <QThread>

namespace tsx {

/// One render of mosaicJob(); a fresh thread for every render. The render
/// reads the job and writes mosaicImage under its lock; the UI thread must
/// not change the job until ended() arrives.
class RenderThread final : public QThread {
    Q_OBJECT
public:
    /// The ImageList's paths and the source file are copied here, so the
    /// render never reads a window's list.
    RenderThread(std::vector<std::string> imagePaths, std::string sourcePath, QObject* parent = nullptr);
    ~RenderThread() override;

signals:
    void progressed(int percent);
    void repaintRequested();
    /// The overview should be brought up to date; the mosaic's pixel rows
    /// [0, finishedRows) are final, or -1 when that is not known.
    void overviewRequested(int finishedRows);
    void messageRequested(const QString& text, const QString& caption);
    /// Emitted exactly once, last: ok, or the text of the error that stopped it.
    void ended(bool ok, const QString& error);

protected:
    void run() override;

private:
    class Host;
    std::vector<std::string> m_imagePaths;
    std::string m_sourcePath;
};

}  // namespace tsx
