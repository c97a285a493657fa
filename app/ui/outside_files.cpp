#include "app/ui/outside_files.h"

#include <functional>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "app/ui/form1.h"
#include "app/ui/project_io.h"
#include "widgets/dialogs.h"
#include "wizard/ui/formnew.h"

namespace tsx {

namespace {

// The local files of a drag; empty when any of it is not a local file, so a
// drag that mixes in a web address is refused whole.
QStringList localFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

// Watches one widget for drags of local files. accepts() says whether the
// files may be dropped now; it is asked again at the drop, as a render may
// have started while the drag hovered.
class FileDropFilter : public QObject {
public:
    using Accepts = std::function<bool(const QStringList&)>;
    using Drop = std::function<void(const QStringList&)>;

    FileDropFilter(QWidget* target, TForm1& window, Accepts accepts, Drop drop)
        : QObject(target)
        , m_window(window)
        , m_accepts(std::move(accepts))
        , m_drop(std::move(drop))
    {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (acceptable(drag->mimeData()))
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = localFiles(drop->mimeData());
            if (!acceptable(drop->mimeData())) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            m_drop(files);
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    bool acceptable(const QMimeData* data) const
    {
        const QStringList files = localFiles(data);
        return !files.isEmpty() && !m_window.isRendering() && m_accepts(files);
    }

    TForm1& m_window;
    Accepts m_accepts;
    Drop m_drop;
};

bool isFolder(const QString& path) { return QFileInfo(path).isDir(); }

bool isPictureFile(const QString& path) { return !isFolder(path) && outsideFileKind(path) == OutsideFileKind::Picture; }

}  // namespace

OutsideFileKind outsideFileKind(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("tsx"))
        return OutsideFileKind::Project;
    if (suffix == QLatin1String("iml"))
        return OutsideFileKind::ImageList;
    return OutsideFileKind::Picture;
}

void openFromOutside(TForm1& window, const QString& fileName)
{
    if (window.isRendering())
        return;
    switch (outsideFileKind(fileName)) {
    case OutsideFileKind::Project:
        runGuarded(&window, [&] { loadProjectFile(window, fileName); });
        break;
    case OutsideFileKind::ImageList:
        window.btnewClick();
        window.Formnew->openImageListFile(fileName);
        break;
    case OutsideFileKind::Picture:
        window.btnewClick();
        window.Formnew->openSourcePicture(fileName);
        break;
    }
}

void acceptFileDrops(TForm1& window)
{
    new FileDropFilter(
        &window, window,
        [](const QStringList& files) {
            return files.size() == 1 && !isFolder(files[0]) && outsideFileKind(files[0]) == OutsideFileKind::Project;
        },
        [&window](const QStringList& files) { runGuarded(&window, [&] { loadProjectFile(window, files[0]); }); });

    TFormnew* wizard = window.Formnew;
    new FileDropFilter(
        wizard->plload, window,
        [](const QStringList& files) { return files.size() == 1 && isPictureFile(files[0]); },
        [wizard](const QStringList& files) { wizard->openSourcePicture(files[0]); });

    new FileDropFilter(
        wizard->pliml, window,
        [](const QStringList& files) {
            for (const QString& file : files)
                if (!isFolder(file) && !isPictureFile(file))
                    return false;
            return true;
        },
        [wizard](const QStringList& files) { wizard->addCellPictures(files); });
}

}  // namespace tsx
