// The desktop program: the six windows, then the event loop.
#include <cstdlib>

#include <QApplication>

#include "app/ui/form1.h"
#include "app/ui/forms.h"
#include "app/ui/icons.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tesserix"));
    QApplication::setApplicationVersion(QStringLiteral("4.21"));
    QApplication::setWindowIcon(tsx::programIcon(QStringLiteral("tesserix")));

    tsx::createForms();
    tsx::Form1->show();
    const int result = QApplication::exec();
    if (tsx::Form1->isRendering()) {
        // A render cannot be interrupted and keeps using the job; the user
        // closed the program, so end it without waiting for the render.
        std::_Exit(result);
    }
    tsx::destroyForms();
    return result;
}
