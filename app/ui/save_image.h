// Saving the mosaic from the main window: the file dialog, whose filter or
// typed extension picks BMP, PNG, JPEG or TIFF, a small options dialog for
// JPEG and TIFF, and the write itself, on a thread of its own for a large
// mosaic so the window stays responsive while the progress bar moves.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include <QDialog>
#include <QObject>

#include "imageio/row_writer.h"
#include "raster/dib.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace tsx {

class TForm1;

inline constexpr const char* kSaveImageTitle = "Save Image";
inline constexpr const char* kSaveImageFilter =
    "24-bit Bitmap|*.bmp;*.dib|PNG Image|*.png|JPEG Image|*.jpg;*.jpeg|TIFF Image|*.tif;*.tiff";
/// Mosaics of at least this many bytes are written in the background.
inline constexpr int64_t kBackgroundSaveBytes = int64_t(16) << 20;

/// The choices of a JPEG or TIFF file; starts at quality 92 with colour at
/// full resolution, and at the given resolution without compression.
class SaveImageOptionsDialog : public QDialog {
    Q_OBJECT
public:
    SaveImageOptionsDialog(QWidget* parent, ImageFileKind kind, int dpi);
    ImageWriteOptions options() const;

    QSpinBox* quality = nullptr;
    QCheckBox* subsampled = nullptr;
    QSpinBox* dpi = nullptr;
    QComboBox* compression = nullptr;

private:
    ImageFileKind m_kind;
};

/// One background save at a time. Dropping it stops the write, which then
/// removes its temporary file.
class ImageSaver : public QObject {
    Q_OBJECT
public:
    explicit ImageSaver(QObject* parent) : QObject(parent) {}
    ~ImageSaver() override;
    bool busy() const { return m_thread.joinable() && !m_done.load(); }
    void start(TDIB mosaic, std::string fileName, ImageWriteOptions options);
    /// Lets a running save finish its file (the program is ending).
    void waitUntilWritten() { join(); }

signals:
    void progressed(int percent);
    void ended(bool ok, const QString& error);

private:
    void join();
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
};

/// Save Image: asks for the file and the options, then writes the mosaic.
void saveImageFromWindow(TForm1& window);

}  // namespace tsx
