// The desktop program: one session, the six windows over it, then the event
// loop.
#include <cstdlib>
#include <memory>

#include <QApplication>

#include "app/ui/form1.h"
#include "app/ui/forms.h"
#include "app/ui/icons.h"
#include "tesserix_version.h"
#include "wizard/session.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tesserix"));
    QApplication::setApplicationVersion(QLatin1String(tsx::kVersion));
    QApplication::setWindowIcon(tsx::programIcon(QStringLiteral("tesserix")));

    auto session = std::make_unique<tsx::Session>();
    std::unique_ptr<tsx::TForm1> main = tsx::createForms(*session);
    main->show();
    const int result = QApplication::exec();
    if (main->isRendering()) {
        // A render cannot be interrupted and keeps using the job; the user
        // closed the program, so end it without waiting for the render.
        std::_Exit(result);
    }
    main.reset();
    return result;
}
