// TPrintform, the printer setup window.
#pragma once

#include <QWidget>

namespace tsx {

/// The printer setup window; its controls are still to be built.
class TPrintform : public QWidget {
    Q_OBJECT
public:
    explicit TPrintform(QWidget* parent = nullptr);
};

}  // namespace tsx
