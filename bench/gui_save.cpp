// Saving a large mosaic from the main window as PNG while a 10 ms timer
// measures the longest time the event loop goes without turning:
//   bench_gui_save [out.png] [side]        (default gui-save.png, 20480)
// Prints the time of the save, the longest gap and the file read back, and
// exits 1 when the gap reaches 100 ms or the file is wrong.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <spng.h>

#include "../tests/gui/gui_test_support.h"
#include "app/ui/form1.h"
#include "raster/byte_io.h"
#include "widgets/dialogs.h"

using namespace tsx;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argc > 1 ? argv[1] : "gui-save.png");
    const int side = argc > 2 ? std::atoi(argv[2]) : 20480;

    tsx::testing::createForms();
    ScriptedDialogs dialogs;
    Form1->show();
    if (!QTest::qWaitForWindowExposed(Form1))
        return 1;
    {
        TDIB mosaic;
        mosaic.Allocate(side, side, 24);
        for (int y = 0; y < side; ++y) {
            uint8_t* p = mosaic.RowPointer(y);
            for (int x = 0; x < side; ++x, p += 3) {
                p[0] = uint8_t(x / 32 * 7);
                p[1] = uint8_t(y / 32 * 5);
                p[2] = uint8_t((x ^ y) / 32);
            }
        }
        std::lock_guard<std::mutex> lock(mosaicJob().mosaicImageLock);
        mosaicJob().mosaicImage = std::move(mosaic);
    }

    qint64 maxGap = 0, ticks = 0;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            maxGap = std::max(maxGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    probe.start();
    dialogs.fileAnswers.push_back(out);
    Form1->btsaveimg->click();
    QTest::qWait(20);
    while (!Form1->btsaveimg->isEnabled())
        QTest::qWait(20);
    probe.stop();
    const qint64 saveMs = clock.elapsed();

    const std::vector<uint8_t> bytes = readWholeFile(QFile::encodeName(out).toStdString());
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr ihdr{};
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    const bool header = spng_get_ihdr(ctx, &ihdr) == 0 && ihdr.width == uint32_t(side) && ihdr.height == uint32_t(side);
    spng_ctx_free(ctx);
    std::printf("saved %d x %d as PNG from the window: %.1f s, %zu bytes, header %s\n", side, side,
                double(saveMs) / 1000, bytes.size(), header ? "right" : "WRONG");
    std::printf("event loop during the save: %lld ticks, longest gap %lld ms (under 100)\n", (long long)ticks,
                (long long)maxGap);
    for (const auto& m : dialogs.messages)
        std::printf("message: %s\n", qPrintable(m.text));
    tsx::testing::destroyForms();
    return header && dialogs.messages.empty() && maxGap < 100 ? 0 : 1;
}
