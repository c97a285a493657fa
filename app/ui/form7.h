// TForm7, the usage statistics window.
#pragma once

#include <QWidget>

namespace tsx {

/// The usage statistics window; its controls are still to be built.
class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);
};

}  // namespace tsx
