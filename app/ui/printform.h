// TPrintform, the printer setup window: image resolution, margins,
// orientation and quality, the printed sizes they give, and printing the
// mosaic on one page of the default printer (or into a PDF file when the
// system has no printer).
#pragma once

#include <memory>

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QWidget>

#include "app/print_layout.h"
#include "raster/dib.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPainter;
class QPrinter;
class QPushButton;
class QRadioButton;

namespace tsx {

struct Session;

inline constexpr const char* kPdfTitle = "Save Printed Page As";
inline constexpr const char* kPdfFilter = "PDF File|*.pdf";

/// A margin box: two decimals; the arrows and Up/Down add the small step,
/// Page Up/Down the big one, and a step that would leave 0..10 is refused
/// with a beep. Larger values can be typed; the window brings them back.
class MarginSpinBox : public QDoubleSpinBox {
    Q_OBJECT
public:
    MarginSpinBox(double smallStep, double bigStep, QWidget* parent = nullptr);
    void stepBy(int steps) override;
    /// One big step up (+1) or down (-1), refused like a small one.
    void bigStepBy(int steps);

signals:
    /// Every change of the text, also to one that is not a number yet.
    void editTextChanged(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool stepWithin(double delta);
    double m_bigStep;
};

/// The image resolution box: steps stay within 50..1200; larger numbers can
/// be typed and hold while the box has the focus, and leaving it brings
/// them back to 1200 (less than 50 becomes 50).
class ImageDpiSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit ImageDpiSpinBox(QWidget* parent = nullptr);
    void stepBy(int steps) override;
    /// Brings a typed value back within 50..1200.
    void limitToRange();

protected:
    StepEnabled stepEnabled() const override;
};

/// Draws a 24-bit raster stretched into target (nearest pixel) band by band,
/// each band wrapped over the raster's own rows without copying them.
void drawRasterBands(QPainter& painter, const TDIB& raster, const TRect& target, int bandRows = 0);

/// The printer resolutions the four quality levels choose from, lowest first.
std::vector<int> qualityResolutions(const QPrinter& printer);

/// The printer setup window; UI thread only.
class TPrintform : public QWidget {
    Q_OBJECT
public:
    explicit TPrintform(Session& session, QWidget* parent = nullptr);
    ~TPrintform() override;

    // Controls, under their names.
    QGroupBox* GroupBox1 = nullptr;  // margins
    MarginSpinBox* spTop = nullptr;
    MarginSpinBox* spleft = nullptr;
    QGroupBox* GroupBox2 = nullptr;  // orientation
    QRadioButton* rbp = nullptr;
    QRadioButton* rbl = nullptr;
    QGroupBox* GroupBox3 = nullptr;  // image size and quality
    QComboBox* cbPQ = nullptr;
    QLabel* Lpres = nullptr;
    ImageDpiSpinBox* seidpi = nullptr;
    QLabel* lpisize = nullptr;
    QLabel* lpcsize = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* btrenew = nullptr;

    // Kept from the last refresh for printing.
    int printerDpiX = 0;
    int printerDpiY = 0;
    int imageDpi = 0;
    int mosaicWidth = 0;
    int mosaicHeight = 0;
    PrintFigures figures;
    TRect printRect;

    // Handlers.
    void btrenewClick();
    void Button1Click();
    void Button2Click();
    void spTopExit();
    void spleftChange();
    void seidpiExit();

    /// The printer the window works with: the system's default printer, or a
    /// PDF writer when there is none. Made on first use, kept for the run.
    QPrinter& printer();
    /// Replaces that printer (a PDF writer prints into a file chosen in a
    /// save dialog); settings made so far are applied to it at the next refresh.
    void setPrinter(std::unique_ptr<QPrinter> printer);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshLayout();
    void applyPrinterSettings(QPrinter& target);
    void printPage();

    Session& m_session;
    std::unique_ptr<QPrinter> m_printer;
};

}  // namespace tsx
