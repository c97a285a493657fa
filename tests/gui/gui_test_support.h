// Shared helpers of the window tests: a fresh session and a fresh set of
// windows per test, an offscreen platform when none was chosen, and the
// pictures and placed jobs the tests start from.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QApplication>
#include <QFile>
#include <QString>
#include <QTest>

#include "app/ui/form1.h"
#include "app/ui/forms.h"
#include "../unit/raster_test_support.h"
#include "engine/mosaic_job.h"
#include "wizard/image_list.h"
#include "wizard/session.h"

namespace tsx::testing {

// The program under test: its session and its six windows, made anew by
// every startProgram, so nothing one test does reaches the next.
inline std::unique_ptr<Session> g_session;
inline std::unique_ptr<TForm1> g_main;
inline TForm1* Form1 = nullptr;
inline TFormnew* Formnew = nullptr;
inline TForm3* Form3 = nullptr;
inline TForm4* Form4 = nullptr;
inline TPrintform* Printform = nullptr;
inline TForm7* Form7 = nullptr;

inline Session& session() { return *g_session; }
inline MosaicJob& mosaicJob() { return g_session->job; }
inline ImageList& imageList() { return g_session->imageList; }

/// Takes the windows down; the session goes with them.
inline void destroyForms()
{
    g_main.reset();
    Form1 = nullptr;
    Formnew = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Printform = nullptr;
    Form7 = nullptr;
    g_session.reset();
}

/// A new session and the six windows over it, as the program starts them.
inline void createForms()
{
    destroyForms();
    g_session = std::make_unique<Session>();
    g_main = tsx::createForms(*g_session);
    Form1 = g_main.get();
    Formnew = Form1->Formnew;
    Form3 = Form1->Form3;
    Form4 = Form1->Form4;
    Printform = Form1->Printform;
    Form7 = Form1->Form7;
}

// Creates the six windows and shows the main window, as the program does.
inline void startProgram()
{
    createForms();
    Form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
}

inline void endProgram()
{
    if (Form1 && Form1->isRendering())
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->isRendering(), 60000);
    destroyForms();
}

inline std::string bytesOf(const QString& path) { return QFile::encodeName(path).toStdString(); }

inline TDIB solid(int width, int height, uint8_t blue, uint8_t green, uint8_t red)
{
    TDIB dib;
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
    }
    return dib;
}

/// Writes a BMP picture of one colour and returns its path as the program
/// takes it.
inline std::string writeSolidBmp(const QString& path, int width, int height, uint8_t blue, uint8_t green,
                                 uint8_t red)
{
    solid(width, height, blue, green, red).WriteBmp(bytesOf(path));
    return bytesOf(path);
}

using tsx::test::noise;

/// The settings of a job of rows x cols cells of cellWidth x cellHeight
/// pixels, stretched into their cells; everything else as a new job has it.
inline MosaicSettings cellSettings(int rows, int cols, int cellWidth, int cellHeight)
{
    MosaicSettings settings;
    settings.rows = rows;
    settings.cols = cols;
    settings.cellWidth = cellWidth;
    settings.cellHeight = cellHeight;
    settings.mosaicWidth = cols * cellWidth;
    settings.mosaicHeight = rows * cellHeight;
    settings.stretchCells = true;
    return settings;
}

/// Makes the job a placed one with the given settings; cell (c, r) gets
/// placementOf(c, r).
template <class PlacementOf>
void placeJob(const MosaicSettings& settings, PlacementOf placementOf)
{
    MosaicJob& job = mosaicJob();
    job.settings = settings;
    job.placementGrid.clear();
    for (int r = 0; r < settings.rows; ++r)
        for (int c = 0; c < settings.cols; ++c)
            job.placementGrid.at(c, r) = placementOf(c, r);
}

/// A placed job as plain as they come: rows x cols cells of cellWidth x
/// cellHeight pixels, stretched, without colour shift or enhancement, cell
/// (c, r) showing picture pictureOf(c, r) of the given ones. The mosaic
/// itself is left as it was.
template <class PictureOf>
void setUpPlainJob(int rows, int cols, int cellWidth, int cellHeight, const std::vector<std::string>& paths,
                   PictureOf pictureOf)
{
    MosaicSettings settings = cellSettings(rows, cols, cellWidth, cellHeight);
    settings.colorEnhanceOff = true;
    placeJob(settings, [&](int c, int r) { return CellPlacement{ int32_t(pictureOf(c, r)), 0, 0, 0, 1 }; });
    imageList().clear();
    for (const std::string& path : paths)
        imageList().append(path, CellSignature{});
}

/// Every pixel of the mosaic's cell (c, r), of cellWidth x cellHeight pixels,
/// has the given colour.
inline bool cellHasColour(int c, int r, int cellWidth, int cellHeight, uint8_t blue, uint8_t green,
                          uint8_t red)
{
    std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
    const TDIB& mosaic = mosaicJob().mosaicImage;
    for (int y = r * cellHeight; y < (r + 1) * cellHeight; ++y) {
        const uint8_t* p = mosaic.ScanLine(y) + c * cellWidth * 3;
        for (int x = 0; x < cellWidth; ++x, p += 3)
            if (p[0] != blue || p[1] != green || p[2] != red)
                return false;
    }
    return true;
}

// Runs a QTest class with the offscreen platform unless one was chosen.
template <class TestClass>
int runWindowTests(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    TestClass tests;
    return QTest::qExec(&tests, argc, argv);
}

}  // namespace tsx::testing

// The tests reach the windows and the job under these short names.
using tsx::testing::destroyForms;
using tsx::testing::Form1;
using tsx::testing::Form3;
using tsx::testing::Form4;
using tsx::testing::Form7;
using tsx::testing::Formnew;
using tsx::testing::imageList;
using tsx::testing::mosaicJob;
using tsx::testing::Printform;

#define TSX_WINDOW_TEST_MAIN(TestClass) \
    int main(int argc, char** argv) { return tsx::testing::runWindowTests<TestClass>(argc, argv); }
