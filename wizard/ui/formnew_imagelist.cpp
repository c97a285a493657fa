// The ImageList step of the creation wizard: folder loads, preview, delete,
// clear and the .iml file. The list box mirrors the session's ImageList line for line.
#include <atomic>
#include <exception>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QSignalBlocker>

#include "raster/byte_io.h"
#include "raster/ui/dxpaintbox.h"
#include "tesserix_version.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"
#include "wizard/session.h"
#include "wizard/signature_cache.h"
#include "wizard/ui/formnew.h"
#include "wizard/ui/ui_wait.h"

namespace tsx {

namespace {
const char* const kImageListFilter = "ImageList File|*.iml";
const char* const kImageListSuffix = "iml";

QString pathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string pathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
}  // namespace

void TFormnew::writeCountLabels()
{
    const ImageList& list = m_session.imageList;
    setAutoText(lablefcount, QString::fromStdString(list.countLabel()));
    m_host.setStatusText(3, QString::fromStdString(list.statusText()));
}

void TFormnew::syncFileList()
{
    const std::vector<std::string>& paths = m_session.imageList.paths();
    bool same = filelist->count() == int(paths.size());
    for (int i = 0; same && i < filelist->count(); ++i)
        same = filelist->item(i)->text() == pathText(paths[size_t(i)]);
    if (same)
        return;
    const QSignalBlocker quiet(filelist);
    filelist->clear();
    for (const std::string& path : paths)
        filelist->addItem(pathText(path));
}

void TFormnew::btloadcell2Click()
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        const std::string samplePath
            = findSampleFolder(pathBytes(QCoreApplication::applicationDirPath()), kSampleFolderFromBin);
        const QString prompt = pathText(sampleFolderPromptFor(samplePath));
        const QString samples = pathText(samplePath);
        const QString folder
            = getExistingDirectory(this, prompt, QDir(samples).exists() ? samples : QDir::homePath());
        if (folder.isEmpty()) {
            writeCountLabels();
            return;
        }
        loadFolder(folder);
    });
}

void TFormnew::loadFolder(const QString& folder)
{
    const std::string folderPath = pathBytes(folder);
    loadCellPictures([&](ImageList& list, const FolderLoadOptions& options) { list.loadFolder(folderPath, options); });
}

void TFormnew::addCellPictures(const QStringList& paths)
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        // in the order given: each folder as Load Cell Images loads one, the
        // pictures between folders as one load of their own
        std::vector<std::string> pictures;
        auto addPictures = [&] {
            if (!pictures.empty())
                loadCellPictures([&](ImageList& list, const FolderLoadOptions& options) {
                    list.loadFiles(pictures, options);
                });
            pictures.clear();
        };
        for (const QString& path : paths) {
            if (QFileInfo(path).isDir()) {
                addPictures();
                loadFolder(path);
            } else {
                pictures.push_back(pathBytes(path));
            }
        }
        addPictures();
    });
}

void TFormnew::loadCellPictures(const std::function<void(ImageList&, const FolderLoadOptions&)>& load)
{
    // Decoding runs on worker threads into a list of our own; the entries
    // join the ImageList here on the UI thread, all of them that were
    // committed, also when the load was cancelled or stopped at a bad file.
    std::vector<uint8_t> loadedSignatures;
    ImageList loaded(loadedSignatures);
    std::atomic<bool> cancel{ false };

    QProgressDialog progress(QStringLiteral("Loading pictures..."), QStringLiteral("Cancel"), 0, 0, this);
    progress.setObjectName(QStringLiteral("folderProgress"));
    progress.setWindowTitle(QStringLiteral("Load Cell Images"));
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setWindowModality(Qt::ApplicationModal);
    connect(&progress, &QProgressDialog::canceled, this, [&cancel] { cancel = true; });
    // shown at once: while it is up, no window can start another change of
    // the ImageList (or a render) under the load
    progress.show();

    FolderLoadOptions options;
    options.cancel = &cancel;
    options.recursive = cbsubfolders->isChecked();
    // pictures loaded before, in this run or an earlier one, are not decoded again
    SignatureCache cache(SignatureCache::defaultFile());
    cache.readFile();
    options.cache = &cache;
    // the cell size is chosen by now: the pictures decoded here are kept at
    // it, so the render need not decode them again
    const MosaicSettings& settings = m_session.job.settings;
    m_session.keptCells.prepare(settings.cellWidth, settings.cellHeight, RenderOptions{}.cacheBytes);
    options.keep = &m_session.keptCells;
    options.progress = [&progress](size_t done, size_t total) {
        QMetaObject::invokeMethod(
            &progress,
            [&progress, done, total] {
                progress.setMaximum(int(total));
                progress.setValue(int(done));
                progress.setLabelText(QStringLiteral("Loading pictures %1 / %2").arg(done).arg(total));
            },
            Qt::QueuedConnection);
    };

    std::exception_ptr failure;
    try {
        runWhileUiWaits([&] { load(loaded, options); }, WaitInput::Allowed);
    } catch (...) {
        failure = std::current_exception();
    }
    progress.close();

    ImageList& list = m_session.imageList;
    for (size_t i = 0; i < loaded.count(); ++i) {
        list.append(loaded.paths()[i], signatureAt(loadedSignatures, i));
        filelist->addItem(pathText(loaded.paths()[i]));
    }
    // written also when a bad file stopped the load, so they never show a
    // count other than the list's
    writeCountLabels();
    if (failure)
        std::rethrow_exception(failure);
}

void TFormnew::filelistClick()
{
    runGuarded(this, [&] {
        const int row = filelist->currentRow();
        if (row < 0)
            return;
        const std::string& path = m_session.imageList.path(row);
        // the step's own scratch picture: the render loads into the job's
        LoadPicture(path, m_previewPicture);
        ddprev2->DIB().AssignFrom(m_previewPicture.Graphic());
        ddprev2->update();
        filelist->setToolTip(pathText(path));
    });
}

void TFormnew::deleteSelectedEntry()
{
    if (m_rendering)
        return;
    const int k = filelist->currentRow();
    if (k < 0 || filelist->count() == 0 || !filelist->item(k)->isSelected())
        return;
    const long long next = m_session.imageList.remove(k);
    {
        const QSignalBlocker quiet(filelist);
        delete filelist->takeItem(k);
        if (next >= 0)
            filelist->setCurrentRow(int(next));
    }
    if (next >= 0)
        filelistClick();
    writeCountLabels();
}

void TFormnew::btclearClick()
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        m_session.imageList.clear();
        // their memory goes with the list; a picture loaded again is kept again
        m_session.keptCells.clear();
        {
            const QSignalBlocker quiet(filelist);
            filelist->clear();
        }
        writeCountLabels();
        ddprev2->DIB().MakeEmpty();
        ddprev2->update();
    });
}

void TFormnew::Button4Click()
{
    runGuarded(this, [&] {
        const std::vector<uint8_t> bytes = m_session.imageList.toImlBytes();
        const QString fileName = getSaveFileName(this, QStringLiteral("Save ImageList"),
                                                 QLatin1String(kImageListFilter), QLatin1String(kImageListSuffix));
        if (fileName.isEmpty())
            return;
        writeWholeFile(pathBytes(fileName), bytes);
    });
}

void TFormnew::Button3Click()
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        const QString fileName
            = getOpenFileName(this, QStringLiteral("Load ImageList"), QLatin1String(kImageListFilter));
        if (!fileName.isEmpty()) {
            m_session.imageList.loadIml(pathBytes(fileName));
            syncFileList();
        }
        writeCountLabels();
    });
}

void TFormnew::openImageListFile(const QString& fileName)
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        m_session.imageList.loadIml(pathBytes(fileName));
        syncFileList();
        writeCountLabels();
    });
}

}  // namespace tsx
