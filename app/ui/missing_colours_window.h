// The colours the ImageList lacks, as swatches with the number of cells a
// picture of each colour would serve better.
#pragma once

#include <QWidget>

class QLabel;
class QListWidget;

namespace tsx {

struct Session;

class TMissingColours : public QWidget {
    Q_OBJECT
public:
    explicit TMissingColours(Session& session, QWidget* parent = nullptr);

    QLabel* lbsummary = nullptr;
    QListWidget* lscolours = nullptr;

    /// Reads the current placement again.
    void refresh();

private:
    Session& m_session;
};

}  // namespace tsx
