#include "app/ui/render_thread.h"

#include <exception>
#include <new>

#include "engine/mosaic_job.h"
#include "engine/render.h"
#include "engine/render_host.h"
#include "raster/errors.h"

namespace tsx {

class RenderThread::Host final : public RenderHost {
public:
    explicit Host(RenderThread& thread)
        : m_thread(thread)
        , m_settings(mosaicJob().settings)
    {
    }

    std::string imagePath(int index) override
    {
        if (index < 0 || size_t(index) >= m_thread.m_imagePaths.size())
            throw EListError(formatMessage(msg::kListIndex, index));
        return m_thread.m_imagePaths[size_t(index)];
    }
    std::string sourcePath() override { return m_thread.m_sourcePath; }
    void progress(int percent) override
    {
        m_lastPercent = percent;
        emit m_thread.progressed(percent);
    }
    void repaint() override { emit m_thread.repaintRequested(); }
    void updateOverview() override
    {
        // The render asks at the start of every row of cells and once at
        // the end, so call k means the first k rows of cells are final. The
        // progress value of the row confirms it; when it does not, the
        // windows are told nothing is known and redraw the whole overview.
        const int k = m_overviewCalls++;
        const int rows = m_settings.rows;
        int finished = -1;
        if (k < rows) {
            const int expected = rows > 1 ? k * 100 / (rows - 1) : 100;
            if (m_lastPercent == expected)
                finished = k * m_settings.cellHeight;
        } else if (k == rows) {
            finished = rows * m_settings.cellHeight;
        }
        emit m_thread.overviewRequested(finished);
    }
    void message(const std::string& text, const std::string& caption) override
    {
        emit m_thread.messageRequested(QString::fromStdString(text), QString::fromStdString(caption));
    }
    void finished(bool ok, const std::string& error) override
    {
        if (m_ended)
            return;
        m_ended = true;
        emit m_thread.ended(ok, QString::fromStdString(error));
    }
    bool ended() const { return m_ended; }

private:
    RenderThread& m_thread;
    const MosaicSettings m_settings;  // a render does not change the job
    bool m_ended = false;
    int m_overviewCalls = 0;
    int m_lastPercent = -1;
};

RenderThread::RenderThread(std::vector<std::string> imagePaths, std::string sourcePath, QObject* parent)
    : QThread(parent)
    , m_imagePaths(std::move(imagePaths))
    , m_sourcePath(std::move(sourcePath))
{
}

RenderThread::~RenderThread() { wait(); }

void RenderThread::run()
{
    Host host(*this);
    try {
        renderMosaic(mosaicJob(), host);
    } catch (const std::bad_alloc&) {
        host.finished(false, "Out of memory");
    } catch (const std::exception& e) {
        host.finished(false, e.what());
    } catch (...) {
        host.finished(false, "Unknown error");
    }
    host.finished(true, {});  // no-op when the render already reported its end
}

}  // namespace tsx
