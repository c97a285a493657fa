// Project files and the usage statistic driven through the main window and
// the statistics window: the file written, refused files, the render after
// a load, the statistic's text and its text file.
#include <algorithm>
#include <cstring>
#include <mutex>

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/project_file.h"
#include "widgets/dialogs.h"
#include "app/ui/form7.h"
#include "app/ui/printform.h"
#include "app/ui/project_io.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/byte_io.h"
#include "raster/ui/dxpaintbox.h"
#include "wizard/image_list.h"
#include "wizard/ui/formnew.h"

using namespace tsx;

namespace {

std::string local(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A 10 x 12 picture whose pixels all differ, so a cell drawn from the wrong
// picture, mirrored or shifted shows.
void writeTile(const QString& path, int seed)
{
    TDIB dib;
    dib.Allocate(10, 12, 24);
    for (int y = 0; y < 12; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < 10; ++x, p += 3) {
            p[0] = uint8_t(seed * 70 + x * 20);
            p[1] = uint8_t(seed * 30 + y * 18);
            p[2] = uint8_t(200 - seed * 60 + x * y);
        }
    }
    dib.WriteBmp(local(path));
}

std::vector<std::string> writeTiles(const QTemporaryDir& dir, int count)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("tile%1.bmp").arg(i));
        writeTile(path, i);
        paths.push_back(local(path));
    }
    return paths;
}

// A placed job of 16 x 16 cells of 4 x 4 pixels over three pictures, with
// colour offsets in some cells and no flips, as the wizard leaves it.
void setUpJob(const std::vector<std::string>& paths)
{
    MosaicSettings settings = testing::cellSettings(16, 16, 4, 4);
    settings.diskSpaceMB = 0.01171875;
    settings.randomLevel = 3;
    settings.maxRepeat = 5;
    testing::placeJob(settings, [](int c, int r) {
        return CellPlacement{ (c * 7 + r) % 3, (c - r) * 3, r * 2, -c, 1 };
    });
    MosaicJob& job = mosaicJob();
    imageList().clear();
    job.workingSignatures.clear();
    for (size_t i = 0; i < paths.size(); ++i) {
        const CellSignature sig{ uint8_t(10 * i), uint8_t(20 * i), uint8_t(30 * i), 0, int32_t(40 + i) };
        imageList().append(paths[i], sig);
        appendSignature(job.workingSignatures, sig);
    }
    Form1->sizeMosaic(64, 64);
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

bool renderToEnd()
{
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    if (!Form1->isRendering())
        Form1->startRender();
    return ended.wait(30000) && ended.first().at(0).toBool();
}

std::vector<uint8_t> fileBytes(const QString& path) { return readWholeFile(local(path)); }

void writeBytes(const QString& path, const std::vector<uint8_t>& bytes) { writeWholeFile(local(path), bytes); }

void putI32(std::vector<uint8_t>& bytes, size_t offset, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
}

QStringList memoLines() { return Form7->Memo1->toPlainText().split(QLatin1Char('\n')); }

}  // namespace

class OutputsProjectTest : public QObject {
    Q_OBJECT
private slots:
    void init() { testing::startProgram(); }
    void cleanup()
    {
        testing::endProgram();
    }

    void savedProjectLoadsIntoTheSameMosaicAndSavesEqual()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = writeTiles(dir, 3);
        setUpJob(paths);
        ScriptedDialogs dialogs;
        QVERIFY(renderToEnd());
        const std::vector<uint8_t> before = mosaicPixels();
        dialogs.messages.clear();
        const QString first = dir.filePath(QStringLiteral("first.TSX"));
        dialogs.fileAnswers.push_back(first);
        QTest::mouseClick(Form1->sbsavem, Qt::LeftButton);
        QVERIFY(dialogs.messages.empty());
        const FileRequest& request = dialogs.fileRequests.back();
        QCOMPARE(request.kind, FileRequest::Kind::Save);
        QCOMPARE(request.title, QStringLiteral("Save PhotoMosaic Project File"));
        QCOMPARE(request.filters, QStringList{ QStringLiteral("Mosaic Project File (*.TSX)") });
        QVERIFY(request.defaultSuffix.isEmpty());
        const MosaicSettings settings = mosaicJob().settings;

        const std::vector<uint8_t> saved = fileBytes(first);
        const size_t textBytes = joinTextLines(paths).size();
        QCOMPARE(saved.size(), size_t(12800080) + textBytes + 24);
        for (size_t reserved : { 13, 14, 15, 53, 54, 55, 69, 70, 71 })
            QCOMPARE(saved[reserved], uint8_t(0));
        const size_t grid = 80 + textBytes + 24;
        for (size_t record = 0; record < 800 * 800; record += 997)
            for (size_t b = 17; b < 20; ++b)
                QCOMPARE(saved[grid + record * 20 + b], uint8_t(0));

        // another job in memory, a different mosaic, then the saved one back
        Form1->sbcls->click();
        imageList().clear();
        mosaicJob().settings = MosaicSettings{};
        mosaicJob().placementGrid.clear();
        mosaicJob().workingSignatures.clear();
        Form1->sizeMosaic(30, 20);
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        dialogs.fileAnswers.push_back(first);
        QTest::mouseClick(Form1->sbload, Qt::LeftButton);
        QCOMPARE(dialogs.fileRequests.back().kind, FileRequest::Kind::Open);
        QCOMPARE(dialogs.fileRequests.back().title, QStringLiteral("Open PhotoMosaic Project File"));
        QCOMPARE(dialogs.fileRequests.back().filters, QStringList{ QStringLiteral("Mosaic Project File (*.TSX)") });
        QVERIFY(Form1->isRendering());
        // printing waits for the render, as the main window's commands do
        QVERIFY(!Printform->Button1->isEnabled());
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 16 x 16 = 256"));
        QCOMPARE(Form1->statusText(1), QStringLiteral("Cell Size 4 x 4"));
        QCOMPARE(Form1->statusText(2), QStringLiteral("PhotoMosaic Size 64 x 64"));
        QCOMPARE(Form1->statusText(3), QStringLiteral("Files In ImageList : 3"));
        QCOMPARE(Form1->ddmainimg->size(), QSize(64, 64));
        QVERIFY(ended.wait(30000));
        QVERIFY(ended.first().at(0).toBool());
        QVERIFY(Printform->Button1->isEnabled());
        QCOMPARE(mosaicJob().settings, settings);
        QCOMPARE(imageList().paths(), paths);
        QVERIFY(mosaicPixels() == before);

        const QString second = dir.filePath(QStringLiteral("second.TSX"));
        dialogs.fileAnswers.push_back(second);
        Form1->SaveMosaic1->trigger();
        QVERIFY(fileBytes(second) == saved);
    }

    void loadOfAJobWithoutCellsEmptiesTheViewWithoutARender()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty.TSX"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        Form1->sbsavem->click();  // right after start: no cells, no list
        QCOMPARE(fileBytes(path).size(), size_t(12800080));

        setUpJob(writeTiles(dir, 1));
        dialogs.fileAnswers.push_back(path);
        Form1->sbload->click();
        // nothing to draw, so no render starts and nothing is reported
        QVERIFY(!Form1->isRendering());
        QVERIFY(dialogs.messages.empty());
        QCOMPARE(Form1->ddmainimg->size(), QSize(0, 0));
        QVERIFY(mosaicJob().mosaicImage.IsEmpty());
        QCOMPARE(imageList().count(), size_t(0));
        QCOMPARE(Form1->statusText(0), QStringLiteral("Cells Count 0 x 0 = 0"));
    }

    void cancelledSaveWritesNothingButSetsTheLengths()
    {
        QTemporaryDir dir;
        setUpJob(writeTiles(dir, 2));
        ScriptedDialogs dialogs;
        Form1->sbsavem->click();
        QCOMPARE(dialogs.fileRequests.size(), size_t(1));
        QCOMPARE(mosaicJob().settings.savedSignatureBytes, 16);
        QCOMPARE(mosaicJob().settings.savedFileListBytes, int32_t(joinTextLines(imageList().paths()).size()));
        QVERIFY(QDir(dir.path()).entryList({ QStringLiteral("*.TSX") }).isEmpty());
    }

    void savingWhereNoFileCanBeMadeKeepsTheOldFile()
    {
        QTemporaryDir dir;
        setUpJob(writeTiles(dir, 2));
        ScriptedDialogs dialogs;
        const QString missingFolder = dir.filePath(QStringLiteral("gone/job.TSX"));
        dialogs.fileAnswers.push_back(missingFolder);
        Form1->sbsavem->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot create file %1").arg(missingFolder));

        // a folder in the file's place: nothing is replaced or left behind
        const QString occupied = dir.filePath(QStringLiteral("taken.TSX"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.TSX")));
        const QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        dialogs.fileAnswers.push_back(occupied);
        Form1->sbsavem->click();
        QCOMPARE(dialogs.messages.size(), size_t(2));
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("Cannot create file %1").arg(occupied));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entries);
    }

    void filesThatAreNotProjectsChangeNothing()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = writeTiles(dir, 3);
        setUpJob(paths);
        const QString good = dir.filePath(QStringLiteral("good.TSX"));
        saveProject(local(good), mosaicJob(), imageList());
        const std::vector<uint8_t> valid = fileBytes(good);
        const MosaicSettings settings = mosaicJob().settings;

        struct Case {
            const char* name;
            std::vector<uint8_t> bytes;
        };
        std::vector<Case> cases;
        cases.push_back({ "too short", std::vector<uint8_t>(valid.begin(), valid.begin() + 79) });
        cases.push_back({ "ends inside the table", std::vector<uint8_t>(valid.begin(), valid.end() - 1) });
        auto patched = [&](size_t offset, int32_t v) {
            std::vector<uint8_t> b = valid;
            putI32(b, offset, v);
            return b;
        };
        cases.push_back({ "801 rows", patched(16, 801) });
        cases.push_back({ "negative cols", patched(20, -4) });
        cases.push_back({ "one row", patched(16, 1) });
        cases.push_back({ "list past the end", patched(76, 1 << 30) });
        cases.push_back({ "negative signature length", patched(72, -8) });

        ScriptedDialogs dialogs;
        for (const Case& c : cases) {
            const QString path = dir.filePath(QStringLiteral("bad.TSX"));
            writeBytes(path, c.bytes);
            dialogs.messages.clear();
            dialogs.fileAnswers.push_back(path);
            Form1->sbload->click();
            QVERIFY2(!Form1->isRendering(), c.name);
            QVERIFY2(dialogs.messages.size() == 1, c.name);
            QVERIFY2(dialogs.messages[0].text.startsWith(QStringLiteral("This is not a valid project file")),
                     qPrintable(dialogs.messages[0].text));
            QVERIFY2(mosaicJob().settings == settings, c.name);
            QVERIFY2(imageList().paths() == paths, c.name);
            QCOMPARE(Form1->ddmainimg->size(), QSize(64, 64));
        }

        dialogs.messages.clear();
        const QString missing = dir.filePath(QStringLiteral("missing.TSX"));
        dialogs.fileAnswers.push_back(missing);
        Form1->sbload->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot open file %1").arg(missing));
        QVERIFY(mosaicJob().settings == settings);
    }

    void selfMosaicProjectNeedsAChosenSource()
    {
        QTemporaryDir dir;
        const std::vector<std::string> tiles = writeTiles(dir, 1);
        setUpJob(tiles);
        mosaicJob().settings.selfMosaic = true;
        imageList().clear();
        mosaicJob().workingSignatures.clear();
        const QString path = dir.filePath(QStringLiteral("self.TSX"));
        saveProject(local(path), mosaicJob(), imageList());
        QCOMPARE(fileBytes(path).size(), size_t(12800080));

        mosaicJob().settings = MosaicSettings{};
        Formnew->setSourceFileName({});
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        Form1->sbload->click();
        QVERIFY(!Form1->isRendering());
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QString::fromLatin1(kNoSourceForSelfMosaic));
        QVERIFY(!mosaicJob().settings.selfMosaic);

        // with a source chosen every cell is drawn from it
        Formnew->setSourceFileName(tiles[0]);
        dialogs.fileAnswers.push_back(path);
        Form1->sbload->click();
        QVERIFY(renderToEnd());
        QVERIFY(mosaicJob().settings.selfMosaic);
        const std::vector<uint8_t> pixels = mosaicPixels();
        QVERIFY(std::any_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v != 0; }));
    }

    void statisticsRightAfterStartAreTwoLinesOfZeros()
    {
        Form1->SpeedButton5->click();
        QVERIFY(Form7->isVisible());
        QVERIFY(Form7->Memo1->toPlainText().isEmpty());
        QTest::mouseClick(Form7->btgetstat, Qt::LeftButton);
        QCOMPARE(memoLines(), (QStringList{ QStringLiteral("Vertical Cell Count: 0  Horizontal Cell Count: 0"),
                                            QStringLiteral("Total Cell Count: 0") }));
    }

    void statisticsListPicturesInTheOrderFirstMet()
    {
        mosaicJob().settings.rows = 2;
        mosaicJob().settings.cols = 3;
        const int used[2][3] = { { 4, 7, 4 }, { 7, 7, 1 } };
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
                mosaicJob().placementGrid.at(c, r).imageIndex = used[r][c];
        for (int i = 0; i < 8; ++i)
            imageList().append("/pictures/p" + std::to_string(i) + ".jpg", CellSignature{});
        Form1->Stats1->trigger();
        Form7->btgetstat->click();
        const QStringList expected{
            QStringLiteral("Vertical Cell Count: 2  Horizontal Cell Count: 3"),
            QStringLiteral("/pictures/p4.jpg Used time : 2"),
            QStringLiteral("/pictures/p7.jpg Used time : 3"),
            QStringLiteral("/pictures/p1.jpg Used time : 1"),
            QStringLiteral("Total Cell Count: 6"),
        };
        QCOMPARE(memoLines(), expected);

        // an edit is what gets saved, with CR LF after every line
        Form7->Memo1->appendPlainText(QStringLiteral("checked by hand"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stats.txt"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(path);
        QTest::mouseClick(Form7->Button1, Qt::LeftButton);
        const FileRequest& request = dialogs.fileRequests.back();
        QCOMPARE(request.kind, FileRequest::Kind::Save);
        QCOMPARE(request.filters, QStringList{ QStringLiteral("Text File (*.txt)") });
        QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
        const std::vector<uint8_t> bytes = fileBytes(path);
        const QByteArray text = (expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\nchecked by hand\r\n")).toLatin1();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), text);

        // running again discards the edit; closing keeps the text
        Form7->btgetstat->click();
        QCOMPARE(memoLines(), expected);
        QTest::mouseClick(Form7->Button2, Qt::LeftButton);
        QVERIFY(!Form7->isVisible());
        QCOMPARE(memoLines(), expected);

        const QString nowhere = dir.filePath(QStringLiteral("gone/stats.txt"));
        dialogs.fileAnswers.push_back(nowhere);
        Form7->Button1->click();
        QCOMPARE(dialogs.messages.back().text, QStringLiteral("Cannot create file %1").arg(nowhere));
    }

    void statisticsStopAtAPictureTheListNoLongerHas()
    {
        mosaicJob().settings.rows = 2;
        mosaicJob().settings.cols = 2;
        const int used[2][2] = { { 1, 0 }, { 5, 1 } };
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                mosaicJob().placementGrid.at(c, r).imageIndex = used[r][c];
        for (int i = 0; i < 3; ++i)
            imageList().append("p" + std::to_string(i), CellSignature{});
        ScriptedDialogs dialogs;
        Form7->btgetstat->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("List index out of bounds (5)"));
        QCOMPARE(memoLines(), (QStringList{ QStringLiteral("Vertical Cell Count: 2  Horizontal Cell Count: 2"),
                                            QStringLiteral("p1 Used time : 2"), QStringLiteral("p0 Used time : 1") }));

        // self-mosaic jobs have nothing to count; the memo keeps its text
        mosaicJob().settings.selfMosaic = true;
        Form7->btgetstat->click();
        QCOMPARE(dialogs.messages.size(), size_t(2));
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("You do not need stats for selfmosiac"));
        QCOMPARE(dialogs.messages[1].caption, QStringLiteral("Caution"));
        QCOMPARE(memoLines().size(), 3);
    }
};

TSX_WINDOW_TEST_MAIN(OutputsProjectTest)
#include "outputs_project_test.moc"
