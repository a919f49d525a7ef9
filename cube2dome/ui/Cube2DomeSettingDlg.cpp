#include "cube2dome/ui/Cube2DomeSettingDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include "cube2dome/Cube2DomeJob.h"
#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"
#include "ui/DialogUnits.h"
#include "ui/FieldExchange.h"
#include "ui/FieldLeaveCheck.h"
#include "ui/FileDialog.h"
#include "ui/FolderPicker.h"
#include "ui/ImageDepthChoice.h"
#include "ui/MessageBox.h"
#include "ui/ReadOnlyField.h"

namespace skelvane {
namespace {

template <typename Control>
Control* Place(Control* control, int x, int y, int width, int height)
{
    PlaceControl(control, x, y, width, height);
    return control;
}

QComboBox* MakeChoice(QWidget* parent, const QStringList& entries, int x, int y, int width)
{
    auto* combo = Place(new QComboBox(parent), x, y, width, 13);
    combo->addItems(entries);
    combo->setCurrentIndex(0);
    return combo;
}

QStringList FormatEntries(CodecUse use)
{
    QStringList entries;
    for (const std::string& format : FormatChoices(use)) {
        entries << QString::fromStdString(format);
    }
    return entries;
}

QStringList NumberEntries(int first, int last)
{
    QStringList entries;
    for (int n = first; n <= last; ++n) entries << QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    return entries;
}

// Digits only, as the numeric fields of the dialog take them.
void DigitsOnly(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
}

constexpr int kFaceRowTop = 52;
constexpr int kFaceRowStep = 17;
constexpr int kFaceSerialStart = 4;  // "05"

const char* const kFaceLabels[kCubeFaceCount] = {"Left: ", "Front: ", "Right: ", "Back: ", "Top: ", "Bottom: "};

}  // namespace

CCube2DomeSettingDlg::CCube2DomeSettingDlg(const VideoEncoderSettings& videoSettings, QWidget* parent)
    : QDialog(parent), m_videoSettings(videoSettings)
{
    setWindowTitle(QStringLiteral("Cube2Dome Setting"));
    setFixedSize(DialogSize(470, 474));

    // Group boxes first, so the controls inside them stay on top.
    Place(new QGroupBox(QStringLiteral("Sift"), this), 5, 3, 300, 160);
    Place(new QGroupBox(QStringLiteral("Check"), this), 310, 3, 155, 160);
    Place(new QGroupBox(QStringLiteral("Info"), this), 310, 168, 155, 87);
    auto* output = Place(new QGroupBox(QStringLiteral("Output"), this), 5, 260, 460, 116);
    Q_UNUSED(output);
    Place(new QGroupBox(QStringLiteral("File name"), this), 10, 270, 140, 101);
    Place(new QGroupBox(QStringLiteral("Frame"), this), 155, 270, 150, 101);
    Place(new QGroupBox(QStringLiteral("Resolution"), this), 310, 270, 150, 101);
    Place(new QGroupBox(QStringLiteral("Vertical view angle"), this), 5, 380, 225, 34);
    Place(new QGroupBox(QStringLiteral("Video"), this), 5, 418, 460, 34);

    // Sift: faces in use, input format, the upper folder and the six face folders.
    Place(new QLabel(QStringLiteral("Faces: "), this), 12, 18, 26, 8);
    m_facesCombo = MakeChoice(this, {QStringLiteral("5"), QStringLiteral("6")}, 40, 16, 30);
    Place(new QLabel(QStringLiteral("Format:"), this), 82, 18, 26, 8);
    m_inputFormatCombo = MakeChoice(this, FormatEntries(CodecUse::Read), 110, 16, 36);
    Place(new QLabel(QStringLiteral("Upper dir: "), this), 12, 35, 40, 8);
    m_upperDirEdit = Place(new QLineEdit(this), 55, 33, 195, 13);
    MakeReadOnly(m_upperDirEdit);
    m_upperDirButton = Place(new QPushButton(QStringLiteral("Browse..."), this), 254, 33, 45, 13);

    m_faceGroup = new QButtonGroup(this);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const int y = kFaceRowTop + kFaceRowStep * k;
        m_faceRadios[k] = Place(new QRadioButton(QString::fromLatin1(kFaceLabels[k]), this), 12, y + 2, 40, 10);
        m_faceGroup->addButton(m_faceRadios[k], k);
        m_facePathEdits[k] = Place(new QLineEdit(this), 55, y, 195, 13);
        // Every folder field holds up to 1024 characters; Top was never limited.
        if (k != Top) m_facePathEdits[k]->setMaxLength(static_cast<int>(kMaxFolderChars));
        m_faceButtons[k] = Place(new QPushButton(QStringLiteral("Browse..."), this), 254, y, 45, 13);
    }

    // Check: per-face name rules, kept with the settings.
    m_ignoreCheck = Place(new QCheckBox(QStringLiteral("Ignore"), this), 318, 18, 40, 10);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const int y = kFaceRowTop + kFaceRowStep * k;
        Place(new QLabel(QStringLiteral("Prefix: "), this), 316, y + 2, 26, 8);
        m_facePrefixEdits[k] = Place(new QLineEdit(this), 344, y, 28, 13);
        Place(new QLabel(QStringLiteral("Serial:"), this), 378, y + 2, 24, 8);
        m_faceSerialCombos[k] = MakeChoice(this, NumberEntries(1, 6), 405, y, 32);
    }

    // The files of the selected face, shown sorted by name.
    m_fileList = Place(new QListWidget(this), 5, 168, 300, 87);
    m_fileList->setSortingEnabled(true);

    // Info: the selected file's size and its place in the list.
    Place(new QLabel(QStringLiteral("width: "), this), 318, 184, 30, 8);
    m_infoWidth = Place(new QLabel(QStringLiteral("--"), this), 355, 184, 100, 8);
    Place(new QLabel(QStringLiteral("Height: "), this), 318, 204, 30, 8);
    m_infoHeight = Place(new QLabel(QStringLiteral("--"), this), 355, 204, 100, 8);
    Place(new QLabel(QStringLiteral("count: "), this), 318, 224, 30, 8);
    m_infoCount = Place(new QLabel(QStringLiteral("--"), this), 355, 224, 100, 8);

    // Output: file name, frames, resolution.
    Place(new QLabel(QStringLiteral("Prefix: "), this), 16, 284, 28, 8);
    m_outputPrefixEdit = Place(new QLineEdit(this), 48, 282, 95, 13);
    Place(new QLabel(QStringLiteral("Serial: "), this), 16, 301, 28, 8);
    m_serialCombo = MakeChoice(this, NumberEntries(kMinSerialDigits, kMaxSerialDigits), 48, 299, 36);
    Place(new QLabel(QStringLiteral("Format: "), this), 16, 318, 28, 8);
    m_outputFormatCombo = MakeChoice(this, FormatEntries(CodecUse::Write), 48, 316, 36);
    m_depthChoice = new CImageDepthChoice(this);
    Place(new QLabel(QStringLiteral("Depth: "), this), 16, 335, 28, 8);
    PlaceControl(m_depthChoice->DepthCombo(), 48, 333, 60, 13);
    Place(new QLabel(QStringLiteral("Dither: "), this), 16, 352, 28, 8);
    PlaceControl(m_depthChoice->DitherCombo(), 48, 350, 60, 13);

    m_frameModeGroup = new QButtonGroup(this);
    m_frameModeRadios[kSingleFrame] = Place(new QRadioButton(QStringLiteral("Single frame "), this), 161, 284, 55, 10);
    m_singleFrameEdit = Place(new QLineEdit(this), 225, 282, 40, 13);
    m_frameModeRadios[kFrameRange] = Place(new QRadioButton(QStringLiteral("From"), this), 161, 301, 30, 10);
    m_fromFrameEdit = Place(new QLineEdit(this), 195, 299, 40, 13);
    Place(new QLabel(QStringLiteral("to"), this), 239, 301, 10, 8);
    m_toFrameEdit = Place(new QLineEdit(this), 252, 299, 40, 13);
    m_frameModeRadios[kAllFrames] = Place(new QRadioButton(QStringLiteral("All frame"), this), 161, 318, 50, 10);
    for (int mode = kSingleFrame; mode <= kAllFrames; ++mode) m_frameModeGroup->addButton(m_frameModeRadios[mode], mode);
    for (QLineEdit* edit : {m_singleFrameEdit, m_fromFrameEdit, m_toFrameEdit}) DigitsOnly(edit);

    Place(new QLabel(QStringLiteral("width: "), this), 318, 284, 28, 8);
    m_widthEdit = Place(new QLineEdit(this), 350, 282, 50, 13);
    Place(new QLabel(QStringLiteral("Height: "), this), 318, 301, 28, 8);
    m_heightEdit = Place(new QLineEdit(this), 350, 299, 50, 13);
    DigitsOnly(m_widthEdit);
    DigitsOnly(m_heightEdit);
    // Picture quality: how faces are read between their pixels, and N x N
    // samples averaged per dome pixel.
    Place(new QLabel(QStringLiteral("Filter: "), this), 318, 318, 28, 8);
    QStringList filters;
    for (CubeFilter filter : kCubeFilters) filters << QString::fromLatin1(CubeFilterName(filter).data());
    m_filterCombo = MakeChoice(this, filters, 350, 316, 50);
    Place(new QLabel(QStringLiteral("Samples: "), this), 318, 335, 30, 8);
    QStringList samples;
    for (int n = 1; n <= kMaxSupersample; ++n) samples << QString::number(n);
    m_supersampleCombo = MakeChoice(this, samples, 350, 333, 30);
    m_heightEdit->setEnabled(false);

    // Vertical view angle: the field follows the slider.
    m_angleEdit = Place(new QLineEdit(this), 12, 394, 30, 13);
    MakeReadOnly(m_angleEdit);
    Place(new QLabel(QStringLiteral("Range:-90~90 degree"), this), 45, 396, 75, 8);
    m_angleSlider = Place(new QSlider(Qt::Horizontal, this), 132, 393, 94, 15);
    m_angleSlider->setRange(0, kVerticalSliderMax);
    m_angleSlider->setPageStep(100);
    m_angleSlider->setValue(kVerticalSliderCentre);

    Place(new QLabel(QStringLiteral("Save to: "), this), 236, 396, 30, 8);
    m_saveDirEdit = Place(new QLineEdit(this), 268, 394, 147, 13);
    m_saveDirEdit->setMaxLength(static_cast<int>(kMaxFolderChars));
    m_saveDirButton = Place(new QPushButton(QStringLiteral("Browse..."), this), 419, 394, 45, 13);

    m_videoCheck = Place(new QCheckBox(QStringLiteral("One video: "), this), 12, 434, 50, 10);
    m_videoPathEdit = Place(new QLineEdit(this), 64, 432, 255, 13);
    m_videoPathEdit->setMaxLength(static_cast<int>(kMaxFolderChars));
    m_videoButton = Place(new QPushButton(QStringLiteral("Browse..."), this), 323, 432, 45, 13);
    Place(new QLabel(QStringLiteral("Frame rate: "), this), 374, 434, 42, 8);
    m_frameRateEdit = Place(new QLineEdit(this), 418, 432, 42, 13);
    m_frameRateEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9./]*")), m_frameRateEdit));

    m_acceptButton = Place(new QPushButton(QStringLiteral("Accept"), this), 355, 456, 50, 14);
    m_acceptButton->setDefault(true);
    m_cancelButton = Place(new QPushButton(QStringLiteral("Cancel"), this), 415, 456, 50, 14);

    m_pathEditTimer = new QTimer(this);
    m_pathEditTimer->setSingleShot(true);
    m_pathEditTimer->setInterval(kPathEditDelayMs);

    // Start state: the first entry of every choice, "05" for the per-face
    // serials, Bottom and the frame numbers off, "All frame" and "Ignore" on.
    for (QComboBox* combo : m_faceSerialCombos) combo->setCurrentIndex(kFaceSerialStart);
    m_settings.faceCount = 5;
    m_settings.serialDigits = kMinSerialDigits;
    m_settings.inputFormat = m_inputFormatCombo->currentText().toStdString();
    m_settings.outputFormat = m_outputFormatCombo->currentText().toStdString();
    m_depthChoice->OfferDepthsOf(FindImageCodec(m_settings.outputFormat));
    Show();
    UpdateBottomAndCheckEnabling();
    UpdateFrameFieldEnabling();
    UpdateVideoEnabling();

    // Only what the user does reaches the handlers: showing values does not.
    connect(m_upperDirButton, &QPushButton::clicked, this, &CCube2DomeSettingDlg::OnUpperDirBrowse);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        connect(m_faceButtons[k], &QPushButton::clicked, this, [this, k] { OnFaceBrowse(k); });
        connect(m_facePathEdits[k], &QLineEdit::textEdited, this, [this, k] { OnFacePathEdited(k); });
        // Leaving the field lists it at once, so what is done next comes after it.
        connect(m_facePathEdits[k], &QLineEdit::editingFinished, this, &CCube2DomeSettingDlg::FlushPathEdits);
    }
    connect(m_pathEditTimer, &QTimer::timeout, this, &CCube2DomeSettingDlg::FlushPathEdits);
    connect(m_faceGroup, &QButtonGroup::idClicked, this, &CCube2DomeSettingDlg::OnFaceRadio);
    connect(m_fileList, &QListWidget::currentRowChanged, this, [this] { UpdateInfo(); });
    connect(m_facesCombo, &QComboBox::activated, this, &CCube2DomeSettingDlg::OnFacesChanged);
    connect(m_inputFormatCombo, &QComboBox::activated, this, &CCube2DomeSettingDlg::OnInputFormatChanged);
    connect(m_outputFormatCombo, &QComboBox::activated, this, [this] {
        m_settings.outputFormat = m_outputFormatCombo->currentText().toStdString();
        m_depthChoice->OfferDepthsOf(FindImageCodec(m_settings.outputFormat));
    });
    connect(m_serialCombo, &QComboBox::activated, this,
            [this](int index) { m_settings.serialDigits = index + kMinSerialDigits; });
    connect(m_widthEdit, &QLineEdit::textEdited, this, &CCube2DomeSettingDlg::OnWidthEdited);
    auto* leaveCheck = new CFieldLeaveCheck(this, [this](CFieldExchange& dx) { ExchangeFields(dx); });
    leaveCheck->Watch(m_angleEdit, [this] {
        const QSignalBlocker quiet(m_angleSlider);
        m_angleSlider->setValue(SliderFromVerticalAngle(m_settings.verticalAngle));
    });
    connect(m_angleSlider, &QSlider::valueChanged, this, &CCube2DomeSettingDlg::OnAngleSlider);
    connect(m_frameModeGroup, &QButtonGroup::idClicked, this, &CCube2DomeSettingDlg::OnFrameMode);
    connect(m_ignoreCheck, &QCheckBox::clicked, this, [this](bool checked) {
        m_settings.ignoreCheck = checked;
        UpdateBottomAndCheckEnabling();
    });
    connect(m_saveDirButton, &QPushButton::clicked, this, &CCube2DomeSettingDlg::OnSaveDirBrowse);
    connect(m_videoButton, &QPushButton::clicked, this, &CCube2DomeSettingDlg::OnVideoBrowse);
    connect(m_videoCheck, &QCheckBox::clicked, this, [this](bool checked) {
        m_settings.writeVideo = checked;
        UpdateVideoEnabling();
    });
    connect(m_acceptButton, &QPushButton::clicked, this, &CCube2DomeSettingDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CCube2DomeSettingDlg::reject);
}

CCube2DomeSettingDlg::~CCube2DomeSettingDlg()
{
    // The base class hides the dialog when it goes, and a path field that
    // loses the focus then would list its folder into settings already gone.
    for (QLineEdit* edit : m_facePathEdits) disconnect(edit, nullptr, this, nullptr);
}

void CCube2DomeSettingDlg::ExchangeFields(CFieldExchange& dx)
{
    const bool saving = dx.IsSaving();
    // A bad field keeps its value: the temporaries start from the member.
    auto text = [&](QLineEdit* edit, std::string& value, int maxChars) {
        QString field = QString::fromStdString(value);
        if (!saving) {
            ShowText(edit, field);
            return;
        }
        dx.Text(edit, field, maxChars);
        value = field.toStdString();
    };
    auto choice = [&](QComboBox* combo, int& value, int first) {
        int index = value - first;
        dx.ComboIndex(combo, index);
        if (saving && index >= 0) value = index + first;
    };
    auto choiceText = [&](QComboBox* combo, std::string& value) {
        QString entry = QString::fromStdString(value);
        dx.ComboText(combo, entry);
        if (saving) value = entry.toStdString();
    };
    auto number = [&](QLineEdit* edit, unsigned& value) {
        if (saving) dx.Text(edit, value);
        else ShowText(edit, QString::number(value));
    };
    const int maxFolder = static_cast<int>(kMaxFolderChars);

    choice(m_facesCombo, m_settings.faceCount, 5);
    choiceText(m_inputFormatCombo, m_settings.inputFormat);
    text(m_upperDirEdit, m_settings.upperDir, maxFolder);
    dx.Radio(m_faceGroup, m_settings.selectedFace);
    for (int k = 0; k < kCubeFaceCount; ++k) text(m_facePathEdits[k], m_settings.facePath[k], k == Top ? -1 : maxFolder);
    dx.Check(m_ignoreCheck, m_settings.ignoreCheck);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        text(m_facePrefixEdits[k], m_settings.facePrefix[k], -1);
        choice(m_faceSerialCombos[k], m_settings.faceSerialWidth[k], 1);
    }
    text(m_outputPrefixEdit, m_settings.outputPrefix, static_cast<int>(kMaxOutputPrefixChars));
    choice(m_serialCombo, m_settings.serialDigits, kMinSerialDigits);
    choiceText(m_outputFormatCombo, m_settings.outputFormat);
    m_depthChoice->Exchange(dx, m_settings.writeOptions);
    int filter = static_cast<int>(m_settings.sampling.filter);
    choice(m_filterCombo, filter, 0);
    if (saving) m_settings.sampling.filter = static_cast<CubeFilter>(filter);
    choice(m_supersampleCombo, m_settings.sampling.supersample, 1);
    int mode = static_cast<int>(m_settings.frameMode);
    dx.Radio(m_frameModeGroup, mode);
    if (saving && mode >= kSingleFrame && mode <= kAllFrames) m_settings.frameMode = static_cast<FrameMode>(mode);
    number(m_singleFrameEdit, m_settings.singleFrame);
    number(m_fromFrameEdit, m_settings.fromFrame);
    number(m_toFrameEdit, m_settings.toFrame);
    number(m_widthEdit, m_settings.outputWidth);
    number(m_heightEdit, m_settings.outputHeight);
    if (saving) m_settings.outputHeight = m_settings.outputWidth;
    dx.Text(m_angleEdit, m_settings.verticalAngle, -180.0f, 180.0f);
    text(m_saveDirEdit, m_settings.saveDir, maxFolder);
    dx.Check(m_videoCheck, m_settings.writeVideo);
    text(m_videoPathEdit, m_settings.videoPath, maxFolder);
    dx.Text(m_frameRateEdit, m_settings.frameRate);
}

bool CCube2DomeSettingDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) return Save(Exchange::Prompt);
    Show();
    return true;
}

bool CCube2DomeSettingDlg::Save(Exchange mode)
{
    CFieldExchange dx(this, true,
                      mode == Exchange::Silent ? CFieldExchange::Prompts::Silent : CFieldExchange::Prompts::Show);
    ExchangeFields(dx);
    return dx.Ok();
}

void CCube2DomeSettingDlg::Show()
{
    CFieldExchange dx(this, false);
    ExchangeFields(dx);
    UpdateVideoEnabling();
}

void CCube2DomeSettingDlg::ShowText(QLineEdit* edit, const QString& text)
{
    // Writing the same text again would only move the cursor of a field
    // being typed in.
    if (edit->text() != text) edit->setText(text);
}

QComboBox* CCube2DomeSettingDlg::DepthCombo() const
{
    return m_depthChoice->DepthCombo();
}

QComboBox* CCube2DomeSettingDlg::DitherCombo() const
{
    return m_depthChoice->DitherCombo();
}

void CCube2DomeSettingDlg::TakeViewOver(float verticalAngle, const QString& saveDir)
{
    m_settings.verticalAngle = verticalAngle;
    m_settings.saveDir = saveDir.toStdString();
    {
        const QSignalBlocker quiet(m_angleSlider);
        m_angleSlider->setValue(SliderFromVerticalAngle(verticalAngle));
    }
    // Only these two: values typed before a Cancel stay as they were typed.
    ShowText(m_angleEdit, FormatFloatField(m_settings.verticalAngle));
    ShowText(m_saveDirEdit, saveDir);
}

void CCube2DomeSettingDlg::OnUpperDirBrowse()
{
    FlushPathEdits();
    if (!Save(Exchange::Prompt)) return;
    const QString folder = BrowseForFolder(this, QString::fromStdString(m_settings.upperDir));
    if (folder.isEmpty()) return;
    m_settings.upperDir = folder.toStdString();
    m_settings.FillFromUpperDir();
    Show();
    ShowUpperDirFaces();
    UpdateInfo();
}

void CCube2DomeSettingDlg::OnFaceBrowse(int k)
{
    FlushPathEdits();
    if (!Save(Exchange::Prompt)) return;
    const QString folder = BrowseForFolder(this, QString::fromStdString(m_settings.facePath[k]));
    if (folder.isEmpty()) return;
    m_settings.ChooseFaceFolder(k, folder.toStdString());
    Show();
    FillFileList(k);
    UpdateInfo();
}

void CCube2DomeSettingDlg::OnFacePathEdited(int k)
{
    m_pendingPathEdits |= 1u << k;
    m_pathEditTimer->start();
}

void CCube2DomeSettingDlg::FlushPathEdits()
{
    m_pathEditTimer->stop();
    const unsigned pending = m_pendingPathEdits;
    m_pendingPathEdits = 0;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        if (!(pending & (1u << k))) continue;
        Save(Exchange::Silent);
        m_settings.facePath[k] = m_facePathEdits[k]->text().toStdString();
        m_settings.RebuildFace(k);
        FillFileList(k);
        m_settings.selectedFace = k;
        m_faceRadios[k]->setChecked(true);
        UpdateInfo();
    }
}

void CCube2DomeSettingDlg::OnFaceRadio(int k)
{
    m_fileList->clear();
    m_settings.selectedFace = k;
    if (m_settings.faceList[k]) FillFileList(k);
    UpdateInfo();
}

void CCube2DomeSettingDlg::FillFileList(int k)
{
    const QSignalBlocker quiet(m_fileList);
    m_fileList->clear();
    if (!m_settings.faceList[k]) return;
    // The box sorts what it shows; the list keeps the frame order.
    for (const auto& path : m_settings.faceList[k]->Frames()) {
        m_fileList->addItem(QString::fromStdString(path.string()));
    }
}

void CCube2DomeSettingDlg::ShowUpperDirFaces()
{
    if (m_settings.upperDir.empty()) return;
    for (int k = 0; k < kCubeFaceCount; ++k) ShowText(m_facePathEdits[k], QString::fromStdString(m_settings.facePath[k]));
    m_faceRadios[Left]->setChecked(true);
    FillFileList(Left);
}

void CCube2DomeSettingDlg::UpdateInfo()
{
    if (m_fileList->count() == 0) {
        for (QLabel* info : {m_infoWidth, m_infoHeight, m_infoCount}) info->setText(QStringLiteral("---"));
        return;
    }
    int row = m_fileList->currentRow();
    if (row < 0) {
        const QSignalBlocker quiet(m_fileList);
        m_fileList->setCurrentRow(0);
        row = 0;
    }
    CImageBuffer image;
    if (!image.Load(m_fileList->item(row)->text().toStdString())) return;
    m_infoWidth->setText(QString::asprintf("%d pixel", image.GetWidth()));
    m_infoHeight->setText(QString::asprintf("%d pixel", image.GetHeight()));
    m_infoCount->setText(QString::asprintf("%d of %d", row + 1, m_fileList->count()));
    m_settings.ApplyFaceImageWidth(image.GetWidth());
    ShowText(m_widthEdit, QString::number(m_settings.outputWidth));
    ShowText(m_heightEdit, QString::number(m_settings.outputHeight));
}

void CCube2DomeSettingDlg::OnFacesChanged(int index)
{
    m_settings.faceCount = index + 5;
    if (m_settings.faceCount == 5 && m_faceRadios[Bottom]->isChecked()) {
        // An exclusive group cannot uncheck its checked button by itself.
        m_faceGroup->setExclusive(false);
        m_faceRadios[Bottom]->setChecked(false);
        m_faceGroup->setExclusive(true);
        m_settings.selectedFace = -1;
    }
    UpdateBottomAndCheckEnabling();
}

void CCube2DomeSettingDlg::OnInputFormatChanged(int)
{
    FlushPathEdits();
    Save(Exchange::Silent);
    m_settings.inputFormat = m_inputFormatCombo->currentText().toStdString();
    if (m_settings.upperDir.empty()) {
        UpdateInfo();
        return;
    }
    m_settings.FillFromUpperDir();
    Show();
    ShowUpperDirFaces();
    UpdateInfo();
}

void CCube2DomeSettingDlg::OnWidthEdited()
{
    // A path typed just before is listed first, so the width typed after it
    // wins over the one its files suggest.
    const QString typed = m_widthEdit->text();
    FlushPathEdits();
    ShowText(m_widthEdit, typed);
    Save(Exchange::Silent);
    m_settings.outputHeight = m_settings.outputWidth;
    ShowText(m_heightEdit, QString::number(m_settings.outputHeight));
}

void CCube2DomeSettingDlg::OnAngleSlider(int position)
{
    Save(Exchange::Silent);
    m_settings.verticalAngle = VerticalAngleFromSlider(position);
    ShowText(m_angleEdit, FormatFloatField(m_settings.verticalAngle));
}

void CCube2DomeSettingDlg::OnFrameMode(int mode)
{
    m_settings.ChooseFrameMode(static_cast<FrameMode>(mode));
    UpdateFrameFieldEnabling();
    if (mode == kAllFrames && m_settings.frameCount != 0) {
        ShowText(m_fromFrameEdit, QString::number(m_settings.fromFrame));
        ShowText(m_toFrameEdit, QString::number(m_settings.toFrame));
    }
}

void CCube2DomeSettingDlg::OnSaveDirBrowse()
{
    FlushPathEdits();
    if (!Save(Exchange::Prompt)) return;
    const QString folder = BrowseForFolder(this, QString::fromStdString(m_settings.saveDir));
    if (folder.isEmpty()) return;
    m_settings.saveDir = folder.toStdString();
    Show();
}

void CCube2DomeSettingDlg::OnVideoBrowse()
{
    FlushPathEdits();
    if (!Save(Exchange::Prompt)) return;
    const VideoCodec codec = m_videoSettings.stream.codec;
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Save;
    request.title = QStringLiteral("Save Video");
    const QString current = QString::fromStdString(m_settings.videoPath);
    request.directory = current.isEmpty() ? QString::fromStdString(m_settings.saveDir) : QFileInfo(current).absolutePath();
    request.fileName = QStringLiteral("video1");
    request.defaultSuffix = VideoDefaultSuffix(codec);
    request.filters = VideoFilters(codec);
    const QString path = RunFileDialog(this, request);
    if (path.isEmpty()) return;
    m_settings.videoPath = QFile::encodeName(path).toStdString();
    Show();
}

void CCube2DomeSettingDlg::UpdateVideoEnabling()
{
    const bool video = m_settings.writeVideo;
    for (QWidget* control : {static_cast<QWidget*>(m_videoPathEdit), static_cast<QWidget*>(m_videoButton),
                             static_cast<QWidget*>(m_frameRateEdit)}) {
        control->setEnabled(video);
    }
    // A video names no frames and writes no images.
    for (QWidget* control : {static_cast<QWidget*>(m_outputPrefixEdit), static_cast<QWidget*>(m_serialCombo),
                             static_cast<QWidget*>(m_outputFormatCombo)}) {
        control->setEnabled(!video);
    }
    // A video has no depth choice, but deep domes go into an 8-bit stream through the dither.
    m_depthChoice->SetWrites(video ? CImageDepthChoice::Writes::Video : CImageDepthChoice::Writes::Images);
}

void CCube2DomeSettingDlg::UpdateBottomAndCheckEnabling()
{
    const bool six = m_settings.faceCount == 6;
    m_facePathEdits[Bottom]->setEnabled(six);
    m_faceButtons[Bottom]->setEnabled(six);
    m_faceRadios[Bottom]->setEnabled(six);
    const bool checking = !m_settings.ignoreCheck;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const bool enabled = checking && (k != Bottom || six);
        m_facePrefixEdits[k]->setEnabled(enabled);
        m_faceSerialCombos[k]->setEnabled(enabled);
    }
}

void CCube2DomeSettingDlg::UpdateFrameFieldEnabling()
{
    const FrameMode mode = m_settings.frameMode;
    m_singleFrameEdit->setEnabled(mode == FrameMode::Single);
    m_fromFrameEdit->setEnabled(mode == FrameMode::Range);
    m_toFrameEdit->setEnabled(mode == FrameMode::Range);
}

void CCube2DomeSettingDlg::accept()
{
    FlushPathEdits();
    // A field that fails its check ends the attempt.
    if (!Save(Exchange::Prompt)) return;
    std::optional<std::string> problem = m_settings.ValidateSettings();
    // A depth the output format lacks, as the command line refuses it (the
    // view plays no part in that check).
    if (!problem) problem = CheckCube2DomeImages(MakeCube2DomeJob(m_settings, 180, 0.0f));
    if (problem) {
        ShowMessageBox(this, QString::fromStdString(*problem), QString(), MessageIcon::Warning);
        return;
    }
    Show();
    hide();
    Q_EMIT SettingsAccepted();
}

void CCube2DomeSettingDlg::reject()
{
    FlushPathEdits();
    hide();
}

}  // namespace skelvane
