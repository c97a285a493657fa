#include "wizard/ui/ui_wait.h"

#include <exception>
#include <optional>
#include <thread>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>

namespace tsx {

namespace {

class InputBlocker : public QObject {
public:
    InputBlocker()
    {
        qApp->installEventFilter(this);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~InputBlocker() override
    {
        QApplication::restoreOverrideCursor();
        qApp->removeEventFilter(this);
    }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::Close:
        case QEvent::ContextMenu:
            event->ignore();
            return true;
        default:
            return false;
        }
    }
};

}  // namespace

void runWhileUiWaits(const std::function<void()>& work, WaitInput input)
{
    QEventLoop loop;
    std::exception_ptr error;
    std::optional<InputBlocker> blocker;
    if (input == WaitInput::Blocked)
        blocker.emplace();
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        // queued, so it is seen even when the loop has not started yet
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

}  // namespace tsx
