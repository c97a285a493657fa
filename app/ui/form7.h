// TForm7, the usage statistics window: how often each ImageList picture
// fills a cell of the current placement, as an editable text that can be
// saved as a text file.
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tsx {

struct Session;

inline constexpr const char* kStatsTextFilter = "Text File|*.txt";

/// The usage statistics window; UI thread only.
class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(Session& session, QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    /// The match distances and the mosaic's fidelity, shown after Start Stats.
    QLabel* lbfigures = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* btgetstat = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    /// Start Stats: fills the memo with the statistic of the current job.
    void btgetstatClick();
    /// Save Text File: the memo's text as it stands, CR LF after every line.
    void Button1Click();
    /// Close: hides the window; the memo keeps its text.
    void Button2Click();

private:
    void fillStatistics();
    void showFigures();
    void saveText();

    Session& m_session;
};

}  // namespace tsx
