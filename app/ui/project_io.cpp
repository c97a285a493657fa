#include "app/ui/project_io.h"

#include <new>
#include <vector>

#include <QFile>

#include "app/project_file.h"
#include "app/ui/cell_editor.h"
#include "app/ui/form1.h"
#include "engine/mosaic_job.h"
#include "raster/byte_io.h"
#include "raster/errors.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"

namespace tsx {

namespace {

std::string localPath(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

}  // namespace

void saveProjectFromWindow(TForm1& window)
{
    if (window.isRendering())
        return;
    Session& session = window.session();
    const std::vector<uint8_t> image = buildProjectImage(session.job, session.imageList, window.cellEditor->marks());
    const QString fileName = getSaveFileName(&window, QString::fromLatin1(kProjectSaveTitle),
                                             QString::fromLatin1(kProjectFilter));
    if (fileName.isEmpty())
        return;
    writeProjectImage(localPath(fileName), image);
}

void loadProjectIntoWindow(TForm1& window)
{
    if (window.isRendering())
        return;
    const QString fileName = getOpenFileName(&window, QString::fromLatin1(kProjectOpenTitle),
                                             QString::fromLatin1(kProjectFilter));
    if (fileName.isEmpty())
        return;
    loadProjectFile(window, fileName);
}

void loadProjectFile(TForm1& window, const QString& fileName)
{
    if (window.isRendering())
        return;
    ProjectContents contents = parseProject(readWholeFile(localPath(fileName)));
    const MosaicSettings& s = contents.settings;
    Session& session = window.session();
    if (s.selfMosaic && s.rows > 0 && s.cols > 0 && session.sourceFileName.empty()) {
        showMessage(&window, QString::fromLatin1(kNoSourceForSelfMosaic));
        return;
    }

    MosaicJob& job = session.job;
    CellMarks marks = std::move(contents.marks);
    commitProject(std::move(contents), job, session.imageList);
    // the status bar describes the loaded job even when its mosaic finds no room
    const SizeStatusTexts texts = sizeStatusTexts(job.settings);
    window.setStatusText(0, QString::fromStdString(texts.cells));
    window.setStatusText(1, QString::fromStdString(texts.cellSize));
    window.setStatusText(2, QString::fromStdString(texts.mosaicSize));
    window.setStatusText(3, QString::fromStdString(session.imageList.statusText()));
    // the old pixels are released before the new ones are taken, so the view
    // follows whatever the raster holds, also when there was no room
    auto fitView = [&] {
        window.ddmainimg->resize(job.mosaicImage.Width(), job.mosaicImage.Height());
        window.ddmainimg->update();
    };
    try {
        sizeMosaicForProject(job);
    } catch (const std::bad_alloc&) {
        fitView();
        throw EOutOfResources(formatMessage(msg::kCannotBeMade, "DIB"));
    } catch (...) {
        fitView();
        throw;
    }
    fitView();

    window.refreshOverview();
    // a job saved before any mosaic was made has no cell to draw
    if (job.settings.rows > 0 && job.settings.cols > 0) {
        window.startRender();
        window.cellEditor->setMarks(std::move(marks));
    }
}

}  // namespace tsx
