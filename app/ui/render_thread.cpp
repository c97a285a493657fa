#include "app/ui/render_thread.h"

#include <exception>
#include <new>

#include "engine/render.h"

namespace tsx {

class RenderThread::Host final : public SourcesRenderHost {
public:
    explicit Host(RenderThread& thread)
        : SourcesRenderHost(thread.m_render.sources)
        , m_thread(thread)
    {
    }

    void progress(int percent) override { emit m_thread.progressed(percent); }
    void repaint() override { emit m_thread.repaintRequested(); }
    void rowsFinished(int firstRow, int count) override { emit m_thread.rowsFinished(firstRow, count); }
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

private:
    RenderThread& m_thread;
    bool m_ended = false;
};

RenderThread::RenderThread(PreparedRender render, QObject* parent)
    : QThread(parent)
    , m_render(std::move(render))
{
}

RenderThread::~RenderThread() { wait(); }

void RenderThread::run()
{
    Host host(*this);
    try {
        runRender(m_render, host);
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
