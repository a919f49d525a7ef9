#include "pano2dome/ui/Pano2DomePage.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>

#include "imageio/ImageCodecRegistry.h"
#include "pano2dome/PanoTargets.h"
#include "ui/DialogUnits.h"
#include "ui/FieldExchange.h"
#include "ui/FieldLeaveCheck.h"
#include "ui/FileDialog.h"
#include "ui/FolderPicker.h"
#include "ui/ImageDepthChoice.h"
#include "ui/JobButtons.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/ReadOnlyField.h"
#include "ui/UiMessageReporter.h"

namespace skelvane {
namespace {

template <typename Control>
Control* Place(Control* control, int x, int y, int width, int height)
{
    PlaceControl(control, x, y, width, height);
    return control;
}

QString Text(const char* text)
{
    return QString::fromLatin1(text);
}

// The page offers JPEG first: the first choice of its lists is its default.
constexpr const char* kDefaultImageFormat = "jpg";

QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList FormatItems()
{
    QStringList items;
    for (const std::string& format : FormatChoices(CodecUse::Write, kDefaultImageFormat)) {
        items << QString::fromStdString(format);
    }
    return items;
}

// One filter for each format that can be read, or written, then every file.
QStringList ImageFilters(CodecUse use)
{
    QStringList filters;
    for (const std::string& format : FormatChoices(use, kDefaultImageFormat)) {
        const ImageCodec* codec = FindImageCodec(format);
        QStringList extensions;
        for (std::string_view extension : codec->extensions) {
            extensions << Latin1(extension);
        }
        filters << FileFilter(Latin1(codec->name), extensions);
    }
    return filters << AllFilesFilter();
}

QString FromPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

CJobButtons::Texts JobTexts()
{
    CJobButtons::Texts texts;
    texts.stopQuestion = Text(pano2dome_page_text::kStopQuestion);
    texts.stopTitle = Text(pano2dome_page_text::kStopTitle);
    texts.stopIcon = MessageIcon::Warning;
    texts.finished = Text(pano2dome_text::kFinished);
    texts.stopped = Text(pano2dome_text::kStopped);
    texts.failed = Text(pano2dome_text::kFailed);
    return texts;
}

QLineEdit* DigitsOnly(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

// Frame rates are typed whole, as decimals (29.97) or as fractions (30000/1001).
QLineEdit* RateCharacters(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9./]*")), edit));
    return edit;
}

}  // namespace

float HorizontalAngleFromPanoSlider(int position)
{
    return static_cast<float>(position - CPano2DomePage::kHorizontalSliderStart) * 0.1f;
}

float VerticalAngleFromPanoSlider(int position)
{
    return static_cast<float>(position - CPano2DomePage::kVerticalSliderMax / 2) * 0.1f;
}

// The job sets the progress bar's range before its first frame and resets it
// after its last; both arrive as posts (the worker must not wait for them),
// in order with the job's progress and end calls. Posts of an earlier job are
// dropped.
class CPano2DomePage::ProgressPoster final : public CPanoProgressBar {
public:
    explicit ProgressPoster(QProgressBar* bar) : m_bar(bar) {}

    void NextJob() { ++m_generation; }

    void SetRange(std::int64_t steps) override
    {
        const int top = static_cast<int>(std::clamp<std::int64_t>(steps, 0, std::numeric_limits<int>::max()));
        Post([top](QProgressBar& bar) {
            bar.setRange(0, top);
            bar.setValue(0);
        });
    }

    void Reset() override
    {
        Post([](QProgressBar& bar) { bar.setValue(0); });
    }

private:
    template <typename Change>
    void Post(Change change)
    {
        const std::uint64_t generation = m_generation.load();
        // The bar is the context: a post that finds it gone is dropped.
        QMetaObject::invokeMethod(
            m_bar,
            [this, generation, change, bar = m_bar] {
                if (generation == m_generation.load()) change(*bar);
            },
            Qt::QueuedConnection);
    }

    QProgressBar* m_bar;
    std::atomic<std::uint64_t> m_generation{0};
};

CPano2DomePage::CPano2DomePage(const VideoEncoderSettings& videoSettings, QWidget* parent)
    : CDomePage(parent),
      m_videoSettings(videoSettings),
      m_reporter(std::make_unique<CUiMessageReporter>(this)),
      m_projector(*m_reporter)
{
    BuildControls();
    m_progressPoster = std::make_unique<ProgressPoster>(m_progress);
    m_jobButtons = new CJobButtons(this, {m_beginButton, m_pauseButton, m_continueButton, m_stopButton}, *m_reporter,
                                   JobTexts());
    m_jobButtons->SetReady(true);

    // The first exchange shows the fields; then the ranges and the format.
    UpdateData(false);
    m_horizontalSlider->setRange(0, kHorizontalSliderMax);
    m_horizontalSlider->setPageStep(100);
    m_horizontalSlider->setValue(kHorizontalSliderStart);
    m_verticalSlider->setRange(0, kVerticalSliderMax);
    m_verticalSlider->setPageStep(100);
    m_verticalSlider->setValue(kVerticalSliderStart);
    m_progress->setRange(0, 360);
    m_progress->setValue(0);
    m_formatCombo->setCurrentIndex(0);
    m_settings.frameFormat = m_formatCombo->currentText().toStdString();

    EnableModeFields(kImageMode);

    connect(m_openButton, &QPushButton::clicked, this, &CPano2DomePage::OnOpenImage);
    connect(m_outputWidthEdit, &QLineEdit::textEdited, this, &CPano2DomePage::OnOutputWidthChanged);
    connect(m_saveToButton, &QPushButton::clicked, this, &CPano2DomePage::OnSaveTo);
    connect(m_modeGroup, &QButtonGroup::idClicked, this, &CPano2DomePage::OnMode);
    connect(m_formatCombo, &QComboBox::currentIndexChanged, this, [this] { OfferDepthsOfTarget(m_settings.mode); });
    connect(m_sharpCheck, &QCheckBox::toggled, this, &CPano2DomePage::OnSharp);
    connect(m_supersampleCombo, &QComboBox::activated, this, [this](int index) {
        m_settings.supersample = index + 1;
        RenderPreviewDome();
    });
    // Every movement counts, also while the thumb is dragged.
    connect(m_horizontalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Horizontal, p); });
    connect(m_verticalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Vertical, p); });
    // A typed value is checked, with its prompt, when the user leaves the field.
    auto* leaveCheck = new CFieldLeaveCheck(this, [this](CFieldExchange& dx) { Exchange(dx); });
    for (QLineEdit* edit : {m_fovEdit, m_outputWidthEdit, m_frameRateEdit, m_fromEdit, m_toEdit, m_durationEdit}) {
        leaveCheck->Watch(edit);
    }
    connect(m_beginButton, &QPushButton::clicked, this, &CPano2DomePage::OnBegin);
    connect(m_jobButtons, &CJobButtons::Progress, this, &CPano2DomePage::OnProgress);
    connect(m_jobButtons, &CJobButtons::Ended, this, &CPano2DomePage::OnJobEnded);
    connect(m_jobButtons, &CJobButtons::Ended, this, &CDomePage::JobJoined);
    connect(m_jobButtons, &CJobButtons::EndReported, this, &CPano2DomePage::JobEnded);
}

CPano2DomePage::~CPano2DomePage()
{
    // The worker works from its own copy of the fields, but it reports to the
    // page's observer and reporter: it ends before they go.
    StopJobForClose();
}

void CPano2DomePage::BuildControls()
{
    // Positions in dialog units, as the page was drawn.
    Place(new QGroupBox(QStringLiteral("Input Image"), this), 3, 5, 415, 342);
    Place(new QGroupBox(QStringLiteral("FullDome Image Preview"), this), 425, 5, 210, 342);
    m_panoramaPane = Place(new CPreviewPane(this), 10, 24, 400, 200);
    m_panoramaPane->SetImage(&m_previewPanorama);
    m_domePane = Place(new CPreviewPane(this), 430, 24, 200, 200);
    m_domePane->SetImage(&m_previewDome);

    Place(new QGroupBox(QStringLiteral("Input"), this), 10, 230, 195, 112);
    m_openButton = Place(new QPushButton(QStringLiteral("Open Image..."), this), 16, 243, 60, 15);
    m_inputPathEdit = Place(new QLineEdit(this), 80, 244, 119, 13);
    Place(new QLabel(QStringLiteral("Width: "), this), 16, 272, 26, 12);
    m_inputWidthEdit = Place(new QLineEdit(this), 44, 270, 50, 13);
    Place(new QLabel(QStringLiteral("Height: "), this), 112, 272, 28, 12);
    m_inputHeightEdit = Place(new QLineEdit(this), 143, 270, 56, 13);
    // How the sweep samples this input: as an image is sampled, or from a working panorama.
    m_sharpCheck = Place(new QCheckBox(QStringLiteral("Sharp (full panorama)"), this), 16, 292, 120, 12);
    // N x N samples averaged per dome pixel: a smooth rim, no shimmer.
    Place(new QLabel(QStringLiteral("Samples: "), this), 140, 294, 30, 12);
    m_supersampleCombo = Place(new QComboBox(this), 172, 292, 28, 13);
    for (int n = 1; n <= kMaxPanoSupersample; ++n) m_supersampleCombo->addItem(QString::number(n));

    Place(new QGroupBox(QStringLiteral("Output"), this), 215, 230, 196, 112);
    Place(new QLabel(QStringLiteral("Width: "), this), 221, 243, 26, 12);
    m_outputWidthEdit = DigitsOnly(Place(new QLineEdit(this), 249, 241, 50, 13));
    Place(new QLabel(QStringLiteral("Height: "), this), 313, 243, 28, 12);
    m_outputHeightEdit = Place(new QLineEdit(this), 343, 241, 62, 13);

    m_imageRadio = Place(new QRadioButton(QStringLiteral("Image"), this), 221, 258, 38, 12);
    m_frameRadio = Place(new QRadioButton(QStringLiteral("Frame"), this), 264, 258, 38, 12);
    m_videoRadio = Place(new QRadioButton(QStringLiteral("Video"), this), 307, 258, 38, 12);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(m_imageRadio, kImageMode);
    m_modeGroup->addButton(m_frameRadio, kFrameMode);
    m_modeGroup->addButton(m_videoRadio, kVideoMode);
    m_formatCombo = Place(new QComboBox(this), 355, 256, 50, 14);
    m_formatCombo->addItems(FormatItems());

    Place(new QLabel(QStringLiteral("Duration:"), this), 221, 275, 34, 12);
    m_durationEdit = DigitsOnly(Place(new QLineEdit(this), 257, 273, 42, 13));
    Place(new QLabel(QStringLiteral("FrameRate:"), this), 305, 275, 40, 12);
    m_frameRateEdit = RateCharacters(Place(new QLineEdit(this), 347, 273, 58, 13));

    Place(new QLabel(QStringLiteral("from"), this), 221, 292, 20, 12);
    m_fromEdit = Place(new QLineEdit(this), 257, 290, 42, 13);
    Place(new QLabel(QStringLiteral("to"), this), 305, 292, 12, 12);
    m_toEdit = Place(new QLineEdit(this), 347, 290, 58, 13);

    // The image's or the frames' sample depth, and how deep pictures become 8-bit files.
    m_depthChoice = new CImageDepthChoice(this);
    Place(new QLabel(QStringLiteral("Depth:"), this), 221, 309, 26, 12);
    PlaceControl(m_depthChoice->DepthCombo(), 249, 307, 54, 13);
    Place(new QLabel(QStringLiteral("Dither:"), this), 309, 309, 26, 12);
    PlaceControl(m_depthChoice->DitherCombo(), 337, 307, 68, 13);

    m_saveToButton = Place(new QPushButton(QStringLiteral("Save to..."), this), 221, 324, 45, 15);
    m_savePathEdit = Place(new QLineEdit(this), 270, 325, 135, 13);

    Place(new QGroupBox(QStringLiteral("View Angle"), this), 430, 230, 200, 50);
    Place(new QLabel(QStringLiteral("Horizontal: "), this), 436, 244, 40, 12);
    m_horizontalSlider = Place(new QSlider(Qt::Horizontal, this), 478, 242, 110, 14);
    m_horizontalEdit = Place(new QLineEdit(this), 591, 243, 34, 13);
    Place(new QLabel(QStringLiteral("Vertical: "), this), 436, 262, 40, 12);
    m_verticalSlider = Place(new QSlider(Qt::Horizontal, this), 478, 260, 110, 14);
    m_verticalEdit = Place(new QLineEdit(this), 591, 261, 34, 13);

    Place(new QGroupBox(QStringLiteral("Field Of View"), this), 430, 285, 65, 40);
    Place(new QLabel(QStringLiteral("FOV: "), this), 436, 302, 20, 12);
    m_fovEdit = DigitsOnly(Place(new QLineEdit(this), 458, 300, 32, 13));

    m_beginButton = Place(new QPushButton(QStringLiteral("Begin"), this), 502, 289, 62, 15);
    m_pauseButton = Place(new QPushButton(QStringLiteral("Pause"), this), 568, 289, 62, 15);
    m_continueButton = Place(new QPushButton(QStringLiteral("Continue"), this), 502, 308, 62, 15);
    m_stopButton = Place(new QPushButton(QStringLiteral("Stop"), this), 568, 308, 62, 15);

    m_progress = Place(new QProgressBar(this), 10, 352, 410, 14);
    m_progress->setTextVisible(false);

    for (QLineEdit* edit : {m_horizontalEdit, m_verticalEdit, m_inputWidthEdit, m_inputHeightEdit, m_outputHeightEdit,
                            m_savePathEdit}) {
        MakeReadOnly(edit);
    }
    // On its own the page has its drawn size; a tab control gives it the tab's.
    resize(sizeHint());
}

QSize CPano2DomePage::sizeHint() const
{
    return DialogSize(641, 371);
}

bool CPano2DomePage::IsJobRunning() const
{
    return m_jobButtons->IsRunning();
}

bool CPano2DomePage::JobPaused() const
{
    return m_jobButtons->IsPaused();
}

void CPano2DomePage::SuspendJob()
{
    m_jobButtons->Suspend();
}

void CPano2DomePage::ResumeJob()
{
    m_jobButtons->Resume();
}

void CPano2DomePage::StopJobForClose()
{
    if (!m_jobButtons->StopForClose()) return;
    m_progress->setValue(0);
    EnableJobFields(true);
}

bool CPano2DomePage::UpdateData(bool saveAndValidate)
{
    return Exchange(saveAndValidate, true);
}

bool CPano2DomePage::Exchange(bool saving, bool prompts)
{
    CFieldExchange dx(this, saving, prompts ? CFieldExchange::Prompts::Show : CFieldExchange::Prompts::Silent);
    Exchange(dx);
    return dx.Ok();
}

void CPano2DomePage::Exchange(CFieldExchange& dx)
{
    dx.Text(m_fovEdit, m_settings.fov, 90u, 360u);
    dx.Text(m_horizontalEdit, m_settings.horizontalAngle, -180.0f, 180.0f);
    dx.Text(m_verticalEdit, m_settings.verticalAngle, -90.0f, 90.0f);
    dx.Text(m_inputHeightEdit, m_inputHeight);
    dx.Text(m_outputHeightEdit, m_outputHeight);
    dx.Text(m_inputPathEdit, m_inputPath);
    dx.Text(m_savePathEdit, m_savePath);
    dx.Text(m_inputWidthEdit, m_inputWidth);
    dx.Text(m_outputWidthEdit, m_settings.outputWidth);
    dx.Text(m_frameRateEdit, m_settings.frameRate);
    dx.Radio(m_modeGroup, m_settings.mode);
    dx.Text(m_fromEdit, m_settings.fromAngle, -180, 180);
    dx.Text(m_toEdit, m_settings.toAngle, -180, 180);
    dx.Text(m_durationEdit, m_settings.duration);
    m_depthChoice->Exchange(dx, m_settings.writeOptions);
}

QString CPano2DomePage::DefaultFolder(const QString& path) const
{
    return path.isEmpty() ? QDir::homePath() : path;
}

std::string& CPano2DomePage::TargetOf(int mode)
{
    switch (mode) {
    case kFrameMode: return m_settings.frameDir;
    case kVideoMode: return m_settings.videoPath;
    default: return m_settings.imagePath;
    }
}

QString CPano2DomePage::ImagePath() const { return FromPath(m_settings.imagePath); }
QString CPano2DomePage::FrameDir() const { return FromPath(m_settings.frameDir); }
QString CPano2DomePage::VideoPath() const { return FromPath(m_settings.videoPath); }

void CPano2DomePage::OnOpenImage()
{
    if (!UpdateData(true)) return;
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Open;
    request.title = Text(pano2dome_page_text::kOpenTitle);
    request.directory = m_inputPath.isEmpty() ? QDir::homePath() : QFileInfo(m_inputPath).absolutePath();
    request.filters = ImageFilters(CodecUse::Read);
    request.confirmOverwrite = false;
    const QString path = RunFileDialog(this, request);
    if (path.isEmpty()) return;
    LoadPanorama(path);
}

void CPano2DomePage::LoadPanorama(const QString& path)
{
    m_inputPath = path;
    auto panorama = std::make_shared<CImageBuffer>();
    std::string reason;
    bool loaded = false;
    try {
        loaded = panorama->Load(ToPath(path), &reason) && !panorama->IsEmpty();
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    }
    if (!loaded) {
        panorama.reset();
        ClearPanorama();
        UpdateData(false);
        const QString shown = QDir::toNativeSeparators(path);
        ShowMessageBox(this,
                       reason.empty() ? QStringLiteral("Cannot read the image \"%1\". ").arg(shown)
                                      : QStringLiteral("Cannot read the image \"%1\": %2. ")
                                            .arg(shown, QString::fromStdString(reason)),
                       QString(), MessageIcon::Warning);
        return;
    }
    m_settings.panorama = std::move(panorama);
    m_panoramaFile = ToPath(path);
    m_inputWidth = m_settings.panorama->GetWidth();
    m_inputHeight = m_settings.panorama->GetHeight();
    m_settings.outputWidth = m_outputHeight = PanoOutputSize(m_inputHeight, m_settings.fov);
    UpdateData(false);

    m_previewPanorama.Release();
    // Resampled at the panorama's own depth; the preview shows 8 bits.
    if (m_previewPanorama.Create(kPreviewPanoWidth, kPreviewPanoHeight, m_settings.panorama->GetChannelType())) {
        m_previewPanorama.StretchFrom(0, 0, kPreviewPanoWidth, kPreviewPanoHeight, *m_settings.panorama, 0, 0,
                                      m_inputWidth, m_inputHeight);
        m_previewPanorama.ConvertTo32();
    }
    RebuildPreviewMap();
    RenderPreviewDome();
    m_panoramaPane->update();
}

void CPano2DomePage::ClearPanorama()
{
    m_panoramaFile.clear();
    m_settings.panorama.reset();
    m_previewPanorama.Release();
    m_previewDome.Release();
    m_inputWidth = m_inputHeight = 0;
    m_settings.outputWidth = m_outputHeight = 0;
    m_panoramaPane->update();
    m_domePane->update();
}

void CPano2DomePage::RebuildPreviewMap()
{
    m_previewMap.reset();
    const auto fov = static_cast<std::int32_t>(m_settings.fov);
    if (m_settings.sharp && m_settings.panorama) {
        m_previewMap = m_projector.BuildPanoDomeSharpMap(m_settings.panorama->GetWidth(),
                                                         m_settings.panorama->GetHeight(), kPreviewDomeSize, fov,
                                                         m_settings.verticalAngle);
    } else {
        m_previewMap = m_projector.BuildPanoDomeMap(kPreviewPanoWidth, kPreviewPanoHeight, kPreviewDomeSize, fov,
                                                    m_settings.verticalAngle);
    }
    // Whatever built the map, the horizontal slider compares against it.
    m_previewMapFov = m_settings.fov;
}

void CPano2DomePage::RenderPreviewDome()
{
    if (m_previewPanorama.IsEmpty()) return;
    std::unique_ptr<CImageBuffer> dome;
    const bool sharp = m_settings.sharp && m_settings.panorama;
    if (m_settings.supersample > 1) {
        // The sub-samples the render will take, placed as its frames place them.
        dome = m_projector.RenderPanoDomeSupersampled(
            sharp ? *m_settings.panorama : m_previewPanorama, kPreviewDomeSize,
            static_cast<std::int32_t>(m_settings.fov), m_settings.verticalAngle, m_settings.horizontalAngle,
            m_settings.supersample, sharp ? PanoWrap::Still : PanoWrap::Sweep);
    } else if (m_previewMap && sharp) {
        dome = m_projector.RenderPanoDomeSharp(*m_settings.panorama, m_previewMap.get(), kPreviewDomeSize,
                                               m_settings.horizontalAngle);
    } else if (m_previewMap) {
        dome = m_projector.RenderPanoDome(m_previewPanorama, m_previewMap.get(), kPreviewDomeSize,
                                          m_settings.horizontalAngle);
    }
    if (dome) {
        // The sharp preview reads the full panorama, which may be deep; the pane shows 8 bits.
        dome->ConvertTo32();
        m_previewDome = std::move(*dome);
    } else {
        m_previewDome.Release();
    }
    m_domePane->Refresh();
}

void CPano2DomePage::OnOutputWidthChanged()
{
    // Every keystroke: no prompt here, a bad field keeps its last good value.
    Exchange(true, false);
    m_outputHeight = m_settings.outputWidth;
    m_outputHeightEdit->setText(QString::number(m_outputHeight));
}

void CPano2DomePage::OnSlider(Slider slider, int position)
{
    // Dragging shows no prompt; a bad field keeps its last good value.
    Exchange(true, false);
    if (slider == Slider::Horizontal) {
        m_settings.horizontalAngle = HorizontalAngleFromPanoSlider(position);
        m_horizontalEdit->setText(FormatFloatField(m_settings.horizontalAngle));
    } else {
        m_settings.verticalAngle = VerticalAngleFromPanoSlider(position);
        m_verticalEdit->setText(FormatFloatField(m_settings.verticalAngle));
    }
    // Without a panorama there is nothing to preview; Open Image builds the map.
    if (m_previewPanorama.IsEmpty()) return;
    // The pan is a shift at render time; tilt and field of view need a new map.
    if (slider == Slider::Vertical || m_settings.fov != m_previewMapFov || !m_previewMap) RebuildPreviewMap();
    RenderPreviewDome();
}

void CPano2DomePage::OnSaveTo()
{
    if (!UpdateData(true)) return;
    if (m_settings.outputWidth <= 0) {
        ShowMessageBox(this, Text(pano2dome_text::kCheckWidth));
        return;
    }
    if (!m_settings.panorama) {
        ShowMessageBox(this, Text(pano2dome_text::kNoInputImage));
        return;
    }
    switch (m_settings.mode) {
    case kImageMode:
    case kVideoMode: {
        const bool image = m_settings.mode == kImageMode;
        FileDialogRequest request;
        request.mode = FileDialogRequest::Mode::Save;
        request.title = Text(image ? pano2dome_page_text::kSaveImageTitle : pano2dome_page_text::kSaveVideoTitle);
        request.directory = m_savePath.isEmpty() ? QDir::homePath() : QFileInfo(m_savePath).absolutePath();
        request.fileName = image ? QStringLiteral("image1") : QStringLiteral("video1");
        const VideoCodec codec = m_videoSettings.stream.codec;
        request.defaultSuffix = image ? QString::fromLatin1(kDefaultImageFormat) : VideoDefaultSuffix(codec);
        request.filters = image ? ImageFilters(CodecUse::Write) : VideoFilters(codec);
        request.confirmOverwrite = true;
        const QString path = RunFileDialog(this, request);
        if (path.isEmpty()) return;
        m_savePath = path;
        TargetOf(m_settings.mode) = ToPath(m_savePath);
        OfferDepthsOfTarget(m_settings.mode);
        break;
    }
    case kFrameMode: {
        const QString folder = BrowseForFolder(this, DefaultFolder(FrameDir()));
        if (folder.isEmpty()) return;
        m_settings.frameFormat = m_formatCombo->currentText().toStdString();
        m_settings.frameDir = ToPath(folder);
        m_savePath = folder;
        break;
    }
    default: return;
    }
    UpdateData(false);
}

void CPano2DomePage::OnMode(int mode)
{
    if (mode != kImageMode && mode != kFrameMode && mode != kVideoMode) return;
    EnableModeFields(mode);
    m_savePath = FromPath(TargetOf(mode));
    m_settings.mode = mode;
    // Only the target changes: what is typed elsewhere stays as typed, to be
    // checked when it is used.
    m_savePathEdit->setText(m_savePath);
}

void CPano2DomePage::OnSharp(bool sharp)
{
    m_settings.sharp = sharp;
    // The preview follows: the map is of another panorama now.
    if (m_previewPanorama.IsEmpty()) return;
    RebuildPreviewMap();
    RenderPreviewDome();
}

void CPano2DomePage::EnableModeFields(int mode)
{
    const bool sweep = mode == kFrameMode || mode == kVideoMode;
    for (QWidget* control : {static_cast<QWidget*>(m_durationEdit), static_cast<QWidget*>(m_frameRateEdit),
                             static_cast<QWidget*>(m_fromEdit), static_cast<QWidget*>(m_toEdit),
                             static_cast<QWidget*>(m_sharpCheck)}) {
        control->setEnabled(sweep);
    }
    m_formatCombo->setEnabled(mode == kFrameMode);
    m_depthChoice->SetWrites(mode == kVideoMode ? CImageDepthChoice::Writes::Video
                                                : CImageDepthChoice::Writes::Images);
    OfferDepthsOfTarget(mode);
}

void CPano2DomePage::OfferDepthsOfTarget(int mode)
{
    const ImageCodec* codec = nullptr;
    if (mode == kFrameMode) {
        codec = FindImageCodec(m_formatCombo->currentText().toStdString());
    } else if (mode == kImageMode && !m_settings.imagePath.empty()) {
        codec = ImageCodecForPath(m_settings.imagePath);
    }
    m_depthChoice->OfferDepthsOf(codec);
}

void CPano2DomePage::EnableJobFields(bool enable)
{
    for (QWidget* control : {static_cast<QWidget*>(m_openButton), static_cast<QWidget*>(m_inputPathEdit),
                             static_cast<QWidget*>(m_outputWidthEdit), static_cast<QWidget*>(m_saveToButton),
                             static_cast<QWidget*>(m_fovEdit), static_cast<QWidget*>(m_imageRadio),
                             static_cast<QWidget*>(m_frameRadio), static_cast<QWidget*>(m_videoRadio),
                             static_cast<QWidget*>(m_supersampleCombo)}) {
        control->setEnabled(enable);
    }
    if (enable) {
        EnableModeFields(m_settings.mode);
        return;
    }
    for (QWidget* control : {static_cast<QWidget*>(m_durationEdit), static_cast<QWidget*>(m_frameRateEdit),
                             static_cast<QWidget*>(m_formatCombo), static_cast<QWidget*>(m_fromEdit),
                             static_cast<QWidget*>(m_toEdit), static_cast<QWidget*>(m_sharpCheck)}) {
        control->setEnabled(false);
    }
    m_depthChoice->SetWrites(CImageDepthChoice::Writes::Nothing);
}

const CImageBuffer& CPano2DomePage::Panorama() const
{
    static const CImageBuffer kNone;
    return m_settings.panorama ? *m_settings.panorama : kNone;
}

QComboBox* CPano2DomePage::DepthCombo() const
{
    return m_depthChoice->DepthCombo();
}

QComboBox* CPano2DomePage::DitherCombo() const
{
    return m_depthChoice->DitherCombo();
}

CPano2DomeJob CPano2DomePage::MakeJob() const
{
    CPano2DomeJob job = m_settings;
    job.video = m_videoSettings;
    return job;
}

void CPano2DomePage::OnBegin()
{
    if (IsJobRunning()) return;
    // What was typed counts, and a bad value is refused before anything starts.
    if (!UpdateData(true)) return;
    m_settings.frameFormat = m_formatCombo->currentText().toStdString();
    const CPano2DomeJob job = MakeJob();
    if (const std::optional<std::string> refusal = CheckPano2DomeJob(job)) {
        ShowMessageBox(this, QString::fromStdString(*refusal));
        return;
    }
    if (!MayWriteTargets(job)) return;

    EnableJobFields(false);
    m_progressPoster->NextJob();
    const bool begun =
        m_jobButtons->Begin([this, &job](CJobControl& control, CJobObserver& observer, CMessageReporter& reporter) {
            return BeginPano2DomeJob(control, job, observer, reporter, m_progressPoster.get());
        });
    if (!begun) EnableJobFields(true);
}

bool CPano2DomePage::MayWriteTargets(const CPano2DomeJob& job)
{
    const PanoTargets targets = FindPanoTargets(job, m_panoramaFile);
    if (!targets.input.empty()) {
        ShowMessageBox(this,
                       QStringLiteral("\"%1\" is the panorama being rendered; it is never written over: choose "
                                      "another output.")
                           .arg(QDir::toNativeSeparators(FromPath(targets.input))),
                       QString(), MessageIcon::Warning);
        return false;
    }
    // An image or a video was confirmed in the save dialog; frames are asked for here.
    if (job.mode != kPanoFrames || targets.existing == 0) return true;
    const QString first = QDir::toNativeSeparators(FromPath(targets.firstExisting));
    QString question = targets.existing == 1
                           ? QStringLiteral("\"%1\" already exists.").arg(first)
                           : QStringLiteral("\"%1\" and %2 more frames of this sweep already exist.")
                                 .arg(first)
                                 .arg(targets.existing - 1);
    if (targets.beyond > 0) {
        question += QStringLiteral(" %1 older frames numbered past this sweep stay as they are.").arg(targets.beyond);
    }
    question += targets.existing == 1 ? QStringLiteral("\nDo you want to replace it?")
                                      : QStringLiteral("\nDo you want to replace them?");
    return ShowMessageBox(this, question, QString(), MessageIcon::Question, MessageButtons::YesNo) ==
           MessageAnswer::Yes;
}

void CPano2DomePage::OnProgress(qint64 position)
{
    // Progress(k) reports frame k written: k + 1 steps done.
    m_progress->setValue(static_cast<int>(std::clamp<qint64>(position + 1, 0, m_progress->maximum())));
}

void CPano2DomePage::OnJobEnded()
{
    EnableJobFields(true);
}

}  // namespace skelvane
