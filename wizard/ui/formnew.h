// TFormnew, the creation wizard: four steps on stacked panels (source image,
// mosaic size, ImageList, creation options) that fill the mosaic job, size
// the main window's mosaic and, on Finish, place the cells and start the
// render. The ImageList itself is the session's; the list box here mirrors
// it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QRect>
#include <QStringList>
#include <QWidget>

#include "imageio/picture.h"
#include "wizard/ui/wizard_host.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;
class QSpinBox;
class QStackedWidget;

namespace tsx {

class ImageList;
struct FolderLoadOptions;
struct Session;
class TDXPaintBox;

/// The four-step creation wizard; UI thread only. While the main window
/// reports a render running, every step is disabled, so nothing here can
/// change the job, the ImageList or the rasters the render reads.
class TFormnew : public QWidget {
    Q_OBJECT
public:
    /// host shows what the wizard makes; both it and the session must
    /// outlive the wizard.
    TFormnew(Session& session, WizardHost& host, QWidget* parent = nullptr);
    ~TFormnew() override;

    // The stacked steps.
    QStackedWidget* steps = nullptr;
    QWidget* plload = nullptr;
    QWidget* plsize = nullptr;
    QWidget* pliml = nullptr;
    QWidget* plmosaic = nullptr;

    // Step 1: source image.
    QFrame* Panel1 = nullptr;
    TDXPaintBox* ddprev1 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lbsw = nullptr;
    QLabel* lbsh = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QScrollBar* sbra = nullptr;
    QScrollBar* sbga = nullptr;
    QScrollBar* sbba = nullptr;
    QLabel* lbra = nullptr;
    QLabel* lbga = nullptr;
    QLabel* lbba = nullptr;
    QCheckBox* cbmono = nullptr;
    QPushButton* btloadsource = nullptr;
    QPushButton* btreset = nullptr;
    QPushButton* btapply1 = nullptr;
    QPushButton* btnext1 = nullptr;

    // Step 2: mosaic size.
    QGroupBox* GroupBox2 = nullptr;
    QLabel* lbvcc = nullptr;
    QScrollBar* sbvcc = nullptr;
    QLabel* lbhcc = nullptr;
    QScrollBar* sbhcc = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* lbcw = nullptr;
    QScrollBar* sbcw = nullptr;
    QLabel* lbch = nullptr;
    QScrollBar* sbch = nullptr;
    QLabel* lbratio1 = nullptr;
    QLabel* lbratio2 = nullptr;
    QLabel* lbmsize = nullptr;
    QLabel* lbdisk = nullptr;
    QPushButton* btapply2 = nullptr;
    QPushButton* btreset2 = nullptr;
    QPushButton* btback1 = nullptr;
    QPushButton* btnext3 = nullptr;

    // Step 3: ImageList.
    QLabel* lablefcount = nullptr;
    QLabel* Label8 = nullptr;
    QListWidget* filelist = nullptr;
    QFrame* Panel2 = nullptr;
    TDXPaintBox* ddprev2 = nullptr;
    QPushButton* btloadcell2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    /// Off: a folder load takes the chosen folder alone, as it always did.
    QCheckBox* cbsubfolders = nullptr;
    QPushButton* btclear = nullptr;
    QPushButton* btback2 = nullptr;
    QPushButton* btnext2 = nullptr;

    // Step 4: creation options.
    QCheckBox* cbselfmode = nullptr;
    QCheckBox* cbmonocell = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QCheckBox* cbvf = nullptr;
    QCheckBox* cbhf = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QCheckBox* cbuseall = nullptr;
    QCheckBox* cbrepeat = nullptr;
    QSpinBox* sprepeat = nullptr;
    QCheckBox* cbnoclose = nullptr;
    QLabel* Label6 = nullptr;
    QRadioButton* rbcut = nullptr;
    QRadioButton* rbstretch = nullptr;
    QCheckBox* cbceoff = nullptr;
    QCheckBox* cbdetail = nullptr;       // "Match detail"
    QComboBox* cbdetailgrid = nullptr;  // its grid, 2 x 2 to 4 x 4
    QLabel* LBrandom = nullptr;
    QSlider* tbrandom = nullptr;
    QPushButton* btback3 = nullptr;
    QPushButton* btfinish = nullptr;

    /// Shows the wizard modeless on its first step and runs Reset (Create New).
    void startWizard();
    /// Shows the job's source picture in ddprev1 and disables btnext1 (Clear all).
    void resetSourcePreview();

    // Handlers.
    void btloadsourceClick();
    void sbraChange();
    void btapply1Click();
    void btresetClick();
    void btnext1Click();
    void btback1Click();
    void sbvccChange();
    void btapply2Click();
    void btreset2Click();
    void btnext3Click();
    void btloadcell2Click();
    void filelistClick();
    void btclearClick();
    void Button4Click();
    void Button3Click();
    void btback2Click();
    void btnext2Click();
    void tbrandomChange();
    void btback3Click();
    void btfinishClick();

    // Files from outside the wizard (the command line, drops), loaded as
    // the step's own command loads the file its dialog returns.
    /// Step 1's Load with this file instead of the dialog's.
    void openSourcePicture(const QString& fileName);
    /// Step 3's Load From ImageList with this file.
    void openImageListFile(const QString& fileName);
    /// Step 3's Load Cell Images for each folder, and the pictures between
    /// them added as a folder's are, in the order given.
    void addCellPictures(const QStringList& paths);

    /// The source image last loaded in the first step ("" when none).
    std::string sourceFileName() const;
    void setSourceFileName(std::string fileName);

    /// A render started (true) or ended (false): every step is disabled
    /// while one runs.
    void onRenderingChanged(bool rendering);

    /// Makes every following Finish start placement from this generator
    /// state instead of seeding from the clock, so a run can be repeated
    /// exactly (tests, comparisons with the batch tool).
    void useFixedRandomState(std::optional<uint32_t> state) { m_fixedRandomState = state; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildSourceStep();
    void buildSizeStep();
    void buildImageListStep();
    void buildOptionsStep();
    // Places every control at its designed rectangle, scaled when the
    // system font is larger than the one the window was drawn for.
    void layOut();
    void design(QWidget* widget, int x, int y, int width = -1, int height = -1);
    void setAutoText(QLabel* label, const QString& text);
    void showStep(QWidget* panel, const QString& caption);

    void applySource();
    bool applySize();
    void finish();
    void loadSource(const std::optional<QString>& given);
    void loadFolder(const QString& folder);
    void loadCellPictures(const std::function<void(ImageList&, const FolderLoadOptions&)>& load);
    void deleteSelectedEntry();
    void writeCountLabels();
    void syncFileList();

    struct Designed {
        QWidget* widget;
        QRect rect;  // width or height -1: the control's own size
    };
    std::vector<Designed> m_designed;
    double m_scaleX = 1, m_scaleY = 1;

    Session& m_session;
    WizardHost& m_host;
    QString m_lastPicturePath;  // where the picture dialog opens next
    TPicture m_previewPicture;  // the ImageList step's scratch picture
    std::optional<uint32_t> m_fixedRandomState;
    bool m_rendering = false;
};

}  // namespace tsx
