// TFormnew, the creation wizard. What the main window and the render need
// from it: the first step opened afresh, the source preview cleared and the
// source file name. The ImageList itself is the process-wide imageList().
#pragma once

#include <string>

#include <QWidget>

class QPushButton;

namespace tsx {

class TDXPaintBox;

/// The four-step creation wizard; UI thread only.
class TFormnew : public QWidget {
    Q_OBJECT
public:
    explicit TFormnew(QWidget* parent = nullptr);

    QWidget* plload = nullptr;
    TDXPaintBox* ddprev1 = nullptr;
    QPushButton* btnext1 = nullptr;

    /// Shows the wizard modeless on its first step and resets the colour
    /// adjustments (Create New).
    void startWizard();
    /// Shows the job's source picture in ddprev1 and disables btnext1 (Clear all).
    void resetSourcePreview();
    void btresetClick();

    /// The source image last chosen in the first step ("" when none).
    std::string sourceFileName() const { return m_sourceFileName; }
    void setSourceFileName(std::string fileName) { m_sourceFileName = std::move(fileName); }

private:
    std::string m_sourceFileName;
};

}  // namespace tsx
