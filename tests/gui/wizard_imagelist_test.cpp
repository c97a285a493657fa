// The wizard's ImageList step: folder loads, delete, clear and the .iml file,
// always checked against the ImageList and its signature buffer.
#include <cstdio>
#include <memory>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "raster/byte_io.h"
#include "raster/ui/dxpaintbox.h"
#include "tools/sample_art.h"
#include "wizard/image_list.h"
#include "wizard/ui/formnew.h"
#include "wizard_test_support.h"

using namespace tsx;
using namespace tsx::testing;

namespace {

// The list box shows exactly the ImageList's paths, and the two count
// labels its count.
bool windowShowsTheList()
{
    const ImageList& list = imageList();
    if (Formnew->filelist->count() != int(list.count()) || !listInStep(list))
        return false;
    for (int i = 0; i < Formnew->filelist->count(); ++i)
        if (Formnew->filelist->item(i)->text() != QString::fromStdString(list.paths()[size_t(i)]))
            return false;
    const QString n = QString::number(list.count());
    return Formnew->lablefcount->text() == QStringLiteral("File Count In Image List : ") + n
        && Form1->statusText(3) == QStringLiteral("Files In ImageList : ") + n;
}

std::vector<CellSignature> signatures()
{
    std::vector<CellSignature> out;
    for (size_t i = 0; i < imageList().count(); ++i)
        out.push_back(signatureAt(imageList().signatureStream(), i));
    return out;
}

void pressDelete() { QTest::keyClick(Formnew->filelist, Qt::Key_Delete); }

}  // namespace

class WizardImageListTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;

    void loadFolder(const QString& folder)
    {
        m_dialogs->fileAnswers.push_back(folder);
        QTest::mouseClick(Formnew->btloadcell2, Qt::LeftButton);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        startProgram();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        QTest::mouseClick(Form1->btnew, Qt::LeftButton);
        Formnew->steps->setCurrentWidget(Formnew->pliml);
    }
    void cleanup()
    {
        m_dialogs.reset();
        endProgram();
        m_dir.reset();
    }

    void folderLoadsAppendAndTheBrowserPointsAtTheSamples()
    {
        const std::vector<std::string> paths = writePictures(m_dir->path(), 3);
        loadFolder(m_dir->path());
        const FileRequest& request = m_dialogs->fileRequests.at(0);
        QCOMPARE(request.kind, FileRequest::Kind::Directory);
        QVERIFY(request.title.startsWith(
            QStringLiteral("Select the directory where you save your image files\rour sample image:")));
        QVERIFY(request.title.endsWith(QStringLiteral("/images")));
        QCOMPARE(imageList().paths(), paths);
        QVERIFY(windowShowsTheList());

        loadFolder(m_dir->path());
        QCOMPARE(imageList().count(), size_t(6));
        QCOMPARE(imageList().path(3), paths[0]);
        const std::vector<CellSignature> sigs = signatures();
        for (size_t i = 0; i < 3; ++i)
            QCOMPARE(sigs[i + 3], sigs[i]);
        QVERIFY(windowShowsTheList());

        // a cancelled browser only rewrites the labels
        Form1->setStatusText(3, QStringLiteral("stale"));
        QTest::mouseClick(Formnew->btloadcell2, Qt::LeftButton);
        QCOMPARE(imageList().count(), size_t(6));
        QVERIFY(windowShowsTheList());
        QVERIFY(m_dialogs->messages.empty());
    }

    void aDamagedFileStopsTheLoadKeepingTheEntriesBeforeIt()
    {
        const std::vector<std::string> paths = writePictures(m_dir->path(), 4);
        QFile damaged(QString::fromStdString(paths[2]));
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("BM broken");
        damaged.close();

        loadFolder(m_dir->path());
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QVERIFY(!m_dialogs->messages[0].text.isEmpty());
        QCOMPARE(imageList().paths(), std::vector<std::string>(paths.begin(), paths.begin() + 2));
        QVERIFY(windowShowsTheList());
    }

    void cancellingAFolderLoadKeepsWhatWasAddedInStep()
    {
        // Pictures that take a while to decode, so the Cancel lands before the
        // last one even on a busy machine, where small ones could all load
        // before the window sees its first event.
        const std::vector<uint8_t> jpeg = samples::encodeJpeg(samples::samplePicture(1, 1600, 1200), 90);
        std::vector<std::string> paths;
        for (int k = 0; k < 300; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "/p%03d.jpg", k);
            paths.push_back(bytesOf(m_dir->path()) + name);
            writeWholeFile(paths.back(), jpeg);
        }
        // the progress box is there as soon as the load waits for its worker
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [] {
            if (auto* progress = Formnew->findChild<QProgressDialog*>(QStringLiteral("folderProgress")))
                if (auto* cancel = progress->findChild<QPushButton*>())
                    cancel->click();
        });
        poll.start(0);
        loadFolder(m_dir->path());
        poll.stop();
        QVERIFY(m_dialogs->messages.empty());
        QVERIFY(imageList().count() < paths.size());
        QCOMPARE(imageList().paths(), std::vector<std::string>(paths.begin(), paths.begin() + imageList().count()));
        QVERIFY(windowShowsTheList());
    }

    void includeSubfoldersTakesTheTreeAndOffTakesTheFolderAlone()
    {
        QCheckBox* box = Formnew->findChild<QCheckBox*>(QStringLiteral("cbsubfolders"));
        QVERIFY(box);
        QCOMPARE(box->accessibleName(), QStringLiteral("Include subfolders"));
        QCOMPARE(box->text(), QStringLiteral("Include subfolders"));
        QVERIFY(!box->isChecked());
        QVERIFY(box->isVisible());
        const QString deep = m_dir->filePath(QStringLiteral("2023/08"));
        QVERIFY(QDir().mkpath(deep));
        const std::vector<std::string> top = writePictures(m_dir->path(), 2);
        const std::vector<std::string> below = writePictures(deep, 3);

        loadFolder(m_dir->path());
        QCOMPARE(imageList().paths(), top);

        QTest::mouseClick(Formnew->btclear, Qt::LeftButton);
        box->click();
        QVERIFY(box->isChecked());
        loadFolder(m_dir->path());
        std::vector<std::string> all = top;
        all.insert(all.end(), below.begin(), below.end());
        QCOMPARE(imageList().paths(), all);
        QVERIFY(windowShowsTheList());
        QVERIFY(m_dialogs->messages.empty());
    }

    void deleteKeepsTheListAndSignaturesInStep()
    {
        writePictures(m_dir->path(), 3);
        loadFolder(m_dir->path());
        const std::vector<std::string> paths = imageList().paths();
        const std::vector<CellSignature> sigs = signatures();

        // nothing selected: nothing happens
        Formnew->filelist->clearSelection();
        Formnew->filelist->setCurrentRow(-1);
        pressDelete();
        QCOMPARE(imageList().count(), size_t(3));

        Formnew->filelist->setCurrentRow(2);
        QCOMPARE(Formnew->ddprev2->DIB().Width(), 12);
        Formnew->ddprev2->DIB().MakeEmpty();
        pressDelete();
        QCOMPARE(imageList().paths(), std::vector<std::string>(paths.begin(), paths.begin() + 2));
        QCOMPARE(imageList().signatureStream().size(), size_t(16));
        QCOMPARE(Formnew->filelist->currentRow(), 1);
        QCOMPARE(Formnew->ddprev2->DIB().Width(), 12);  // the new selection's preview
        QCOMPARE(Formnew->filelist->toolTip(), QString::fromStdString(paths[1]));
        QVERIFY(windowShowsTheList());

        Formnew->filelist->setCurrentRow(0);
        pressDelete();
        QCOMPARE(imageList().paths(), std::vector<std::string>{ paths[1] });
        QCOMPARE(signatures(), std::vector<CellSignature>{ sigs[1] });
        QCOMPARE(Formnew->filelist->currentRow(), 0);
        QVERIFY(windowShowsTheList());

        pressDelete();
        QVERIFY(imageList().empty());
        QVERIFY(windowShowsTheList());
        QVERIFY(m_dialogs->messages.empty());
    }

    void clearEmptiesListSignaturesAndPreview()
    {
        writePictures(m_dir->path(), 3);
        loadFolder(m_dir->path());
        Formnew->filelist->setCurrentRow(1);
        QVERIFY(!Formnew->ddprev2->DIB().IsEmpty());
        QTest::mouseClick(Formnew->btclear, Qt::LeftButton);
        QVERIFY(imageList().empty());
        QVERIFY(imageList().signatureStream().empty());
        QVERIFY(Formnew->ddprev2->DIB().IsEmpty());
        QVERIFY(windowShowsTheList());
    }

    void imageListFileRoundTripsThroughTheStep()
    {
        const QString folder = m_dir->filePath(QStringLiteral("pictures"));
        QVERIFY(QDir().mkpath(folder));
        writePictures(folder, 4);
        loadFolder(folder);
        const std::vector<std::string> paths = imageList().paths();
        const std::vector<CellSignature> sigs = signatures();
        const std::vector<uint8_t> expected = imageList().toImlBytes();

        const QString file = m_dir->filePath(QStringLiteral("list.iml"));
        m_dialogs->fileAnswers.push_back(file);
        QTest::mouseClick(Formnew->Button4, Qt::LeftButton);
        const FileRequest& save = m_dialogs->fileRequests.back();
        QCOMPARE(save.kind, FileRequest::Kind::Save);
        QCOMPARE(save.filters, QStringList{ QStringLiteral("ImageList File (*.iml)") });
        QCOMPARE(save.defaultSuffix, QStringLiteral("iml"));
        QVERIFY(!save.confirmOverwrite);
        QCOMPARE(readWholeFile(bytesOf(file)), expected);

        QTest::mouseClick(Formnew->btclear, Qt::LeftButton);
        m_dialogs->fileAnswers.push_back(file);
        QTest::mouseClick(Formnew->Button3, Qt::LeftButton);
        QCOMPARE(imageList().paths(), paths);
        QCOMPARE(signatures(), sigs);
        QVERIFY(windowShowsTheList());

        // an empty list is four zero bytes, and loads back empty
        QTest::mouseClick(Formnew->btclear, Qt::LeftButton);
        m_dialogs->fileAnswers.push_back(file);
        QTest::mouseClick(Formnew->Button4, Qt::LeftButton);
        QCOMPARE(readWholeFile(bytesOf(file)), std::vector<uint8_t>(4, 0));
        loadFolder(folder);
        m_dialogs->fileAnswers.push_back(file);
        QTest::mouseClick(Formnew->Button3, Qt::LeftButton);
        QVERIFY(imageList().empty());
        QVERIFY(imageList().signatureStream().empty());
        QVERIFY(windowShowsTheList());
        QVERIFY(m_dialogs->messages.empty());
    }

    void missingAndBrokenImageListFilesFailWhereTheyShould()
    {
        // a list naming files that are gone loads; the failure shows at Preview
        writePictures(m_dir->path(), 2);
        loadFolder(m_dir->path());
        const std::vector<std::string> paths = imageList().paths();
        const QString file = m_dir->filePath(QStringLiteral("gone.iml"));
        writeWholeFile(bytesOf(file), imageList().toImlBytes());
        QVERIFY(QFile::remove(QString::fromStdString(paths[0])));
        QTest::mouseClick(Formnew->btclear, Qt::LeftButton);
        m_dialogs->fileAnswers.push_back(file);
        QTest::mouseClick(Formnew->Button3, Qt::LeftButton);
        QCOMPARE(imageList().paths(), paths);
        QVERIFY(m_dialogs->messages.empty());
        Formnew->filelist->setCurrentRow(0);
        QCOMPARE(m_dialogs->messages.size(), size_t(1));
        QCOMPARE(imageList().paths(), paths);

        // a length field past the end changes nothing
        const QString bad = m_dir->filePath(QStringLiteral("bad.iml"));
        writeWholeFile(bytesOf(bad), std::vector<uint8_t>{ 100, 0, 0, 0, 'a', 'b' });
        m_dialogs->fileAnswers.push_back(bad);
        QTest::mouseClick(Formnew->Button3, Qt::LeftButton);
        QCOMPARE(m_dialogs->messages.size(), size_t(2));
        QCOMPARE(imageList().paths(), paths);
        QVERIFY(windowShowsTheList());
    }
};

TSX_WINDOW_TEST_MAIN(WizardImageListTest)
#include "wizard_imagelist_test.moc"
