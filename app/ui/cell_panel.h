// The "Cell" dock beside the mosaic: what the selected cell shows and why.
#pragma once

#include <functional>

#include <QDockWidget>
#include <QString>

class QLabel;
class QPushButton;

namespace tsx {

class PicturePreview;

/// What the panel shows of one cell.
struct CellDetails {
    int col = 0, row = 0;
    int selected = 1;      // cells in the selection
    QString path;          // the picture file; empty when unknown
    QString signature;     // "red, green, blue" of the picture
    QString cellColour;    // "red, green, blue" of the cell
    int red = 0, green = 0, blue = 0;  // the cell's colour, for the swatch
    bool colourKnown = false;
    int distance = -1;
    bool locked = false;
};

/// The dock; hidden until a cell is selected. UI thread only.
class CellPanel : public QDockWidget {
    Q_OBJECT
public:
    explicit CellPanel(QWidget* parent = nullptr);

    void showDetails(const CellDetails& details);
    const CellDetails& details() const { return m_details; }

    /// Opens a folder in the desktop's file manager; tests put their own here.
    std::function<void(const QString& folder)> openFolder;

    QLabel* cellLabel = nullptr;
    QLabel* pathLabel = nullptr;
    QLabel* signatureLabel = nullptr;
    QLabel* colourLabel = nullptr;
    QLabel* swatch = nullptr;
    QLabel* distanceLabel = nullptr;
    QPushButton* showInFolder = nullptr;
    PicturePreview* preview = nullptr;

private:
    void showInFolderClick();

    CellDetails m_details;
};

}  // namespace tsx
