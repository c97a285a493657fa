// The preview beside the picture-open dialog: the file under the cursor,
// decoded by our own loaders, shrunk to fit, with its size below it.
#pragma once

#include <QString>
#include <QWidget>

class QFileDialog;
class QLabel;

namespace tsx {

class TDXPaintBox;

/// The caption under the preview: " (WxH)" for a picture, "(None)" otherwise.
QString previewCaption(int width, int height, bool loaded);

/// A preview pane; UI thread only.
class PicturePreview : public QWidget {
public:
    explicit PicturePreview(QWidget* parent = nullptr);

    /// Shows the picture in the file, or nothing when it is no picture.
    void showFile(const QString& fileName);
    QString caption() const;

    /// Puts a preview beside a non-native file dialog, following its
    /// current file.
    static PicturePreview* attachTo(QFileDialog& dialog);

private:
    TDXPaintBox* m_box = nullptr;
    QLabel* m_caption = nullptr;
};

}  // namespace tsx
