#include "pano2dome/ui/Pano2DomePage.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>

#include <QButtonGroup>
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

#include "app/DialogUnits.h"
#include "app/FieldExchange.h"
#include "app/FileDialog.h"
#include "app/FolderPicker.h"
#include "app/JobObserverAdapter.h"
#include "app/MessageBox.h"
#include "app/PreviewPane.h"
#include "app/UiMessageReporter.h"

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

QStringList ImageFilters()
{
    return {FileFilter(QStringLiteral("JPEG"), {QStringLiteral("jpg"), QStringLiteral("jpeg")}),
            FileFilter(QStringLiteral("BMP"), {QStringLiteral("bmp")}),
            FileFilter(QStringLiteral("PNG"), {QStringLiteral("png")}),
            FileFilter(QStringLiteral("TGA"), {QStringLiteral("tga")}), AllFilesFilter()};
}

QStringList VideoFilters()
{
    return {FileFilter(QStringLiteral("AVI"), {QStringLiteral("avi")}),
            FileFilter(QStringLiteral("MOV"), {QStringLiteral("mov")}), AllFilesFilter()};
}

QLineEdit* DigitsOnly(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
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
    m_observer = new CJobObserverAdapter(this);
    BuildControls();
    m_progressPoster = std::make_unique<ProgressPoster>(m_progress);

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
    m_frameFormat = m_formatCombo->currentText();

    EnableModeFields(kImageMode);
    SetButtons(true, false, false, false);

    connect(m_openButton, &QPushButton::clicked, this, &CPano2DomePage::OnOpenImage);
    connect(m_outputWidthEdit, &QLineEdit::textEdited, this, &CPano2DomePage::OnOutputWidthChanged);
    connect(m_saveToButton, &QPushButton::clicked, this, &CPano2DomePage::OnSaveTo);
    connect(m_modeGroup, &QButtonGroup::idClicked, this, &CPano2DomePage::OnMode);
    // Every movement counts, also while the thumb is dragged.
    connect(m_horizontalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Horizontal, p); });
    connect(m_verticalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Vertical, p); });
    // A typed value is checked, with its prompt, when the user leaves the field.
    for (QLineEdit* edit : {m_fovEdit, m_outputWidthEdit, m_frameRateEdit, m_fromEdit, m_toEdit, m_durationEdit}) {
        connect(edit, &QLineEdit::editingFinished, this, [this] { UpdateData(true); });
    }
    connect(m_beginButton, &QPushButton::clicked, this, &CPano2DomePage::OnBegin);
    connect(m_pauseButton, &QPushButton::clicked, this, &CPano2DomePage::OnPause);
    connect(m_continueButton, &QPushButton::clicked, this, &CPano2DomePage::OnContinue);
    connect(m_stopButton, &QPushButton::clicked, this, &CPano2DomePage::OnStop);
    connect(m_observer, &CJobObserverAdapter::Progress, this, &CPano2DomePage::OnProgress);
    connect(m_observer, &CJobObserverAdapter::Finished, this, [this] { OnJobEnd(JobEnd::Finished, {}); });
    connect(m_observer, &CJobObserverAdapter::Stopped, this, [this] { OnJobEnd(JobEnd::Stopped, {}); });
    connect(m_observer, &CJobObserverAdapter::Failed, this,
            [this](const QString& reason) { OnJobEnd(JobEnd::Failed, reason); });
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
    Place(new QGroupBox(QStringLiteral("Input Image"), this), 3, 5, 415, 325);
    Place(new QGroupBox(QStringLiteral("FullDome Image Preview"), this), 425, 5, 210, 325);
    m_panoramaPane = Place(new CPreviewPane(this), 10, 24, 400, 200);
    m_panoramaPane->SetImage(&m_previewPanorama);
    m_domePane = Place(new CPreviewPane(this), 430, 24, 200, 200);
    m_domePane->SetImage(&m_previewDome);

    Place(new QGroupBox(QStringLiteral("Input"), this), 10, 230, 195, 95);
    m_openButton = Place(new QPushButton(QStringLiteral("Open Image..."), this), 16, 243, 60, 15);
    m_inputPathEdit = Place(new QLineEdit(this), 80, 244, 119, 13);
    Place(new QLabel(QStringLiteral("Width: "), this), 16, 272, 26, 12);
    m_inputWidthEdit = Place(new QLineEdit(this), 44, 270, 50, 13);
    Place(new QLabel(QStringLiteral("Height: "), this), 112, 272, 28, 12);
    m_inputHeightEdit = Place(new QLineEdit(this), 143, 270, 56, 13);

    Place(new QGroupBox(QStringLiteral("Output"), this), 215, 230, 196, 95);
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
    m_formatCombo->addItems({QStringLiteral("jpg"), QStringLiteral("bmp"), QStringLiteral("png"), QStringLiteral("tga")});

    Place(new QLabel(QStringLiteral("Duration:"), this), 221, 275, 34, 12);
    m_durationEdit = DigitsOnly(Place(new QLineEdit(this), 257, 273, 42, 13));
    Place(new QLabel(QStringLiteral("FrameRate:"), this), 305, 275, 40, 12);
    m_frameRateEdit = DigitsOnly(Place(new QLineEdit(this), 347, 273, 58, 13));

    Place(new QLabel(QStringLiteral("from"), this), 221, 292, 20, 12);
    m_fromEdit = Place(new QLineEdit(this), 257, 290, 42, 13);
    Place(new QLabel(QStringLiteral("to"), this), 305, 292, 12, 12);
    m_toEdit = Place(new QLineEdit(this), 347, 290, 58, 13);

    m_saveToButton = Place(new QPushButton(QStringLiteral("Save to..."), this), 221, 307, 45, 15);
    m_savePathEdit = Place(new QLineEdit(this), 270, 308, 135, 13);

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

    m_progress = Place(new QProgressBar(this), 10, 345, 410, 14);
    m_progress->setTextVisible(false);

    for (QLineEdit* edit : {m_horizontalEdit, m_verticalEdit, m_inputWidthEdit, m_inputHeightEdit, m_outputHeightEdit,
                            m_savePathEdit}) {
        edit->setReadOnly(true);
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
    return m_job.IsRunning();
}

bool CPano2DomePage::JobPaused() const
{
    return m_job.IsRunning() && m_job.SuspendCount() > 0;
}

void CPano2DomePage::StopJobForClose()
{
    if (!m_job.IsRunning()) return;
    AbandonAndJoin(m_job, *m_observer, m_reporter.get());
    m_progress->setValue(0);
    EnableJobFields(true);
    SetButtons(true, false, false, false);
}

bool CPano2DomePage::UpdateData(bool saveAndValidate)
{
    return Exchange(saveAndValidate, true);
}

bool CPano2DomePage::Exchange(bool saving, bool prompts)
{
    CFieldExchange dx(this, saving, prompts ? CFieldExchange::Prompts::Show : CFieldExchange::Prompts::Silent);
    dx.Text(m_fovEdit, m_fov, 90u, 360u);
    dx.Text(m_horizontalEdit, m_horizontalAngle, -180.0f, 180.0f);
    dx.Text(m_verticalEdit, m_verticalAngle, -90.0f, 90.0f);
    dx.Text(m_inputHeightEdit, m_inputHeight);
    dx.Text(m_outputHeightEdit, m_outputHeight);
    dx.Text(m_inputPathEdit, m_inputPath);
    dx.Text(m_savePathEdit, m_savePath);
    dx.Text(m_inputWidthEdit, m_inputWidth);
    dx.Text(m_outputWidthEdit, m_outputWidth);
    dx.Text(m_frameRateEdit, m_frameRate);
    dx.Radio(m_modeGroup, m_mode);
    dx.Text(m_fromEdit, m_fromAngle, -180, 180);
    dx.Text(m_toEdit, m_toAngle, -180, 180);
    dx.Text(m_durationEdit, m_duration);
    return dx.Ok();
}

QString CPano2DomePage::DefaultFolder(const QString& path) const
{
    return path.isEmpty() ? QDir::homePath() : path;
}

void CPano2DomePage::OnOpenImage()
{
    if (!UpdateData(true)) return;
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Open;
    request.title = Text(pano2dome_page_text::kOpenTitle);
    request.directory = m_inputPath.isEmpty() ? QDir::homePath() : QFileInfo(m_inputPath).absolutePath();
    request.filters = ImageFilters();
    request.confirmOverwrite = false;
    const QString path = RunFileDialog(this, request);
    if (path.isEmpty()) return;
    LoadPanorama(path);
}

void CPano2DomePage::LoadPanorama(const QString& path)
{
    m_inputPath = path;
    auto panorama = std::make_shared<CImageBuffer>();
    if (!panorama->Load(QFile::encodeName(path).toStdString()) || panorama->IsEmpty()) {
        ClearPanorama();
        UpdateData(false);
        ShowMessageBox(this, QStringLiteral("Cannot read the image \"%1\". ").arg(QDir::toNativeSeparators(path)),
                       QString(), MessageIcon::Warning);
        return;
    }
    m_panorama = std::move(panorama);
    m_inputWidth = m_panorama->GetWidth();
    m_inputHeight = m_panorama->GetHeight();
    m_outputWidth = m_outputHeight = PanoOutputSize(m_inputHeight, m_fov);
    UpdateData(false);

    m_previewPanorama.Release();
    if (m_previewPanorama.Create(kPreviewPanoWidth, kPreviewPanoHeight)) {
        m_previewPanorama.StretchFrom(0, 0, kPreviewPanoWidth, kPreviewPanoHeight, *m_panorama, 0, 0, m_inputWidth,
                                      m_inputHeight);
    }
    RebuildPreviewMap();
    RenderPreviewDome();
    m_panoramaPane->update();
}

void CPano2DomePage::ClearPanorama()
{
    m_panorama.reset();
    m_previewPanorama.Release();
    m_previewDome.Release();
    m_inputWidth = m_inputHeight = 0;
    m_outputWidth = m_outputHeight = 0;
    m_panoramaPane->update();
    m_domePane->update();
}

void CPano2DomePage::RebuildPreviewMap()
{
    m_previewMap.reset();
    m_previewMap = m_projector.BuildPanoDomeMap(kPreviewPanoWidth, kPreviewPanoHeight, kPreviewDomeSize,
                                                static_cast<std::int32_t>(m_fov), m_verticalAngle);
    // Whatever built the map, the horizontal slider compares against it.
    m_previewMapFov = m_fov;
}

void CPano2DomePage::RenderPreviewDome()
{
    if (m_previewPanorama.IsEmpty()) return;
    std::unique_ptr<CImageBuffer> dome;
    if (m_previewMap) {
        dome = m_projector.RenderPanoDome(m_previewPanorama, m_previewMap.get(), kPreviewDomeSize, m_horizontalAngle);
    }
    if (dome) m_previewDome = std::move(*dome);
    else m_previewDome.Release();
    m_domePane->Refresh();
}

void CPano2DomePage::OnOutputWidthChanged()
{
    // Every keystroke: no prompt here, a bad field keeps its last good value.
    Exchange(true, false);
    m_outputHeight = m_outputWidth;
    m_outputHeightEdit->setText(QString::number(m_outputHeight));
}

void CPano2DomePage::OnSlider(Slider slider, int position)
{
    // Dragging shows no prompt; a bad field keeps its last good value.
    Exchange(true, false);
    if (slider == Slider::Horizontal) {
        m_horizontalAngle = HorizontalAngleFromPanoSlider(position);
        m_horizontalEdit->setText(FormatFloatField(m_horizontalAngle));
    } else {
        m_verticalAngle = VerticalAngleFromPanoSlider(position);
        m_verticalEdit->setText(FormatFloatField(m_verticalAngle));
    }
    // Without a panorama there is nothing to preview; Open Image builds the map.
    if (m_previewPanorama.IsEmpty()) return;
    // The pan is a shift at render time; tilt and field of view need a new map.
    if (slider == Slider::Vertical || m_fov != m_previewMapFov || !m_previewMap) RebuildPreviewMap();
    RenderPreviewDome();
}

void CPano2DomePage::OnSaveTo()
{
    if (!UpdateData(true)) return;
    if (m_outputWidth <= 0) {
        ShowMessageBox(this, Text(pano2dome_text::kCheckWidth));
        return;
    }
    if (!m_panorama) {
        ShowMessageBox(this, Text(pano2dome_text::kNoInputImage));
        return;
    }
    switch (m_mode) {
    case kImageMode:
    case kVideoMode: {
        const bool image = m_mode == kImageMode;
        FileDialogRequest request;
        request.mode = FileDialogRequest::Mode::Save;
        request.title = Text(image ? pano2dome_page_text::kSaveImageTitle : pano2dome_page_text::kSaveVideoTitle);
        request.directory = m_savePath.isEmpty() ? QDir::homePath() : QFileInfo(m_savePath).absolutePath();
        request.fileName = image ? QStringLiteral("image1") : QStringLiteral("video1");
        request.defaultSuffix = image ? QStringLiteral("jpg") : QStringLiteral("avi");
        request.filters = image ? ImageFilters() : VideoFilters();
        request.confirmOverwrite = true;
        const QString path = RunFileDialog(this, request);
        if (path.isEmpty()) return;
        m_savePath = path;
        (image ? m_imagePath : m_videoPath) = m_savePath;
        break;
    }
    case kFrameMode: {
        const QString folder = BrowseForFolder(this, DefaultFolder(m_frameDir));
        if (folder.isEmpty()) return;
        m_frameFormat = m_formatCombo->currentText();
        m_frameDir = folder;
        m_savePath = m_frameDir;
        break;
    }
    default: return;
    }
    UpdateData(false);
}

void CPano2DomePage::OnMode(int mode)
{
    EnableModeFields(mode);
    switch (mode) {
    case kImageMode: m_savePath = m_imagePath; break;
    case kFrameMode: m_savePath = m_frameDir; break;
    case kVideoMode: m_savePath = m_videoPath; break;
    default: return;
    }
    m_mode = mode;
    // Only the target changes: what is typed elsewhere stays as typed, to be
    // checked when it is used.
    m_savePathEdit->setText(m_savePath);
}

void CPano2DomePage::EnableModeFields(int mode)
{
    const bool sweep = mode == kFrameMode || mode == kVideoMode;
    for (QWidget* control : {static_cast<QWidget*>(m_durationEdit), static_cast<QWidget*>(m_frameRateEdit),
                             static_cast<QWidget*>(m_fromEdit), static_cast<QWidget*>(m_toEdit)}) {
        control->setEnabled(sweep);
    }
    m_formatCombo->setEnabled(mode == kFrameMode);
}

void CPano2DomePage::EnableJobFields(bool enable)
{
    for (QWidget* control : {static_cast<QWidget*>(m_openButton), static_cast<QWidget*>(m_outputWidthEdit),
                             static_cast<QWidget*>(m_saveToButton), static_cast<QWidget*>(m_fromEdit),
                             static_cast<QWidget*>(m_toEdit), static_cast<QWidget*>(m_durationEdit),
                             static_cast<QWidget*>(m_frameRateEdit)}) {
        control->setEnabled(enable);
    }
}

const CImageBuffer& CPano2DomePage::Panorama() const
{
    static const CImageBuffer kNone;
    return m_panorama ? *m_panorama : kNone;
}

CPano2DomeJob CPano2DomePage::MakeJob() const
{
    auto path = [](const QString& text) { return QFile::encodeName(text).toStdString(); };
    CPano2DomeJob job;
    job.mode = m_mode;
    job.panorama = m_panorama;
    job.outputWidth = m_outputWidth;
    job.fov = m_fov;
    job.verticalAngle = m_verticalAngle;
    job.horizontalAngle = m_horizontalAngle;
    job.fromAngle = m_fromAngle;
    job.toAngle = m_toAngle;
    job.duration = m_duration;
    job.frameRate = m_frameRate;
    job.imagePath = path(m_imagePath);
    job.frameDir = path(m_frameDir);
    job.frameFormat = m_frameFormat.toStdString();
    job.videoPath = path(m_videoPath);
    job.videoQuality = m_videoSettings.quality;
    job.keyFrameMode = m_videoSettings.keyFrameMode;
    job.keyFrameEvery = m_videoSettings.keyFrameEvery;
    job.twoPass = m_videoSettings.twoPass ? 1 : 0;
    return job;
}

void CPano2DomePage::OnBegin()
{
    if (m_job.IsRunning()) return;
    // What was typed counts, and a bad value is refused before anything starts.
    if (!UpdateData(true)) return;
    m_frameFormat = m_formatCombo->currentText();
    const CPano2DomeJob job = MakeJob();
    if (const std::optional<std::string> refusal = CheckPano2DomeJob(job)) {
        ShowMessageBox(this, QString::fromStdString(*refusal));
        return;
    }

    m_beginButton->setEnabled(false);
    EnableJobFields(false);
    m_observer->Attach();
    m_progressPoster->NextJob();
    if (!BeginPano2DomeJob(m_job, job, *m_observer, *m_reporter, m_progressPoster.get())) {
        EnableJobFields(true);
        EnableModeFields(m_mode);
        m_beginButton->setEnabled(true);
        return;
    }
    SetButtons(false, true, false, true);
}

void CPano2DomePage::OnPause()
{
    if (!m_job.IsRunning()) return;
    m_job.Suspend();
    m_continueButton->setEnabled(true);
    m_pauseButton->setEnabled(false);
}

void CPano2DomePage::OnContinue()
{
    if (!m_job.IsRunning()) return;
    m_continueButton->setEnabled(false);
    m_pauseButton->setEnabled(true);
    m_job.Resume();
}

void CPano2DomePage::OnStop()
{
    if (!m_job.IsRunning()) return;
    const CJobControl::StopResult result = m_job.Stop([this] {
        return ShowMessageBox(this, Text(pano2dome_page_text::kStopQuestion), Text(pano2dome_page_text::kStopTitle),
                              MessageIcon::Warning, MessageButtons::YesNo) == MessageAnswer::Yes;
    });
    if (result == CJobControl::StopResult::Stopping) m_stopButton->setEnabled(false);
}

void CPano2DomePage::OnProgress(qint64 position)
{
    // Progress(k) reports frame k written: k + 1 steps done.
    m_progress->setValue(static_cast<int>(std::clamp<qint64>(position + 1, 0, m_progress->maximum())));
}

void CPano2DomePage::OnJobEnd(JobEnd end, const QString& reason)
{
    m_job.Join();
    SetButtons(true, false, false, false);
    EnableJobFields(true);
    QString text;
    switch (end) {
    case JobEnd::Finished: text = Text(pano2dome_text::kFinished); break;
    case JobEnd::Stopped: text = Text(pano2dome_text::kStopped); break;
    case JobEnd::Failed:
        text = Text(pano2dome_text::kFailed);
        if (!reason.isEmpty()) text += QStringLiteral("\n\n") + reason;
        break;
    }
    ShowMessageBox(this, text, QString(), end == JobEnd::Failed ? MessageIcon::Error : MessageIcon::Information);
    Q_EMIT JobEnded(end);
}

void CPano2DomePage::SetButtons(bool begin, bool pause, bool resume, bool stop)
{
    m_beginButton->setEnabled(begin);
    m_pauseButton->setEnabled(pause);
    m_continueButton->setEnabled(resume);
    m_stopButton->setEnabled(stop);
}

}  // namespace skelvane
