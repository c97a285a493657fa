#include "wizard/ui/formnew.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>

#include "engine/mosaic_job.h"
#include "raster/ui/dxpaintbox.h"
#include "widgets/dialogs.h"
#include "wizard/image_list.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"
#include "wizard/ui/ui_wait.h"

namespace tsx {

namespace {

const QColor kSilver(192, 192, 192);

// The window was drawn for a font 13 pixels high; a larger system font
// scales every place and size by the same factors.
constexpr int kDesignedFontHeight = 13;
constexpr int kClientWidth = 355;
constexpr int kClientHeight = 354;
constexpr int kPanelSide = 353;

const char* const kOpeningCaption = "Tesserix  ----  Load Main Image";
const char* const kSourceCaption = "Tesserix ---- Loading Main Image";
const char* const kSizeCaption = "Tesserix ---- Photo Mosaic Size Setup";
const char* const kImageListCaption = "Tesserix ---- Load Images For Cells";
const char* const kOptionsCaption = "Tesserix ---- Mosaic Creation Setup ";

const char* const kPictureFilter =
    "All Image File|*.dib;*.gif;*.pcx;*.pic;*.tga;*.tif;*.tiff;*.jpg;*.jpeg;*.bmp;|CompuServe images "
    "(*.gif)|*.gif|ZSoft PCX images (*.pcx)|*.pcx|Autodesk images (*.pic)|*.pic|Truevision images "
    "(*.tga)|*.tga|TIFF images (*.tif)|*.tif|TIFF images (*.tiff)|*.tiff|Device Independent Bitmap "
    "(*.dib)|*.dib|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Windows Bitmaps (*.bmp)|*.bmp"
    "|Photo images|*.png;*.webp;*.heic;*.heif;*.avif|PNG images (*.png)|*.png|WebP images (*.webp)|*.webp"
    "|HEIF images (*.heic)|*.heic|HEIF images (*.heif)|*.heif|AVIF images (*.avif)|*.avif";
const char* const kTooFewPictures = "You should load more than 10 pictures, or you can only use selfmosaic mode.";
const char* const kCautionCaption = "Caution";
constexpr size_t kFewestPictures = 10;

QString qs(const std::string& text) { return QString::fromStdString(text); }

template <class W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QScrollBar* scrollBar(QWidget* parent, const char* name, const SettingRange& range)
{
    auto* bar = named(new QScrollBar(Qt::Horizontal, parent), name);
    bar->setRange(range.minimum, range.maximum);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(range.initial);
    return bar;
}

QPushButton* button(QWidget* parent, const char* name, const char* text)
{
    auto* b = named(new QPushButton(QLatin1String(text), parent), name);
    b->setAutoDefault(false);
    return b;
}

// The spin edit of the repetition limit: any digits and signs may be typed;
// when the text is read (focus out, Finish) a value outside the range takes
// the nearer limit and a text that is no number counts as the minimum.
class RepeatSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int&) const override
    {
        for (const QChar c : input)
            if (!c.isDigit() && c != QLatin1Char('+') && c != QLatin1Char('-'))
                return QValidator::Invalid;
        return QValidator::Acceptable;
    }
    int valueFromText(const QString& text) const override
    {
        bool ok = false;
        const qlonglong typed = text.trimmed().toLongLong(&ok);
        if (!ok)
            return minimum();
        return int(std::clamp<qlonglong>(typed, minimum(), maximum()));
    }
    void fixup(QString& input) const override { input = textFromValue(valueFromText(input)); }
};

// The decimal separator of the user's number format.
char decimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 128 ? char(point.at(0).unicode()) : '.';
}

}  // namespace

TFormnew::TFormnew(Session& session, WizardHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_session(session)
    , m_host(host)
{
    setObjectName(QStringLiteral("Formnew"));
    setWindowTitle(QLatin1String(kOpeningCaption));

    steps = named(new QStackedWidget(this), "steps");
    plload = named(new QWidget, "plload");
    plsize = named(new QWidget, "plsize");
    pliml = named(new QWidget, "pliml");
    plmosaic = named(new QWidget, "plmosaic");
    for (QWidget* panel : { plload, plsize, pliml, plmosaic })
        steps->addWidget(panel);
    buildSourceStep();
    buildSizeStep();
    buildImageListStep();
    buildOptionsStep();
    steps->setCurrentWidget(plload);
    layOut();
    move(192, 127);
}

TFormnew::~TFormnew() = default;

std::string TFormnew::sourceFileName() const { return m_session.sourceFileName; }

void TFormnew::setSourceFileName(std::string fileName) { m_session.sourceFileName = std::move(fileName); }

void TFormnew::design(QWidget* widget, int x, int y, int width, int height)
{
    m_designed.push_back({ widget, QRect(x, y, width, height) });
}

void TFormnew::buildSourceStep()
{
    Panel1 = named(new QFrame(plload), "Panel1");
    Panel1->setAutoFillBackground(true);
    QPalette silver = Panel1->palette();
    silver.setColor(QPalette::Window, kSilver);
    Panel1->setPalette(silver);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    design(Panel1, 8, 8, 257, 185);
    ddprev1 = named(new TDXPaintBox(Panel1), "ddprev1");
    ddprev1->setAutoStretch(true);
    ddprev1->setCenter(true);
    design(ddprev1, 4, 4, 249, 177);

    Label16 = named(new QLabel(QStringLiteral("Source Image"), plload), "Label16");
    Label16->setCursor(Qt::PointingHandCursor);
    Label16->installEventFilter(this);
    design(Label16, 272, 16);
    Label1 = named(new QLabel(QStringLiteral("Orginal Size:"), plload), "Label1");
    design(Label1, 272, 40);
    lbsw = named(new QLabel(QStringLiteral("Width: 0"), plload), "lbsw");
    design(lbsw, 272, 64);
    lbsh = named(new QLabel(QStringLiteral("Height: 0"), plload), "lbsh");
    design(lbsh, 272, 88);

    GroupBox1 = named(new QGroupBox(QStringLiteral("RGB Adjust"), plload), "GroupBox1");
    design(GroupBox1, 8, 192, 257, 121);
    const char* letters[3] = { "R", "G", "B" };
    const char* letterNames[3] = { "Label2", "Label3", "Label4" };
    const char* barNames[3] = { "sbra", "sbga", "sbba" };
    const char* valueNames[3] = { "lbra", "lbga", "lbba" };
    QLabel** letterLabels[3] = { &Label2, &Label3, &Label4 };
    QScrollBar** bars[3] = { &sbra, &sbga, &sbba };
    QLabel** values[3] = { &lbra, &lbga, &lbba };
    for (int i = 0; i < 3; ++i) {
        *letterLabels[i] = named(new QLabel(QLatin1String(letters[i]), GroupBox1), letterNames[i]);
        design(*letterLabels[i], 8, 26 + 24 * i);
        *bars[i] = scrollBar(GroupBox1, barNames[i], kWizardDefaults.sourceAdjust);
        design(*bars[i], 24, 24 + 24 * i, 201, 17);
        *values[i] = named(new QLabel(QStringLiteral("0"), GroupBox1), valueNames[i]);
        design(*values[i], 232, 28 + 24 * i);
        connect(*bars[i], &QScrollBar::valueChanged, this, &TFormnew::sbraChange);
    }
    cbmono = named(new QCheckBox(QStringLiteral("Monochrome Mode "), GroupBox1), "cbmono");
    design(cbmono, 8, 96, 121, 17);
    // a change made by Reset adjusts the preview just as a click does
    connect(cbmono, &QCheckBox::toggled, this, &TFormnew::sbraChange);

    btloadsource = button(plload, "btloadsource", "Load");
    design(btloadsource, 8, 320, 75, 25);
    btreset = button(plload, "btreset", "Reset");
    design(btreset, 96, 320, 75, 25);
    btapply1 = button(plload, "btapply1", "Apply");
    design(btapply1, 184, 320, 75, 25);
    btnext1 = button(plload, "btnext1", "Next Step");
    btnext1->setEnabled(false);
    design(btnext1, 272, 320, 75, 25);
    connect(btloadsource, &QPushButton::clicked, this, &TFormnew::btloadsourceClick);
    connect(btreset, &QPushButton::clicked, this, &TFormnew::btresetClick);
    connect(btapply1, &QPushButton::clicked, this, &TFormnew::btapply1Click);
    connect(btnext1, &QPushButton::clicked, this, &TFormnew::btnext1Click);
}

void TFormnew::buildSizeStep()
{
    GroupBox2 = named(new QGroupBox(QStringLiteral("Cells Count"), plsize), "GroupBox2");
    design(GroupBox2, 8, 8, 329, 97);
    lbvcc = named(new QLabel(QStringLiteral("Vertical  Cells Count : 32"), GroupBox2), "lbvcc");
    design(lbvcc, 8, 16);
    sbvcc = scrollBar(GroupBox2, "sbvcc", kWizardDefaults.rows);
    design(sbvcc, 8, 32, 305, 17);
    lbhcc = named(new QLabel(QStringLiteral("Horizontal Cells Count : 32"), GroupBox2), "lbhcc");
    design(lbhcc, 8, 56);
    sbhcc = scrollBar(GroupBox2, "sbhcc", kWizardDefaults.cols);
    design(sbhcc, 8, 72, 305, 17);

    GroupBox3 = named(new QGroupBox(QStringLiteral("Cell Size"), plsize), "GroupBox3");
    design(GroupBox3, 8, 112, 329, 105);
    lbcw = named(new QLabel(QStringLiteral("Width: 48"), GroupBox3), "lbcw");
    design(lbcw, 8, 24);
    sbcw = scrollBar(GroupBox3, "sbcw", kWizardDefaults.cellWidth);
    design(sbcw, 8, 40, 305, 17);
    lbch = named(new QLabel(QStringLiteral("Height: 48"), GroupBox3), "lbch");
    design(lbch, 8, 64);
    sbch = scrollBar(GroupBox3, "sbch", kWizardDefaults.cellHeight);
    design(sbch, 8, 80, 305, 17);
    for (QScrollBar* bar : { sbvcc, sbhcc, sbcw, sbch })
        connect(bar, &QScrollBar::valueChanged, this, &TFormnew::sbvccChange);

    lbratio1 = named(new QLabel(QStringLiteral("Aspect ratio of source image  : unknown"), plsize), "lbratio1");
    design(lbratio1, 8, 224);
    lbratio2 = named(new QLabel(QStringLiteral("Aspect ratio of  Photomosaic image 100/100"), plsize), "lbratio2");
    design(lbratio2, 8, 248);
    lbmsize = named(new QLabel(QStringLiteral("Mosaic size will be : 1024 x 1024"), plsize), "lbmsize");
    design(lbmsize, 8, 272);
    lbdisk = named(new QLabel(QStringLiteral("Disk Space Taken : 6.7 MB"), plsize), "lbdisk");
    design(lbdisk, 8, 296);

    btapply2 = button(plsize, "btapply2", "Apply");
    design(btapply2, 8, 320, 75, 25);
    btreset2 = button(plsize, "btreset2", "Reset");
    design(btreset2, 96, 320, 75, 25);
    btback1 = button(plsize, "btback1", "Back Step");
    design(btback1, 184, 320, 75, 25);
    btnext3 = button(plsize, "btnext3", "Next");
    design(btnext3, 272, 320, 73, 25);
    connect(btapply2, &QPushButton::clicked, this, &TFormnew::btapply2Click);
    connect(btreset2, &QPushButton::clicked, this, &TFormnew::btreset2Click);
    connect(btback1, &QPushButton::clicked, this, &TFormnew::btback1Click);
    connect(btnext3, &QPushButton::clicked, this, &TFormnew::btnext3Click);
}

void TFormnew::buildImageListStep()
{
    lablefcount = named(new QLabel(QStringLiteral("File Count In Image List : 0"), pliml), "lablefcount");
    design(lablefcount, 8, 8);
    Label8 = named(new QLabel(QStringLiteral("Overview"), pliml), "Label8");
    design(Label8, 224, 8);
    filelist = named(new QListWidget(pliml), "filelist");
    filelist->setSelectionMode(QAbstractItemView::SingleSelection);
    filelist->setUniformItemSizes(true);
    filelist->installEventFilter(this);
    design(filelist, 8, 24, 209, 289);
    connect(filelist, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            filelistClick();
    });

    Panel2 = named(new QFrame(pliml), "Panel2");
    Panel2->setFrameShape(QFrame::Panel);
    Panel2->setFrameShadow(QFrame::Raised);
    design(Panel2, 224, 24, 121, 161);
    ddprev2 = named(new TDXPaintBox(Panel2), "ddprev2");
    ddprev2->setAutoStretch(true);
    ddprev2->setCenter(true);
    design(ddprev2, 1, 1, 119, 159);

    btloadcell2 = button(pliml, "btloadcell2", "Load Cell Images");
    design(btloadcell2, 224, 192, 121, 25);
    Button3 = button(pliml, "Button3", "Load From ImageList");
    design(Button3, 224, 224, 121, 25);
    Button4 = button(pliml, "Button4", "Save ImageList");
    design(Button4, 224, 256, 121, 25);
    cbsubfolders = named(new QCheckBox(QStringLiteral("Include subfolders"), pliml), "cbsubfolders");
    cbsubfolders->setAccessibleName(QStringLiteral("Include subfolders"));
    // its natural width: the designed window has no width to lend it
    design(cbsubfolders, 224, 290, -1, 17);
    btclear = button(pliml, "btclear", "Clear");
    design(btclear, 96, 320, 75, 25);
    btback2 = button(pliml, "btback2", "Back Step");
    design(btback2, 184, 320, 75, 25);
    btnext2 = button(pliml, "btnext2", "Next Step");
    design(btnext2, 272, 320, 75, 25);
    connect(btloadcell2, &QPushButton::clicked, this, &TFormnew::btloadcell2Click);
    connect(Button3, &QPushButton::clicked, this, &TFormnew::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TFormnew::Button4Click);
    connect(btclear, &QPushButton::clicked, this, &TFormnew::btclearClick);
    connect(btback2, &QPushButton::clicked, this, &TFormnew::btback2Click);
    connect(btnext2, &QPushButton::clicked, this, &TFormnew::btnext2Click);
}

void TFormnew::buildOptionsStep()
{
    auto check = [](QWidget* parent, const char* name, const char* text, bool checked) {
        auto* box = named(new QCheckBox(QLatin1String(text), parent), name);
        box->setChecked(checked);
        return box;
    };
    cbselfmode = check(plmosaic, "cbselfmode", "Self Mosaic Mode  (use the source image itself as the cell image)",
                       false);
    design(cbselfmode, 8, 8, 337, 17);
    cbmonocell = check(plmosaic, "cbmonocell", "Monochrome Mode  (Cell image will be conversed to single color) ",
                       false);
    design(cbmonocell, 8, 32, 329, 17);

    GroupBox6 = named(new QGroupBox(QStringLiteral("Mirror"), plmosaic), "GroupBox6");
    design(GroupBox6, 8, 56, 337, 41);
    cbvf = check(GroupBox6, "cbvf", "Allow vertical flip", false);
    design(cbvf, 8, 16, 153, 17);
    cbhf = check(GroupBox6, "cbhf", "Allow horizontal flip", false);
    design(cbhf, 168, 16, 145, 17);

    GroupBox4 = named(new QGroupBox(QStringLiteral("Advance Mode"), plmosaic), "GroupBox4");
    design(GroupBox4, 8, 104, 337, 153);
    cbuseall = check(GroupBox4, "cbuseall", "Insure all loaded images will be used at least once.", false);
    design(cbuseall, 8, 16, 321, 17);
    cbrepeat = check(GroupBox4, "cbrepeat", "Cell image repetition will not be higher than", false);
    // drawn 265 wide, but the spin edit covers it from 236 on
    design(cbrepeat, 8, 40, 225, 17);
    sprepeat = named(new RepeatSpinBox(GroupBox4), "sprepeat");
    sprepeat->setRange(kWizardDefaults.maxRepeat.minimum, kWizardDefaults.maxRepeat.maximum);
    sprepeat->setValue(kWizardDefaults.maxRepeat.initial);
    design(sprepeat, 236, 36, 49, 22);
    cbnoclose = check(GroupBox4, "cbnoclose", "Never put a image close to itself.", kWizardDefaults.noClose);
    design(cbnoclose, 8, 64, 201, 17);
    Label6 = named(new QLabel(QStringLiteral("If cell image's orginal aspect ratio is different from cell size :"),
                              GroupBox4),
                   "Label6");
    design(Label6, 8, 88);
    rbcut = named(new QRadioButton(QStringLiteral("Cut the edge"), GroupBox4), "rbcut");
    design(rbcut, 24, 104, 97, 17);
    rbstretch = named(new QRadioButton(QStringLiteral("Stretch the image"), GroupBox4), "rbstretch");
    rbstretch->setChecked(kWizardDefaults.stretchCells);
    rbcut->setChecked(!kWizardDefaults.stretchCells);
    design(rbstretch, 168, 104, 113, 17);
    cbceoff = check(GroupBox4, "cbceoff", "Turn off Color Enhancement ", false);
    design(cbceoff, 8, 128, 161, 17);
    cbdetail = check(GroupBox4, "cbdetail", "Match detail", false);
    cbdetail->setAccessibleName(QStringLiteral("Match Detail"));
    cbdetail->setToolTip(QStringLiteral("Compare a grid of colours in every cell, not one mean colour"));
    design(cbdetail, 184, 128, 89, 17);
    cbdetailgrid = named(new QComboBox(GroupBox4), "cbdetailgrid");
    cbdetailgrid->setAccessibleName(QStringLiteral("Detail Grid"));
    for (int n = kDetailGridMin; n <= kDetailGridMax; ++n)
        cbdetailgrid->addItem(QStringLiteral("%1 \u00d7 %1").arg(n), n);
    cbdetailgrid->setCurrentIndex(kDetailGridDefault - kDetailGridMin);
    cbdetailgrid->setEnabled(false);
    design(cbdetailgrid, 276, 124, 53, 22);
    connect(cbdetail, &QCheckBox::toggled, cbdetailgrid, &QWidget::setEnabled);

    LBrandom = named(new QLabel(QStringLiteral("Randomize Level: 5"), plmosaic), "LBrandom");
    QFont bold = LBrandom->font();
    bold.setBold(true);
    LBrandom->setFont(bold);
    design(LBrandom, 8, 272);
    tbrandom = named(new QSlider(Qt::Horizontal, plmosaic), "tbrandom");
    tbrandom->setRange(kWizardDefaults.randomLevel.minimum, kWizardDefaults.randomLevel.maximum);
    tbrandom->setValue(kWizardDefaults.randomLevel.initial);
    tbrandom->setPageStep(1);
    tbrandom->setTickPosition(QSlider::TicksBelow);
    tbrandom->setTickInterval(1);
    design(tbrandom, 6, 288, 339, 25);
    connect(tbrandom, &QSlider::valueChanged, this, &TFormnew::tbrandomChange);

    btback3 = button(plmosaic, "btback3", "Back");
    design(btback3, 184, 320, 75, 25);
    btfinish = button(plmosaic, "btfinish", "Finish");
    design(btfinish, 270, 320, 75, 25);
    connect(btback3, &QPushButton::clicked, this, &TFormnew::btback3Click);
    connect(btfinish, &QPushButton::clicked, this, &TFormnew::btfinishClick);
}

void TFormnew::layOut()
{
    // Text controls with a drawn width show how much room their text had in
    // the designed font; the tightest of them sets the horizontal factor.
    m_scaleY = std::max(1.0, double(fontMetrics().height()) / kDesignedFontHeight);
    m_scaleX = 1;
    for (const Designed& d : m_designed) {
        if (d.rect.width() > 0 && (qobject_cast<QCheckBox*>(d.widget) || qobject_cast<QRadioButton*>(d.widget)))
            m_scaleX = std::max(m_scaleX, double(d.widget->sizeHint().width()) / d.rect.width());
    }
    m_scaleY = std::max(m_scaleY, std::min(m_scaleX, 1.5));
    auto sx = [this](int v) { return int(std::lround(v * m_scaleX)); };
    auto sy = [this](int v) { return int(std::lround(v * m_scaleY)); };

    for (const Designed& d : m_designed) {
        QWidget* w = d.widget;
        const QSize hint = w->sizeHint();
        const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)
            || qobject_cast<QPushButton*>(w);
        int width = d.rect.width() < 0 ? hint.width() : sx(d.rect.width());
        int height = d.rect.height() < 0 ? hint.height() : sy(d.rect.height());
        if (text) {
            width = std::max(width, hint.width());
            height = std::max(height, std::min(hint.height(), sy(d.rect.height() < 0 ? 13 : d.rect.height()) + 4));
        }
        w->setGeometry(sx(d.rect.x()), sy(d.rect.y()), width, height);
    }
    steps->setGeometry(0, 0, sx(kPanelSide), sy(kPanelSide));
    setFixedSize(sx(kClientWidth), sy(kClientHeight));
}

void TFormnew::setAutoText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

void TFormnew::showStep(QWidget* panel, const QString& caption)
{
    steps->setCurrentWidget(panel);
    setWindowTitle(caption);
    if (panel == pliml)
        syncFileList();
}

bool TFormnew::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label16 && event->type() == QEvent::MouseButtonRelease && Label16->isEnabled()) {
        btloadsourceClick();
        return true;
    }
    if (watched == filelist && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        runGuarded(this, [&] { deleteSelectedEntry(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TFormnew::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // a project load may have replaced the ImageList while the wizard was away
    syncFileList();
    setAutoText(lablefcount, qs(m_session.imageList.countLabel()));
}

void TFormnew::onRenderingChanged(bool rendering)
{
    // The render reads the job, the ImageList and the rasters the steps
    // write; nothing of the wizard may act until it has ended.
    m_rendering = rendering;
    steps->setEnabled(!rendering);
    if (!rendering) {
        syncFileList();
        setAutoText(lablefcount, qs(m_session.imageList.countLabel()));
    }
}

// ---- Opening and the moves between steps ----

void TFormnew::startWizard()
{
    steps->setCurrentWidget(plload);
    setWindowTitle(QLatin1String(kOpeningCaption));
    show();
    raise();
    activateWindow();
    btresetClick();
}

void TFormnew::resetSourcePreview()
{
    ddprev1->DIB().AssignFrom(m_session.job.sourcePicture.Graphic());
    ddprev1->update();
    btnext1->setEnabled(false);
}

void TFormnew::btnext1Click()
{
    runGuarded(this, [&] {
        applySource();
        showStep(plsize, QLatin1String(kSizeCaption));
        applySize();
    });
}

void TFormnew::btback1Click()
{
    runGuarded(this, [&] {
        showStep(plload, QLatin1String(kSourceCaption));
        applySource();
    });
}

void TFormnew::btnext3Click()
{
    runGuarded(this, [&] {
        if (applySize())
            showStep(pliml, QLatin1String(kImageListCaption));
    });
}

void TFormnew::btback2Click()
{
    runGuarded(this, [&] { showStep(plsize, QLatin1String(kSizeCaption)); });
}

void TFormnew::btnext2Click()
{
    runGuarded(this, [&] {
        showStep(plmosaic, QLatin1String(kOptionsCaption));
        if (m_session.imageList.count() < kFewestPictures) {
            cbselfmode->setChecked(true);
            showMessage(this, QLatin1String(kTooFewPictures), QLatin1String(kCautionCaption));
        }
    });
}

void TFormnew::btback3Click()
{
    runGuarded(this, [&] { showStep(pliml, QLatin1String(kImageListCaption)); });
}

// ---- Step 1: source image ----

void TFormnew::btloadsourceClick() { loadSource(std::nullopt); }

void TFormnew::openSourcePicture(const QString& fileName) { loadSource(fileName); }

void TFormnew::loadSource(const std::optional<QString>& given)
{
    runGuarded(this, [&] {
        if (m_rendering)
            return;
        MosaicJob& job = m_session.job;
        // a file given from outside is taken as the dialog's answer
        const QString fileName = given ? *given
                                       : getOpenPictureFileName(this, QStringLiteral("Open"),
                                                                QLatin1String(kPictureFilter), m_lastPicturePath);
        if (!fileName.isEmpty()) {
            m_lastPicturePath = fileName;
            const std::string path = QFile::encodeName(fileName).toStdString();
            LoadPicture(path, job.sourcePicture);
            // named only once it loaded, so a self mosaic never reads a file
            // other than the picture the steps were built from
            m_session.sourceFileName = path;
        }
        ddprev1->DIB().AssignFrom(job.sourcePicture.Graphic());
        const int width = job.sourcePicture.Width();
        const int height = job.sourcePicture.Height();
        {
            std::lock_guard<std::mutex> lock(job.mosaicImageLock);
            job.mosaicImage.AssignFrom(job.sourcePicture.Graphic());
        }
        m_host.resizeMosaicView(width, height);
        adjustColours(ddprev1->DIB(), sbra->value(), sbga->value(), sbba->value(), cbmono->isChecked());
        ddprev1->update();
        m_host.repaintMosaicView();
        setAutoText(lbsh, QStringLiteral("Height: %1").arg(height));
        setAutoText(lbsw, QStringLiteral("Width: %1").arg(width));
        if (height >= 1 && width >= 1) {
            btnext1->setEnabled(true);
            setAutoText(lbratio1, QStringLiteral("Aspect ratio of source image :%1/100").arg(qint64(height) * 100 / width));
            m_host.refreshOverview();
        } else {
            btnext1->setEnabled(false);
            setAutoText(lbratio1, QStringLiteral("Aspect ratio of source image : unknown"));
        }
    });
}

void TFormnew::sbraChange()
{
    if (m_rendering)
        return;
    runGuarded(this, [&] {
        MosaicJob& job = m_session.job;
        // from the source every time, so adjustments never pile up
        ddprev1->DIB().AssignFrom(job.sourcePicture.Graphic());
        MosaicSettings& s = job.settings;
        s.sourceRedAdjust = sbra->value();
        s.sourceGreenAdjust = sbga->value();
        s.sourceBlueAdjust = sbba->value();
        s.sourceMono = cbmono->isChecked();
        adjustColours(ddprev1->DIB(), s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust, s.sourceMono);
        ddprev1->update();
        setAutoText(lbra, QString::number(sbra->value()));
        setAutoText(lbga, QString::number(sbga->value()));
        setAutoText(lbba, QString::number(sbba->value()));
    });
}

void TFormnew::applySource()
{
    if (m_rendering)
        return;
    MosaicJob& job = m_session.job;
    MosaicSettings& s = job.settings;
    s.sourceRedAdjust = sbra->value();
    s.sourceGreenAdjust = sbga->value();
    s.sourceBlueAdjust = sbba->value();
    s.sourceMono = cbmono->isChecked();
    {
        TDIB adjusted;
        adjusted.AssignFrom(job.sourcePicture.Graphic());
        adjusted.Allocate(adjusted.Width(), adjusted.Height(), 24);
        adjustColours(adjusted, s.sourceRedAdjust, s.sourceGreenAdjust, s.sourceBlueAdjust, s.sourceMono);
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        job.mosaicImage = std::move(adjusted);
    }
    m_host.repaintMosaicView();
    if (!job.mosaicImage.IsEmpty())
        m_host.refreshOverview();
}

void TFormnew::btapply1Click()
{
    runGuarded(this, [&] { applySource(); });
}

void TFormnew::btresetClick()
{
    if (m_rendering)
        return;
    runGuarded(this, [&] {
        sbra->setValue(0);
        sbga->setValue(0);
        sbba->setValue(0);
        cbmono->setChecked(false);
        MosaicJob& job = m_session.job;
        if (job.sourcePicture.Width() > 0)
            ddprev1->DIB().AssignFrom(job.sourcePicture.Graphic());
        ddprev1->update();
        applySource();
    });
}

// ---- Step 2: mosaic size ----

void TFormnew::sbvccChange()
{
    if (m_rendering)
        return;
    runGuarded(this, [&] {
        MosaicSettings& s = m_session.job.settings;
        recomputeSize(s, sbvcc->value(), sbhcc->value(), sbcw->value(), sbch->value());
        const SizeStepLabels labels = sizeStepLabels(s, decimalSeparator());
        setAutoText(lbvcc, qs(labels.verticalCells));
        setAutoText(lbhcc, qs(labels.horizontalCells));
        setAutoText(lbcw, qs(labels.cellWidth));
        setAutoText(lbch, qs(labels.cellHeight));
        setAutoText(lbratio2, qs(labels.mosaicRatio));
        setAutoText(lbmsize, qs(labels.mosaicSize));
        setAutoText(lbdisk, qs(labels.diskSpace));
    });
}

bool TFormnew::applySize()
{
    if (m_rendering)
        return false;
    sbvccChange();
    MosaicJob& job = m_session.job;
    const MosaicSettings& s = job.settings;
    if (exceedsDiskLimit(s.diskSpaceMB)) {
        showMessage(this, QLatin1String(kTooBigMessage), QLatin1String(kTooBigCaption));
        return false;
    }
    m_host.resizeMosaicView(s.mosaicWidth, s.mosaicHeight);
    if (tsx::applySize(job, s.rows, s.cols, s.cellWidth, s.cellHeight) != ApplyOutcome::Applied)
        return false;
    m_host.repaintMosaicView();
    const SizeStatusTexts texts = sizeStatusTexts(s);
    m_host.setStatusText(0, qs(texts.cells));
    m_host.setStatusText(1, qs(texts.cellSize));
    m_host.setStatusText(2, qs(texts.mosaicSize));
    m_host.refreshOverview();
    return true;
}

void TFormnew::btapply2Click()
{
    runGuarded(this, [&] { applySize(); });
}

void TFormnew::btreset2Click()
{
    if (m_rendering)
        return;
    runGuarded(this, [&] {
        sbvcc->setValue(48);
        sbhcc->setValue(48);
        sbcw->setValue(32);
        sbch->setValue(32);
        applySize();
    });
}

// ---- Step 4: options and Finish ----

void TFormnew::tbrandomChange()
{
    setAutoText(LBrandom, QStringLiteral("Randomize Range : %1").arg(tbrandom->value()));
}

void TFormnew::btfinishClick()
{
    runGuarded(this, [&] { finish(); });
}

void TFormnew::finish()
{
    if (m_rendering)
        return;
    ImageList& list = m_session.imageList;
    if (list.count() < kFewestPictures && !cbselfmode->isChecked()) {
        if (!askOkCancel(this, QLatin1String(kTooFewPictures), QLatin1String(kCautionCaption)))
            return;
        cbselfmode->setChecked(true);
    }
    // a value still being typed counts as it stands, clamped
    sprepeat->interpretText();

    CreationOptions options;
    options.selfMosaic = cbselfmode->isChecked();
    options.monoCells = cbmonocell->isChecked();
    options.allowVFlip = cbvf->isChecked();
    options.allowHFlip = cbhf->isChecked();
    options.useAll = cbuseall->isChecked();
    options.limitRepeat = cbrepeat->isChecked();
    options.noClose = cbnoclose->isChecked();
    options.maxRepeat = sprepeat->value();
    options.randomLevel = tbrandom->value();
    options.cutEdges = rbcut->isChecked();
    options.colorEnhanceOff = cbceoff->isChecked();
    options.detailGrid = cbdetail->isChecked() ? cbdetailgrid->currentData().toInt() : 0;

    Session& session = m_session;
    const std::optional<uint32_t> fixedState = m_fixedRandomState;
    runWhileUiWaits([&session, &options, fixedState] { placeJob(session, options, fixedState); },
                    WaitInput::Blocked);

    m_host.startRender();
    hide();
}

}  // namespace tsx
