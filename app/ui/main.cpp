// The desktop program: one session, the six windows over it, then the event
// loop. A file named on the command line (the desktop's "Open With") is
// opened once the windows are up.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "app/ui/form1.h"
#include "app/ui/forms.h"
#include "app/ui/icons.h"
#include "app/ui/outside_files.h"
#include "app/ui/save_image.h"
#include "tesserix_version.h"
#include "wizard/session.h"

namespace {

const char* const kUsage =
    "Usage: tesserix [OPTION]... [FILE]\n"
    "Build photomosaics from a picture and a folder of pictures.\n"
    "\n"
    "FILE, when given, is opened at start: a project file (.tsx) is loaded and\n"
    "drawn, an ImageList file (.iml) becomes the wizard's list of pictures, and\n"
    "any other file the wizard's source picture.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "The options of Qt programs (such as -platform or -style) are taken as well.\n";

// Answered before any window exists, so they work without a display.
bool answeredAtOnce(int argc, char** argv, int& status)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tesserix %s\n", tsx::kVersion);
            status = 0;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (answeredAtOnce(argc, argv, status))
        return status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tesserix"));
    QApplication::setApplicationVersion(QLatin1String(tsx::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("org.tesserix.Tesserix"));
    QApplication::setWindowIcon(tsx::programIcon(QStringLiteral("tesserix")));

    // what Qt left of the command line: the file to open, at most one
    QStringList files;
    bool optionsEnded = false;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "tesserix: unknown option %s\n%s", qPrintable(argument), kUsage);
            return 2;
        } else {
            files << argument;
        }
    }
    if (files.size() > 1) {
        std::fprintf(stderr, "tesserix: one file at a time\n%s", kUsage);
        return 2;
    }

    auto session = std::make_unique<tsx::Session>();
    std::unique_ptr<tsx::TForm1> main = tsx::createForms(*session);
    main->show();
    if (!files.isEmpty()) {
        // from the event loop, once the windows are on the screen, so the
        // file's messages and the wizard come up above them
        tsx::TForm1* window = main.get();
        const QString file = files.front();
        QTimer::singleShot(0, window, [window, file] { tsx::openFromOutside(*window, file); });
    }
    const int result = QApplication::exec();
    if (main->isRendering()) {
        // A render cannot be interrupted and keeps using the job; the user
        // closed the program, so end it without waiting for the render.
        std::_Exit(result);
    }
    // a mosaic being saved when the window closed is still written out
    if (auto* saver = main->findChild<tsx::ImageSaver*>())
        saver->waitUntilWritten();
    main.reset();
    return result;
}
