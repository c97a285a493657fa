#include "app/ui/printform.h"

namespace tsx {

TPrintform::TPrintform(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Printform"));
    setWindowTitle(QStringLiteral("Printer Setup"));
    // TODO: resolution, margins, orientation and quality controls, and printing
    resize(360, 240);
}

}  // namespace tsx
