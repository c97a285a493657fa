// Files from outside the program: named on its command line or dropped on
// its windows. Each loads by the road its dialog's file takes, with the same
// messages, and nothing loads while a render runs.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QUrl>

#include "app/project_file.h"
#include "app/ui/outside_files.h"
#include "gui_test_support.h"
#include "widgets/dialogs.h"
#include "wizard/ui/formnew.h"
#include "wizard_test_support.h"

using namespace tsx;

namespace {

// Drags the files over the widget and drops them when it takes them; true
// when the widget took the drag and the drop.
bool dropOn(QWidget* target, const QStringList& files)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    const QPoint at(5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

// A project of 16 x 16 cells of 4 x 4 pixels over two pictures, written to
// the file; the session is then emptied again, as at start.
void writeProject(const QString& path, const std::vector<std::string>& pictures)
{
    testing::setUpPlainJob(16, 16, 4, 4, pictures, [](int c, int r) { return (c + r) % 2; });
    saveProject(testing::bytesOf(path), mosaicJob(), imageList());
    imageList().clear();
    mosaicJob().settings = MosaicSettings{};
    mosaicJob().placementGrid.clear();
}

bool renderEndsWell()
{
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    return ended.wait(30000) && ended.first().at(0).toBool();
}

}  // namespace

class DesktopOpenTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup() { testing::endProgram(); }

    void namedFilesOpenAsTheirDialogsOpenThem()
    {
        QTemporaryDir dir;
        ScriptedDialogs dialogs;
        const QString source = dir.filePath(QStringLiteral("source.bmp"));
        testing::gradient(40, 30).WriteBmp(testing::bytesOf(source));
        openFromOutside(*Form1, source);
        QVERIFY(Formnew->isVisible());
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plload);
        QCOMPARE(testing::session().sourceFileName, testing::bytesOf(source));
        QCOMPARE(Formnew->lbsw->text(), QStringLiteral("Width: 40"));
        QVERIFY(Formnew->btnext1->isEnabled());
        QVERIFY(dialogs.messages.empty());

        // a file that does not load says what the dialog's file would say,
        // and the source stays
        for (const QString& name : { QStringLiteral("missing.bmp"), QStringLiteral("notes.xyz") }) {
            const QString bad = dir.filePath(name);
            if (name.endsWith(QLatin1String(".xyz")))
                QFile(bad).open(QIODevice::WriteOnly);
            dialogs.fileAnswers.push_back(bad);
            Formnew->btloadsource->click();
            openFromOutside(*Form1, bad);
            QCOMPARE(dialogs.messages.size(), size_t(2));
            QVERIFY(!dialogs.messages[0].text.isEmpty());
            QCOMPARE(dialogs.messages[1].text, dialogs.messages[0].text);
            QCOMPARE(dialogs.messages[1].caption, dialogs.messages[0].caption);
            QCOMPARE(testing::session().sourceFileName, testing::bytesOf(source));
            dialogs.messages.clear();
        }

        // so do a project and an ImageList that are not there
        const std::pair<QString, QAbstractButton*> missing[] = {
            { dir.filePath(QStringLiteral("gone.tsx")), Form1->sbload },
            { dir.filePath(QStringLiteral("gone.iml")), Formnew->Button3 },
        };
        for (const auto& [file, button] : missing) {
            dialogs.fileAnswers.push_back(file);
            button->click();
            openFromOutside(*Form1, file);
            QCOMPARE(dialogs.messages.size(), size_t(2));
            QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("gone.")));
            QCOMPARE(dialogs.messages[1].text, dialogs.messages[0].text);
            dialogs.messages.clear();
        }
        QVERIFY(!Form1->isRendering());

        const std::vector<std::string> pictures = testing::writePictures(dir.path(), 3);
        const QString list = dir.filePath(QStringLiteral("pictures.iml"));
        for (const std::string& picture : pictures)
            imageList().append(picture, CellSignature{ 1, 2, 3, 0, 0 });
        imageList().saveIml(testing::bytesOf(list));
        imageList().clear();
        openFromOutside(*Form1, list);
        QCOMPARE(imageList().paths(), pictures);
        QVERIFY(testing::listInStep(imageList()));
        QCOMPARE(Formnew->filelist->count(), 3);
        QCOMPARE(Form1->statusText(3), QStringLiteral("Files In ImageList : 3"));

        const QString project = dir.filePath(QStringLiteral("mosaic.tsx"));
        writeProject(project, pictures);
        openFromOutside(*Form1, project);
        QVERIFY(Form1->isRendering());
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 16 x 16 = 256"));
        QVERIFY(renderEndsWell());
        QCOMPARE(imageList().paths(), pictures);
        QVERIFY(dialogs.messages.size() == 1);  // the render's own end
    }

    void dropsLoadWhereTheyLandAndNotDuringARender()
    {
        QTemporaryDir dir;
        ScriptedDialogs dialogs;
        QDir().mkpath(dir.filePath(QStringLiteral("cells")));
        const std::vector<std::string> folderPictures = testing::writePictures(dir.filePath(QStringLiteral("cells")), 4);
        const std::vector<std::string> loose = testing::writePictures(dir.path(), 2);
        const QString source = dir.filePath(QStringLiteral("source.bmp"));
        testing::gradient(20, 10).WriteBmp(testing::bytesOf(source));
        const QString project = dir.filePath(QStringLiteral("mosaic.TSX"));
        writeProject(project, loose);
        Form1->btnewClick();

        // step 1 takes one picture, nothing else
        QVERIFY(!dropOn(Formnew->plload, { dir.filePath(QStringLiteral("cells")) }));
        QVERIFY(!dropOn(Formnew->plload, { source, source }));
        QVERIFY(!dropOn(Formnew->plload, { project }));
        QVERIFY(dropOn(Formnew->plload, { source }));
        QCOMPARE(testing::session().sourceFileName, testing::bytesOf(source));
        QCOMPARE(Formnew->lbsh->text(), QStringLiteral("Height: 10"));

        // step 3 takes folders and pictures and adds them in the order dropped
        QVERIFY(!dropOn(Formnew->pliml, { project }));
        QVERIFY(dropOn(Formnew->pliml, { QString::fromStdString(loose[1]), dir.filePath(QStringLiteral("cells")),
                                         QString::fromStdString(loose[0]) }));
        std::vector<std::string> expected{ loose[1] };
        expected.insert(expected.end(), folderPictures.begin(), folderPictures.end());
        expected.push_back(loose[0]);
        QCOMPARE(imageList().paths(), expected);
        QVERIFY(testing::listInStep(imageList()));
        QCOMPARE(Formnew->filelist->count(), 6);
        QCOMPARE(Formnew->lablefcount->text(), QStringLiteral("File Count In Image List : 6"));
        QVERIFY(dialogs.messages.empty());

        // the main window takes a project, and nothing while it draws one
        QVERIFY(!dropOn(Form1, { source }));
        QVERIFY(dropOn(Form1, { project }));
        QVERIFY(Form1->isRendering());
        QVERIFY(!dropOn(Form1, { project }));
        QVERIFY(!dropOn(Formnew->plload, { source }));
        QVERIFY(!dropOn(Formnew->pliml, { dir.filePath(QStringLiteral("cells")) }));
        QCOMPARE(imageList().paths(), loose);
        QVERIFY(renderEndsWell());
        QVERIFY(dropOn(Formnew->pliml, { dir.filePath(QStringLiteral("cells")) }));
        QCOMPARE(imageList().count(), size_t(6));
    }
};

TSX_WINDOW_TEST_MAIN(DesktopOpenTest)
#include "desktop_open_test.moc"
