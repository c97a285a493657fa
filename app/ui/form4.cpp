#include "app/ui/form4.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/icons.h"
#include "tesserix_version.h"

namespace tsx {

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("About Tesserix %1").arg(QLatin1String(kVersion)));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(programIcon(QStringLiteral("tesserix")).pixmap(64, 64));
    picture->setFixedSize(64, 64);

    lbproduct = new QLabel(QStringLiteral("Tesserix"), this);
    lbproduct->setObjectName(QStringLiteral("lbproduct"));
    QFont big = lbproduct->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    lbproduct->setFont(big);
    lbversion = new QLabel(QStringLiteral("Version %1").arg(QLatin1String(kVersion)), this);
    lbversion->setObjectName(QStringLiteral("lbversion"));
    auto* lbpurpose = new QLabel(QStringLiteral("Photomosaic builder"), this);
    lbpurpose->setObjectName(QStringLiteral("lbpurpose"));

    btok = new QPushButton(QStringLiteral("OK"), this);
    btok->setObjectName(QStringLiteral("btok"));
    btok->setDefault(true);
    connect(btok, &QPushButton::clicked, this, &QWidget::hide);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lbproduct);
    texts->addWidget(lbversion);
    texts->addWidget(lbpurpose);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace tsx
