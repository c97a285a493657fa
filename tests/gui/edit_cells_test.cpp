// Editing a finished mosaic from the main window: hovering, selecting, every
// Edit command with undo and redo compared byte for byte, the guards, and a
// project saved with edits and locks that loads and renders (in the window
// and in the batch tool) into the same mosaic.
#include <algorithm>
#include <map>
#include <mutex>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "app/project_file.h"
#include "app/statistics.h"
#include "app/ui/cell_editor.h"
#include "app/ui/cell_panel.h"
#include "engine/cell_edit.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/byte_io.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"
#include "wizard/session.h"

using namespace tsx;

namespace {

constexpr int kSide = 16, kCell = 6, kPictures = 14;

std::string local(const QString& path) { return QFile::encodeName(path).toStdString(); }

CellEditor& editor() { return *Form1->cellEditor; }

// Pictures of random pixels with spread-out signatures, a real placement
// with the neighbour rule and a randomize level of 3, and its render.
std::vector<std::string> setUpMosaic(const QTemporaryDir& dir)
{
    std::vector<std::string> paths;
    imageList().clear();
    for (int i = 0; i < kPictures; ++i) {
        const QString path = dir.filePath(QStringLiteral("pic%1.bmp").arg(i));
        testing::noise(8 + i, 9, unsigned(i + 3)).WriteBmp(local(path));
        paths.push_back(local(path));
        imageList().append(paths.back(), CellSignature{ uint8_t(i * 18), uint8_t(255 - i * 15), uint8_t(i * 41 % 256), 0, 0 });
    }
    MosaicJob& job = mosaicJob();
    job.settings = testing::cellSettings(kSide, kSide, kCell, kCell);
    job.cellColourRaster = testing::noise(kSide, kSide, 11);
    CreationOptions options;
    options.randomLevel = 3;
    tsx::placeJob(testing::session(), options, 42u);
    Form1->sizeMosaic(kSide * kCell, kSide * kCell);
    return paths;
}

bool renderToEnd()
{
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    if (!Form1->isRendering())
        Form1->startRender();
    return ended.wait(30000) && ended.first().at(0).toBool();
}

std::vector<uint8_t> mosaicPixels()
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    const TDIB& dib = mosaicJob().mosaicImage;
    std::vector<uint8_t> out;
    for (int y = 0; y < dib.Height(); ++y)
        out.insert(out.end(), dib.ScanLine(y), dib.ScanLine(y) + dib.Width() * 3);
    return out;
}

std::vector<uint8_t> gridBytes()
{
    std::vector<uint8_t> out(kPlacementGridBytes);
    mosaicJob().placementGrid.writeTo(out.data());
    return out;
}

int pictureAt(int c, int r) { return mosaicJob().placementGrid.at(c, r).imageIndex; }

// The Edit menu's command of that text, as it is reached from outside.
QAction* command(const QString& text)
{
    for (QAction* a : editor().Edit1->actions()) {
        QString plain = a->text();
        plain.remove(QLatin1Char('&'));
        if (plain == text)
            return a;
    }
    return nullptr;
}

// Triggers the command and waits until the changed cells are in the mosaic.
bool runCommand(const QString& text)
{
    QAction* action = command(text);
    if (!action || !action->isEnabled())
        return false;
    QSignalSpy finished(&editor(), &CellEditor::editFinished);
    action->trigger();
    return !editor().isBusy() || finished.wait(30000);
}

QPoint centreOf(int c, int r) { return QPoint(c * kCell + kCell / 2, r * kCell + kCell / 2); }

void moveMouse(const QPoint& at, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, at, Form1->ddmainimg->mapToGlobal(at), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(Form1->ddmainimg, &move);
}

}  // namespace

class EditCellsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup() { testing::endProgram(); }

    void hoverTellsAndClicksSelectWithThePanel()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = setUpMosaic(dir);
        ScriptedDialogs dialogs;
        QVERIFY(renderToEnd());
        QVERIFY(!editor().panel->isVisible());

        moveMouse(centreOf(3, 2));
        const int picture = pictureAt(3, 2);
        const QString hover = editor().hoverLabel->text();
        QVERIFY2(hover.startsWith(QStringLiteral("Cell 3, 2: pic%1.bmp, distance ").arg(picture)), qPrintable(hover));
        QCOMPARE(hover.section(QLatin1Char(' '), -1).toInt(), matchDistance(mosaicJob(), { 3, 2 }, picture));
        QCOMPARE(Form1->ddmainimg->toolTip(), hover);

        QTest::mouseClick(Form1->ddmainimg, Qt::LeftButton, Qt::NoModifier, centreOf(3, 2));
        QCOMPARE(editor().selection(), (std::set<CellRef>{ { 3, 2 } }));
        QVERIFY(editor().panel->isVisible());
        QCOMPARE(editor().panel->pathLabel->text(), QString::fromStdString(paths[size_t(picture)]));
        const CellSignature sig = signatureAt(mosaicJob().workingSignatures, size_t(picture));
        QCOMPARE(editor().panel->signatureLabel->text(), QStringLiteral("%1, %2, %3").arg(sig.red).arg(sig.green).arg(sig.blue));
        // the cell's colour is what placement matched the picture against
        const uint8_t* colour = mosaicJob().cellColourRaster.ScanLine(2) + 3 * 3;
        QCOMPARE(editor().panel->colourLabel->text(), QStringLiteral("%1, %2, %3").arg(colour[2]).arg(colour[1]).arg(colour[0]));
        QString opened;
        editor().panel->openFolder = [&](const QString& folder) { opened = folder; };
        editor().panel->showInFolder->click();
        QCOMPARE(opened, dir.path());

        QTest::mouseClick(Form1->ddmainimg, Qt::LeftButton, Qt::ShiftModifier, centreOf(5, 5));
        QCOMPARE(editor().selection().size(), size_t(2));
        QTest::mouseClick(Form1->ddmainimg, Qt::LeftButton, Qt::ShiftModifier, centreOf(5, 5));
        QCOMPARE(editor().selection().size(), size_t(1));
        // a drag selects the cells of the rectangle it spans
        QTest::mousePress(Form1->ddmainimg, Qt::LeftButton, Qt::NoModifier, centreOf(1, 1));
        moveMouse(centreOf(3, 2), Qt::LeftButton);
        QTest::mouseRelease(Form1->ddmainimg, Qt::LeftButton, Qt::NoModifier, centreOf(3, 2));
        QCOMPARE(editor().selection().size(), size_t(6));
        QVERIFY(editor().selection().count({ 2, 1 }) && editor().selection().count({ 3, 2 }));

        // the context menu offers the commands for the cell under it
        QStringList offered;
        QTimer::singleShot(0, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                for (QAction* a : popup->actions())
                    if (!a->isSeparator())
                        offered << a->text().remove(QLatin1Char('&'));
                popup->close();
            }
        });
        QContextMenuEvent menu(QContextMenuEvent::Mouse, centreOf(9, 9), Form1->ddmainimg->mapToGlobal(centreOf(9, 9)));
        QApplication::sendEvent(Form1->ddmainimg, &menu);
        QCOMPARE(editor().selection(), (std::set<CellRef>{ { 9, 9 } }));
        QCOMPARE(offered, (QStringList{ QStringLiteral("Next Candidate"), QString::fromUtf8("Choose Picture…"),
                                        QStringLiteral("Lock"), QStringLiteral("Unlock"), QStringLiteral("Exclude Picture"),
                                        QStringLiteral("Re-place Unlocked Cells"), QStringLiteral("Undo"),
                                        QStringLiteral("Redo") }));
    }

    void everyCommandUndoesAndRedoesToTheSameBytes()
    {
        QTemporaryDir dir;
        setUpMosaic(dir);
        ScriptedDialogs dialogs;
        QVERIFY(renderToEnd());
        const MosaicJob& job = mosaicJob();
        struct State {
            std::vector<uint8_t> grid, pixels, signatures;
            CellMarks marks;
        };
        auto state = [&] { return State{ gridBytes(), mosaicPixels(), job.workingSignatures, editor().marks() }; };
        auto same = [](const State& a, const State& b) {
            return a.grid == b.grid && a.pixels == b.pixels && a.signatures == b.signatures && a.marks == b.marks;
        };
        std::vector<State> states{ state() };

        editor().select({ { 4, 4 } });
        const std::optional<int> next = nextCandidate(job, kPictures, editor().marks(), { 4, 4 });
        QVERIFY(next.has_value());
        QVERIFY(runCommand(QStringLiteral("Next Candidate")));
        QCOMPARE(pictureAt(4, 4), *next);
        states.push_back(state());

        editor().pictureChooser = [](QWidget*, int) { return 7; };
        editor().select({ { 0, 0 }, { 15, 15 } });
        QVERIFY(runCommand(QString::fromUtf8("Choose Picture…")));
        QCOMPARE(pictureAt(0, 0), 7);
        QCOMPARE(pictureAt(15, 15), 7);
        states.push_back(state());

        editor().select({ { 0, 0 }, { 4, 4 } });
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        QTest::keyClick(Form1, Qt::Key_L);  // Lock by its key
        QCOMPARE(editor().marks().locked, (std::set<CellRef>{ { 0, 0 }, { 4, 4 } }));
        states.push_back(state());

        editor().select({ { 15, 15 } });
        QVERIFY(runCommand(QStringLiteral("Exclude Picture")));
        QVERIFY(editor().marks().excluded.count(7));
        QCOMPARE(pictureAt(0, 0), 7);  // locked
        for (int r = 0; r < kSide; ++r)
            for (int c = 0; c < kSide; ++c)
                if (!(c == 0 && r == 0))
                    QVERIFY(pictureAt(c, r) != 7);
        states.push_back(state());

        const std::vector<uint8_t> before = gridBytes();
        QVERIFY(runCommand(QStringLiteral("Re-place Unlocked Cells")));
        QVERIFY(gridBytes() != before);
        QCOMPARE(pictureAt(0, 0), 7);
        QCOMPARE(pictureAt(4, 4), *next);
        states.push_back(state());

        editor().select({ { 4, 4 } });
        QVERIFY(runCommand(QStringLiteral("Unlock")));
        QVERIFY(!editor().marks().locked.count({ 4, 4 }));
        states.push_back(state());

        // back through every step by the key, forward again by the menu
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        for (size_t k = states.size() - 1; k > 0; --k) {
            QTest::keyClick(Form1, Qt::Key_Z, Qt::ControlModifier);
            QVERIFY2(same(state(), states[k - 1]), qPrintable(QString::number(k)));
        }
        QVERIFY(!command(QStringLiteral("Undo"))->isEnabled());
        for (size_t k = 1; k < states.size(); ++k) {
            if (k % 2)
                QVERIFY(runCommand(QStringLiteral("Redo")));
            else
                QTest::keyClick(Form1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            QVERIFY2(same(state(), states[k]), qPrintable(QString::number(k)));
        }
        QVERIFY(!command(QStringLiteral("Redo"))->isEnabled());

        // the cells drawn by the commands are the cells a whole render draws
        const std::vector<uint8_t> edited = mosaicPixels();
        QVERIFY(renderToEnd());
        QVERIFY(mosaicPixels() == edited);
        // a render starts a new history
        QVERIFY(!editor().history().canUndo());
    }

    void choosePictureListsEveryPictureWithItsThumbnail()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = setUpMosaic(dir);
        ScriptedDialogs dialogs;
        QVERIFY(renderToEnd());
        editor().select({ { 2, 2 } });
        int listed = 0;
        bool thumbnails = false;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            auto* list = dialog ? dialog->findChild<QListWidget*>(QStringLiteral("pictureList")) : nullptr;
            if (!list)
                return;
            listed = list->count();
            QCOMPARE(list->currentRow(), pictureAt(2, 2));
            // the rows start with a transparent placeholder
            thumbnails = QTest::qWaitFor([&] {
                const QImage icon = list->item(kPictures - 1)->icon().pixmap(48, 48).toImage();
                return icon.pixelColor(icon.width() / 2, icon.height() / 2).alpha() == 255;
            }, 10000);
            list->setCurrentRow(kPictures - 1);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QVERIFY(runCommand(QString::fromUtf8("Choose Picture…")));
        QCOMPARE(listed, kPictures);
        QVERIFY(thumbnails);
        QCOMPARE(pictureAt(2, 2), kPictures - 1);
    }

    void commandsWaitForARenderAndAGonePictureLeavesItsCell()
    {
        QTemporaryDir dir;
        setUpMosaic(dir);
        ScriptedDialogs dialogs;
        // before any render there is nothing to edit
        QVERIFY(!command(QStringLiteral("Re-place Unlocked Cells"))->isEnabled());
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        Form1->startRender();
        for (const char* text : { "Next Candidate", "Lock", "Unlock", "Exclude Picture", "Re-place Unlocked Cells", "Undo", "Redo" }) {
            QVERIFY(!command(QLatin1String(text))->isEnabled());
            QCOMPARE(command(QLatin1String(text))->statusTip(), QStringLiteral("Not while the mosaic is being drawn"));
        }
        QVERIFY(ended.wait(30000));
        editor().select({ { 2, 3 } });
        QVERIFY(command(QStringLiteral("Next Candidate"))->isEnabled());

        const std::optional<int> next = nextCandidate(mosaicJob(), kPictures, editor().marks(), { 2, 3 });
        QVERIFY(next.has_value());
        QVERIFY(QFile::remove(QString::fromStdString(imageList().path(*next))));
        const std::vector<uint8_t> grid = gridBytes(), pixels = mosaicPixels();
        dialogs.messages.clear();
        QVERIFY(runCommand(QStringLiteral("Next Candidate")));
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QVERIFY2(dialogs.messages[0].text.contains(QStringLiteral("Cell 2, 3")), qPrintable(dialogs.messages[0].text));
        QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("pic%1.bmp").arg(*next)));
        QVERIFY(gridBytes() == grid);
        QVERIFY(mosaicPixels() == pixels);
        QVERIFY(!editor().history().canUndo());

        // while changed cells are drawn the job's commands wait as for a render
        QSignalSpy finished(&editor(), &CellEditor::editFinished);
        command(QStringLiteral("Re-place Unlocked Cells"))->trigger();
        QVERIFY(editor().isBusy());
        QVERIFY(Form1->isRendering());
        QVERIFY(!Form1->sbload->isEnabled() && !Form1->sbsavem->isEnabled() && !Form1->sbcls->isEnabled());
        QCOMPARE(command(QStringLiteral("Undo"))->statusTip(), QStringLiteral("Not while changed cells are being drawn"));
        QVERIFY(finished.wait(30000));
        QVERIFY(Form1->sbload->isEnabled());

        // Clear all leaves the blank picture, which has no cells to edit
        Form1->sbcls->click();
        QVERIFY(editor().selection().empty());
        QVERIFY(!command(QStringLiteral("Next Candidate"))->isEnabled());
    }

    void editedProjectSavesLoadsAndRendersTheSameInBothPrograms()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = setUpMosaic(dir);
        ScriptedDialogs dialogs;
        QVERIFY(renderToEnd());
        const QString plainFile = dir.filePath(QStringLiteral("plain.TSX"));
        dialogs.fileAnswers.push_back(plainFile);
        Form1->SaveMosaic1->trigger();
        const std::vector<uint8_t> plain = readWholeFile(local(plainFile));

        editor().select({ { 8, 8 }, { 9, 8 } });
        QVERIFY(runCommand(QStringLiteral("Next Candidate")));
        QVERIFY(runCommand(QStringLiteral("Lock")));
        editor().select({ { 3, 12 } });
        QVERIFY(runCommand(QStringLiteral("Exclude Picture")));
        const CellMarks marks = editor().marks();
        const std::vector<uint8_t> grid = gridBytes(), pixels = mosaicPixels();
        const std::vector<uint8_t> signatures = mosaicJob().workingSignatures;

        const QString editedFile = dir.filePath(QStringLiteral("edited.TSX"));
        dialogs.fileAnswers.push_back(editedFile);
        Form1->SaveMosaic1->trigger();
        const std::vector<uint8_t> saved = readWholeFile(local(editedFile));
        // the layout of a project as before, the edited records in it, the
        // marks after its end
        const size_t end = plain.size();
        QVERIFY(saved.size() > end);
        QVERIFY(std::equal(saved.begin(), saved.begin() + 80, plain.begin()));
        const ProjectContents contents = parseProject(std::span<const uint8_t>(saved.data(), end));
        std::vector<uint8_t> savedGrid(kPlacementGridBytes);
        contents.placementGrid->writeTo(savedGrid.data());
        QVERIFY(savedGrid == grid);
        QVERIFY(contents.workingSignatures == signatures);
        QVERIFY(contents.marks.empty());
        QVERIFY(parseProject(saved).marks == marks);
        // the statistic counts the cells as edited
        std::map<int, int> counted;
        for (int r = 0; r < kSide; ++r)
            for (int c = 0; c < kSide; ++c)
                ++counted[pictureAt(c, r)];
        for (const UsageEntry& e : countUsage(mosaicJob().settings, mosaicJob().placementGrid))
            QCOMPARE(e.count, counted[e.imageIndex]);

        // Clear all keeps the job, and with it its marks
        Form1->sbcls->click();
        QVERIFY(editor().marks() == marks);
        dialogs.fileAnswers.push_back(editedFile);
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        Form1->LoadMosaic1->trigger();
        QVERIFY(ended.wait(30000));
        QVERIFY(gridBytes() == grid);
        QVERIFY(mosaicPixels() == pixels);
        QVERIFY(editor().marks() == marks);
        QVERIFY(!command(QStringLiteral("Undo"))->isEnabled());

        // the batch tool draws the same mosaic from the edited project
        const QString tool = QStringLiteral(TESSERIX_BINARY_DIR "/tesserix-cli");
        if (!QFile::exists(tool))
            QSKIP("the batch tool is not built (target tesserix-cli)");
        const QString out = dir.filePath(QStringLiteral("batch.bmp"));
        QCOMPARE(QProcess::execute(tool, { QStringLiteral("render"), QStringLiteral("--project"), editedFile,
                                           QStringLiteral("--out"), out, QStringLiteral("--quiet") }),
                 0);
        const QString window = dir.filePath(QStringLiteral("window.bmp"));
        mosaicJob().mosaicImage.WriteBmp(local(window));
        QVERIFY(readWholeFile(local(out)) == readWholeFile(local(window)));
    }
};

TSX_WINDOW_TEST_MAIN(EditCellsTest)
#include "edit_cells_test.moc"
