#include "app/ui/form7.h"

namespace tsx {

TForm7::TForm7(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Image File Usage Statistic"));
    // TODO: the statistic text, its refresh and saving it as a text file
    resize(420, 320);
}

}  // namespace tsx
