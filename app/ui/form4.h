// TForm4, the About window: the program's name and version.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace tsx {

/// The About window, shown modeless and hidden with its OK button.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    QLabel* lbproduct = nullptr;
    QLabel* lbversion = nullptr;
    QPushButton* btok = nullptr;
};

}  // namespace tsx
