// Faults met through the windows: saves that cannot be written, a project
// whose pictures have gone, and a mosaic the address space cannot hold. Each
// shows its message, keeps what was there and leaves the program working.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form3.h"
#include "app/ui/form7.h"
#include "app/ui/printform.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/ui/dxpaintbox.h"
#include "wizard/image_list.h"
#include "wizard/ui/formnew.h"
#include "wizard_test_support.h"

using namespace tsx;
using tsx::testing::bytesOf;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedAddressSpace = true;  // the shadow memory needs terabytes of address space
#else
constexpr bool kSanitizedAddressSpace = false;
#endif

bool isCharacterDevice(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList temporaryFiles(const QString& folder)
{
    return QDir(folder).entryList({ QStringLiteral("*.tmp-*") }, QDir::Files | QDir::Hidden | QDir::System);
}

// A resource limit lowered for the lifetime of the object and then put back.
class Limit {
public:
    Limit(int resource, rlim_t value)
        : m_resource(resource)
    {
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);  // a write past the size limit fails instead
        ::getrlimit(resource, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = value;
        m_set = ::setrlimit(resource, &lowered) == 0;
    }
    ~Limit()
    {
        ::setrlimit(m_resource, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }
    bool set() const { return m_set; }

private:
    int m_resource;
    rlimit m_old {};
    sighandler_t m_oldHandler;
    bool m_set = false;
};

rlim_t addressSpaceInUse()
{
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE));
}

void writeSolidBmp(const QString& path, uint8_t blue, uint8_t green, uint8_t red)
{
    tsx::testing::writeSolidBmp(path, 10, 8, blue, green, red);
}

// A job of 16 rows and 4 columns of 8 x 8 cells; cell (c, r) uses picture
// (c + r) % paths.size().
void setUpJob(const std::vector<std::string>& paths)
{
    tsx::testing::setUpPlainJob(16, 4, 8, 8, paths, [&](int c, int r) { return (c + r) % paths.size(); });
    Form1->sizeMosaic(32, 128);
}

bool cellIs(int c, int r, uint8_t blue, uint8_t green, uint8_t red)
{
    return tsx::testing::cellHasColour(c, r, 8, 8, blue, green, red);
}

}  // namespace

class FaultsWindowTest : public QObject {
    Q_OBJECT

    // Runs `save` with each kind of target that cannot be written and checks
    // that every one is reported with its name, that an existing file keeps
    // its contents and that no temporary file is left behind.
    void checkFailedSaves(const std::function<void()>& save)
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("a file, not a folder");
        plain.close();
        const QString old = dir.filePath(QStringLiteral("old.out"));
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::WriteOnly));
        oldFile.write("the old contents");
        oldFile.close();

        struct Target {
            QString path;
            rlim_t sizeLimit;  // RLIM_INFINITY: none
        };
        std::vector<Target> targets{
            { dir.filePath(QStringLiteral("plain/new.out")), RLIM_INFINITY },  // root cannot create this either
            { dir.filePath(QStringLiteral("no/such/folder.out")), RLIM_INFINITY },
            { old, 16 },  // the disk fills part-way through
        };
        const bool deviceThere = isCharacterDevice("/dev/full");
        if (deviceThere)  // a device is written in place, never replaced
            targets.push_back({ QStringLiteral("/dev/full"), RLIM_INFINITY });

        ScriptedDialogs dialogs;
        for (const Target& target : targets) {
            dialogs.fileAnswers.push_back(target.path);
            const size_t shown = dialogs.messages.size();
            {
                Limit limit(RLIMIT_FSIZE, target.sizeLimit);
                save();
            }
            QCOMPARE(dialogs.messages.size(), shown + 1);
            QCOMPARE(dialogs.messages.back().text, QStringLiteral("Cannot create file %1").arg(target.path));
            QCOMPARE(dialogs.messages.back().caption, QStringLiteral("Tesserix"));
        }
        QCOMPARE(contents(old), QByteArray("the old contents"));
        QCOMPARE(temporaryFiles(dir.path()), QStringList());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no"))));
        if (deviceThere) {
            QVERIFY(isCharacterDevice("/dev/full"));
            QCOMPARE(temporaryFiles(QStringLiteral("/dev")), QStringList());
        }

        // the program goes on: the same command now succeeds
        const QString good = dir.filePath(QStringLiteral("good.out"));
        dialogs.fileAnswers.push_back(good);
        const size_t shown = dialogs.messages.size();
        save();
        QCOMPARE(dialogs.messages.size(), shown);
        QVERIFY(QFileInfo(good).size() > 0);
    }

private slots:
    void init() { testing::startProgram(); }
    void cleanup()
    {
        testing::endProgram();
    }

    void saveImageThatCannotBeWrittenShowsItsMessage()
    {
        checkFailedSaves([] { Form1->btsaveimg->click(); });
    }

    void saveProjectThatCannotBeWrittenShowsItsMessage()
    {
        imageList().append("/pictures/a.bmp", CellSignature{ 1, 2, 3, 0, 0 });
        checkFailedSaves([] { Form1->sbsavem->click(); });
    }

    void saveImageListThatCannotBeWrittenShowsItsMessage()
    {
        imageList().append("/pictures/a.bmp", CellSignature{ 1, 2, 3, 0, 0 });
        imageList().append("/pictures/b.bmp", CellSignature{ 4, 5, 6, 0, 0 });
        Form1->btnew->click();
        checkFailedSaves([] { Formnew->Button4Click(); });
    }

    void saveTextFileThatCannotBeWrittenShowsItsMessage()
    {
        Form1->SpeedButton5->click();
        Form7->btgetstat->click();
        QVERIFY(Form7->Memo1->toPlainText().size() > 16);
        checkFailedSaves([] { Form7->Button1Click(); });
    }

    void aMarginLeftHalfTypedWhenTheProgramEndsIsNoCrash()
    {
        ScriptedDialogs dialogs;
        Form1->SpeedButton2->click();
        QVERIFY(Printform->isVisible());
        auto* edit = Printform->spTop->findChild<QLineEdit*>();
        QVERIFY(edit);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(Printform->spTop->text(), QString());
        // Ending the program closes the window with the edit still open: the
        // edit is finished once more (the margin's own message may show),
        // and nothing refreshes the window while it is being taken apart.
        destroyForms();
        for (const auto& m : dialogs.messages)
            QCOMPARE(m.text, QStringLiteral("'' is not a valid floating point value"));
        testing::startProgram();
    }

    void loadedProjectWhosePictureHasGoneStopsAtItsFirstCell()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.bmp"));
        const QString second = dir.filePath(QStringLiteral("second.bmp"));
        writeSolidBmp(first, 200, 30, 10);
        writeSolidBmp(second, 20, 180, 60);
        setUpJob({ bytesOf(first), bytesOf(second) });
        const QString project = dir.filePath(QStringLiteral("job.TSX"));
        ScriptedDialogs dialogs;
        dialogs.fileAnswers.push_back(project);
        Form1->sbsavem->click();
        QVERIFY(dialogs.messages.empty());

        Form1->sbcls->click();
        QVERIFY(QFile::remove(second));
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        dialogs.fileAnswers.push_back(project);
        Form1->sbload->click();
        QVERIFY(ended.wait(30000));
        QCOMPARE(ended.takeFirst().at(0).toBool(), false);

        // cell (0, 0) uses the first picture and (1, 0) the missing second
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot open file %1").arg(second));
        QVERIFY(cellIs(0, 0, 200, 30, 10));
        QVERIFY(cellIs(1, 0, 0, 0, 0));
        QVERIFY(cellIs(3, 15, 0, 0, 0));
        QVERIFY(Form1->sbload->isEnabled());
        QVERIFY(Form1->btsaveimg->isEnabled());
    }

    void imageListWhosePictureHasGoneStopsTheRenderAtItsFirstCell()
    {
        // The ImageList saved from a folder, a picture deleted, the list
        // loaded back through the wizard and the mosaic finished.
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.bmp"));
        tsx::testing::gradient(64, 48).WriteBmp(bytesOf(source));
        const QString folder = dir.filePath(QStringLiteral("pictures"));
        QVERIFY(QDir().mkpath(folder));
        const std::vector<std::string> pictures = tsx::testing::writePictures(folder, 12);
        ScriptedDialogs dialogs;
        Form1->btnew->click();
        dialogs.fileAnswers.push_back(source);
        Formnew->btloadsource->click();
        Formnew->btnext1->click();
        Formnew->sbvcc->setValue(16);
        Formnew->sbhcc->setValue(16);
        Formnew->sbcw->setValue(24);
        Formnew->sbch->setValue(24);
        Formnew->btnext3->click();
        dialogs.fileAnswers.push_back(folder);
        Formnew->btloadcell2->click();
        QCOMPARE(imageList().count(), size_t(12));
        const QString list = dir.filePath(QStringLiteral("pictures.iml"));
        dialogs.fileAnswers.push_back(list);
        Formnew->Button4Click();
        Formnew->btclearClick();
        QCOMPARE(imageList().count(), size_t(0));
        dialogs.fileAnswers.push_back(list);
        Formnew->Button3Click();
        QCOMPARE(imageList().count(), size_t(12));
        const int gone = 4;
        QVERIFY(QFile::remove(QString::fromStdString(pictures[gone])));
        Formnew->btnext2->click();
        QVERIFY(dialogs.messages.empty());
        // placement is drawn from the clock: only use-all makes sure the lost
        // picture stands in some cell
        Formnew->cbuseall->setChecked(true);

        TDIB before;
        {
            std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
            before = mosaicJob().mosaicImage;
            before.RowPointer(0);  // a copy of its own, not shared storage
        }
        QSignalSpy ended(Form1, &TForm1::renderEnded);
        Formnew->btfinish->click();
        QVERIFY(ended.count() == 1 || ended.wait(60000));
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot open file %1").arg(QString::fromStdString(pictures[gone])));

        // the cells before the first use of the lost picture are drawn, the
        // others still show what was there before the render
        int firstUse = -1;
        for (int cell = 0; cell < 256 && firstUse < 0; ++cell)
            if (mosaicJob().placementGrid.at(cell % 16, cell / 16).imageIndex == gone)
                firstUse = cell;
        QVERIFY(firstUse >= 0);
        std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
        const TDIB& after = mosaicJob().mosaicImage;
        for (int cell = 0; cell < 256; ++cell) {
            const int x = (cell % 16) * 24, y = (cell / 16) * 24;
            bool same = true;
            for (int row = y; row < y + 24 && same; ++row)
                same = std::memcmp(after.ScanLine(row) + x * 3, before.ScanLine(row) + x * 3, 24 * 3) == 0;
            QVERIFY2(same == (cell >= firstUse), qPrintable(QStringLiteral("cell %1, first use %2").arg(cell).arg(firstUse)));
        }
    }

    void mosaicTooLargeForTheAddressSpaceIsReported()
    {
        if (kSanitizedAddressSpace)
            QSKIP("a sanitizer's shadow memory does not fit under an address space limit");
        // Through the wizard: the largest size the program accepts, applied
        // with only 400 MB of address space to spare.
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.bmp"));
        tsx::testing::gradient(24, 24).WriteBmp(bytesOf(source));
        ScriptedDialogs dialogs;
        Form1->btnew->click();
        dialogs.fileAnswers.push_back(source);
        Formnew->btloadsource->click();
        Formnew->btnext1->click();
        Formnew->sbvcc->setValue(640);
        Formnew->sbhcc->setValue(640);
        Formnew->sbcw->setValue(32);
        Formnew->sbch->setValue(32);
        {
            Limit limit(RLIMIT_AS, addressSpaceInUse() + (rlim_t(400) << 20));
            QVERIFY(limit.set());
            Formnew->btnext3->click();
        }
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("DIB cannot be made"));
        QCOMPARE(Formnew->steps->currentWidget(), Formnew->plsize);  // Next did not move on
        QVERIFY(mosaicJob().mosaicImage.Width() < 20480);

        // and a size that fits is applied as usual afterwards
        Formnew->sbvcc->setValue(16);
        Formnew->sbhcc->setValue(16);
        Formnew->btapply2->click();
        QCOMPARE(dialogs.messages.size(), size_t(1));
        QCOMPARE(mosaicJob().mosaicImage.Width(), 512);
        QCOMPARE(Form1->ddmainimg->size(), QSize(512, 512));
    }
};

TSX_WINDOW_TEST_MAIN(FaultsWindowTest)
#include "reliability_faults_test.moc"
