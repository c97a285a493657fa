// The desktop program under the largest job it accepts, driven through its
// windows as a user would: the wizard loads the source and a folder of
// pictures, applies the size, finishes, and the main window renders and
// saves the mosaic. A 10 ms timer measures how long the event loop goes
// without turning during the render. Run by bench/load_test.sh:
//   bench_gui_load <source> <picture folder> <rows> <cols> <cell side> <out.bmp>
// Prints the timings and the longest gap, and exits 1 when a step fails.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "widgets/dialogs.h"
#include "app/ui/form1.h"
#include "../tests/gui/gui_test_support.h"
#include "wizard/image_list.h"
#include "wizard/ui/formnew.h"

using namespace tsx;

namespace {

int fail(const char* what, const ScriptedDialogs& dialogs)
{
    std::fprintf(stderr, "load: %s\n", what);
    for (const auto& m : dialogs.messages)
        std::fprintf(stderr, "  message: %s\n", qPrintable(m.text));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <source> <folder> <rows> <cols> <cell side> <out.bmp>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const int rows = std::atoi(argv[3]), cols = std::atoi(argv[4]), side = std::atoi(argv[5]);
    const QString out = QString::fromLocal8Bit(argv[6]);

    tsx::testing::createForms();
    ScriptedDialogs dialogs;
    Form1->show();
    if (!QTest::qWaitForWindowExposed(Form1))
        return fail("the main window did not appear", dialogs);

    QElapsedTimer step;
    step.start();
    Form1->btnew->click();
    dialogs.fileAnswers.push_back(source);
    Formnew->btloadsource->click();
    Formnew->btnext1->click();
    Formnew->sbvcc->setValue(rows);
    Formnew->sbhcc->setValue(cols);
    Formnew->sbcw->setValue(side);
    Formnew->sbch->setValue(side);
    Formnew->btnext3->click();
    const qint64 sizeMs = step.restart();
    dialogs.fileAnswers.push_back(folder);
    Formnew->btloadcell2->click();
    const qint64 folderMs = step.restart();
    std::printf("pictures loaded: %zu\n", imageList().count());
    Formnew->btnext2->click();
    if (!dialogs.messages.empty())
        return fail("the wizard reported a problem", dialogs);

    // The probe: the largest time between two ticks of a 10 ms timer.
    qint64 maxGap = 0, ticks = 0;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            maxGap = std::max(maxGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    QObject::connect(Form1, &TForm1::renderingChanged, [&](bool rendering) {
        if (rendering) {
            ticks = 0;
            sinceTick.start();
            probe.start();
        }
    });
    QSignalSpy ended(Form1, &TForm1::renderEnded);
    Formnew->btfinish->click();  // placement runs here, on this thread, by design
    const qint64 placeMs = step.restart();
    if (!Form1->isRendering() && ended.isEmpty())
        return fail("Finish did not start the render", dialogs);

    // A user scrolling about the mosaic while it is drawn.
    QTimer scroller;
    int round = 0;
    QObject::connect(&scroller, &QTimer::timeout, [&] {
        ++round;
        QScrollBar* down = Form1->ScrollBox1->verticalScrollBar();
        QScrollBar* across = Form1->ScrollBox1->horizontalScrollBar();
        down->setValue(int((qint64(round) * 7919) % (down->maximum() + 1)));
        across->setValue(int((qint64(round) * 104729) % (across->maximum() + 1)));
    });
    scroller.start(50);
    while (ended.isEmpty())
        QTest::qWait(50);
    probe.stop();
    scroller.stop();
    const qint64 renderMs = step.restart();
    const qint64 renderTicks = ticks, renderGap = maxGap;
    if (!ended.first().at(0).toBool())
        return fail("the render failed", dialogs);

    // a mosaic this large is written in the background: wait for the end
    dialogs.fileAnswers.push_back(out);
    ticks = 0;
    maxGap = 0;
    probe.start();
    Form1->btsaveimg->click();
    QTest::qWait(20);
    while (!Form1->btsaveimg->isEnabled())
        QTest::qWait(20);
    probe.stop();
    const qint64 saveMs = step.restart();
    if (dialogs.messages.size() != 1 || dialogs.messages[0].text != QStringLiteral("Photomosaic created success!"))
        return fail("unexpected messages", dialogs);

    std::printf("size applied: %lld ms\nfolder loaded: %lld ms\nplaced: %lld ms\nrendered: %lld ms\nsaved: %lld ms\n",
                (long long)sizeMs, (long long)folderMs, (long long)placeMs, (long long)renderMs, (long long)saveMs);
    std::printf("event loop during the render: %lld ticks, longest gap %lld ms\n", (long long)renderTicks,
                (long long)renderGap);
    std::printf("event loop during the save: %lld ticks, longest gap %lld ms\n", (long long)ticks,
                (long long)maxGap);
    tsx::testing::destroyForms();
    return 0;
}
