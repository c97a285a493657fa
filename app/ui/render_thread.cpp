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
    {
    }

    std::string imagePath(int index) override
    {
        if (index < 0 || size_t(index) >= m_thread.m_imagePaths.size())
            throw EListError(formatMessage(msg::kListIndex, index));
        return m_thread.m_imagePaths[size_t(index)];
    }
    std::string sourcePath() override { return m_thread.m_sourcePath; }
    void progress(int percent) override { emit m_thread.progressed(percent); }
    void repaint() override { emit m_thread.repaintRequested(); }
    void updateOverview() override { emit m_thread.overviewRequested(); }
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
    bool m_ended = false;
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
