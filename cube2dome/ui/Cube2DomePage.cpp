#include "cube2dome/ui/Cube2DomePage.h"

#include <algorithm>
#include <new>
#include <utility>

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>

#include "cube2dome/Cube2DomeJob.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "engine/jobs/TimeLeft.h"
#include "ui/FieldExchange.h"
#include "ui/FieldLeaveCheck.h"
#include "ui/FolderPicker.h"
#include "ui/JobButtons.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/ReadOnlyField.h"
#include "ui/UiMessageReporter.h"

namespace skelvane {
namespace {

// The page is laid out in pixels: its panes must be exactly the preview
// sizes plus their one-pixel frame.
template <typename Control>
Control* At(Control* control, int x, int y, int width, int height)
{
    if (qobject_cast<QLabel*>(static_cast<QWidget*>(control))) width = std::max(width, control->sizeHint().width());
    control->setGeometry(x, y, width, height);
    return control;
}

constexpr int kPageWidth = 956;
constexpr int kPageHeight = 600;

// Panes of the faces in a cross around Front: column and row of each face.
constexpr int kFaceCell[kCubeFaceCount][2] = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {1, 0}, {1, 2}};
// Front needs no label: it is the face in the middle.
const char* const kFaceLabels[kCubeFaceCount] = {"Left", "", "Right", "Back", "Top", "Bottom"};

const QString kMemoryError = QStringLiteral("Memory error!");

CJobButtons::Texts JobTexts()
{
    CJobButtons::Texts texts;
    texts.stopQuestion = QStringLiteral("The render task is not finish, stop it anyway? ");
    texts.stopTitle = QStringLiteral("Warning!");
    texts.stopIcon = MessageIcon::None;
    texts.finished = QString::fromLatin1(cube2dome_text::kFinished);
    texts.stopped = QString::fromLatin1(cube2dome_text::kStopped);
    texts.failed = QString::fromLatin1(cube2dome_text::kFailed);
    return texts;
}

float HorizontalAngleFromSlider(int position)
{
    return static_cast<float>(position - CCube2DomePage::kHorizontalSliderCentre) * 0.1f;
}

}  // namespace

CCube2DomePage::CCube2DomePage(const VideoEncoderSettings& videoSettings, QWidget* parent)
    : CDomePage(parent), m_videoSettings(videoSettings), m_reporter(std::make_unique<CUiMessageReporter>(this)),
      m_projector(*m_reporter)
{
    m_settings.saveDir = QDir::homePath().toStdString();

    At(new QGroupBox(QStringLiteral("Input Image"), this), 6, 2, 626, 546);
    const int paneSide = kPreviewFaceSize + 2;
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const int x = 16 + kFaceCell[k][0] * (paneSide + 2);
        const int y = 22 + kFaceCell[k][1] * (paneSide + 24);
        if (*kFaceLabels[k]) At(new QLabel(QString::fromLatin1(kFaceLabels[k]), this), x, y, 60, 16);
        m_panes[k] = At(new CPreviewPane(this), x, y + 18, paneSide, paneSide);
        m_panes[k]->SetImage(&m_previewFaces[k]);
    }

    At(new QGroupBox(QStringLiteral("FullDome Image Preview"), this), 640, 2, 312, 328);
    m_panes[kDomePane] = At(new CPreviewPane(this), 646, 22, kPreviewDomeSize + 2, kPreviewDomeSize + 2);
    m_panes[kDomePane]->SetImage(&m_domePreview);

    At(new QLabel(QStringLiteral("Horizontal: "), this), 642, 340, 66, 20);
    m_horizontalSlider = At(new QSlider(Qt::Horizontal, this), 712, 338, 170, 24);
    m_horizontalEdit = At(new QLineEdit(this), 888, 340, 60, 20);
    At(new QLabel(QStringLiteral("Vertical: "), this), 642, 368, 66, 20);
    m_verticalSlider = At(new QSlider(Qt::Horizontal, this), 712, 366, 170, 24);
    m_verticalEdit = At(new QLineEdit(this), 888, 368, 60, 20);

    At(new QGroupBox(QStringLiteral("Field Of View"), this), 640, 394, 312, 48);
    At(new QLabel(QStringLiteral("FOV: "), this), 652, 414, 36, 20);
    m_fovEdit = At(new QLineEdit(this), 690, 414, 60, 20);
    m_fovEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_fovEdit));

    At(new QGroupBox(QStringLiteral("Present"), this), 640, 446, 312, 50);
    m_frameSlider = At(new QSlider(Qt::Horizontal, this), 648, 467, 236, 24);
    m_frameEdit = At(new QLineEdit(this), 890, 468, 56, 20);

    m_saveDirButton = At(new QPushButton(QStringLiteral("Save Directory..."), this), 640, 506, 112, 26);
    m_saveDirEdit = At(new QLineEdit(this), 758, 509, 194, 20);

    m_beginButton = At(new QPushButton(QStringLiteral("Begin"), this), 640, 546, 72, 28);
    m_pauseButton = At(new QPushButton(QStringLiteral("Pause"), this), 720, 546, 72, 28);
    m_continueButton = At(new QPushButton(QStringLiteral("Continue"), this), 800, 546, 72, 28);
    m_stopButton = At(new QPushButton(QStringLiteral("Stop"), this), 880, 546, 72, 28);
    m_progressLabel = At(new QLabel(this), 8, 556, 306, 20);
    m_progressLabel->hide();
    m_pendingNote = At(new QLabel(QStringLiteral("New settings wait until the render ends."), this), 320, 556, 312, 20);
    m_pendingNote->hide();

    for (QLineEdit* edit : {m_horizontalEdit, m_verticalEdit, m_frameEdit, m_saveDirEdit}) MakeReadOnly(edit);

    m_horizontalSlider->setRange(0, kHorizontalSliderMax);
    m_horizontalSlider->setPageStep(100);
    m_horizontalSlider->setValue(kHorizontalSliderCentre);
    m_verticalSlider->setRange(0, kVerticalSliderMax);
    m_verticalSlider->setPageStep(100);
    m_verticalSlider->setValue(SliderFromVerticalAngle(m_settings.verticalAngle));
    // Nothing to step through until settings are applied.
    m_frameSlider->setRange(0, 0);
    m_frameSlider->setPageStep(1);

    m_jobButtons = new CJobButtons(this, {m_beginButton, m_pauseButton, m_continueButton, m_stopButton}, *m_reporter,
                                   JobTexts());
    UpdateData(false);

    m_settingsDlg = new CCube2DomeSettingDlg(m_videoSettings, this);
    m_settingsDlg->hide();

    connect(m_settingsDlg, &CCube2DomeSettingDlg::SettingsAccepted, this, &CCube2DomePage::OnSettingsAccepted);
    connect(m_horizontalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Horizontal, p); });
    connect(m_verticalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Vertical, p); });
    connect(m_frameSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Frame, p); });
    // A field of view typed counts once the user leaves the field.
    auto* leaveCheck = new CFieldLeaveCheck(this, [this](CFieldExchange& dx) { Exchange(dx); });
    leaveCheck->Watch(m_fovEdit, [this] {
        if (TakeFovOver()) RenderDomePreview();
    });
    connect(m_saveDirButton, &QPushButton::clicked, this, &CCube2DomePage::OnSaveDirectory);
    connect(m_beginButton, &QPushButton::clicked, this, &CCube2DomePage::OnBegin);
    connect(m_jobButtons, &CJobButtons::Progress, this, &CCube2DomePage::OnProgress);
    connect(m_jobButtons, &CJobButtons::Ended, this, &CCube2DomePage::OnJobEnded);
    connect(m_jobButtons, &CJobButtons::Ended, this, &CDomePage::JobJoined);
    connect(m_jobButtons, &CJobButtons::EndReported, this, &CCube2DomePage::JobEnded);
}

CCube2DomePage::~CCube2DomePage()
{
    // The worker reads nothing of the page (it has its own copy of the job),
    // but it reports to the page's observer and reporter: it ends first.
    m_jobButtons->StopForClose();
    delete m_settingsDlg;
}

QSize CCube2DomePage::sizeHint() const
{
    return {kPageWidth, kPageHeight};
}

bool CCube2DomePage::IsJobRunning() const
{
    return m_jobButtons->IsRunning();
}

bool CCube2DomePage::JobPaused() const
{
    return m_jobButtons->IsPaused();
}

void CCube2DomePage::SuspendJob()
{
    m_jobButtons->Suspend();
}

void CCube2DomePage::ResumeJob()
{
    m_jobButtons->Resume();
}

void CCube2DomePage::StopJobForClose()
{
    // Ended as any render ends, settings that waited for it included.
    if (m_jobButtons->StopForClose()) OnJobEnded();
}

void CCube2DomePage::OnSettingsAccepted()
{
    // The page shows what is being rendered: new settings wait for the end.
    if (IsJobRunning()) {
        m_pendingSettings = m_settingsDlg->Settings();
        m_pendingNote->show();
        return;
    }
    ApplySettings(m_settingsDlg->Settings());
}

void CCube2DomePage::OnJobEnded()
{
    EnableViewControls(true);
    m_progressLabel->hide();
    if (!m_pendingSettings) return;
    const Cube2DomeSettings next = *std::exchange(m_pendingSettings, std::nullopt);
    m_pendingNote->hide();
    ApplySettings(next);
}

void CCube2DomePage::EnableViewControls(bool enable)
{
    for (QWidget* control : {static_cast<QWidget*>(m_horizontalSlider), static_cast<QWidget*>(m_verticalSlider),
                             static_cast<QWidget*>(m_frameSlider), static_cast<QWidget*>(m_fovEdit),
                             static_cast<QWidget*>(m_saveDirButton)}) {
        control->setEnabled(enable);
    }
}

bool CCube2DomePage::ShowSettingsDialog()
{
    // Settings waiting for the render's end are the page's next ones.
    const Cube2DomeSettings& next = m_pendingSettings ? *m_pendingSettings : m_settings;
    m_settingsDlg->TakeViewOver(next.verticalAngle, QString::fromStdString(next.saveDir));
    m_settingsDlg->show();
    m_settingsDlg->raise();
    m_settingsDlg->activateWindow();
    return true;
}

bool CCube2DomePage::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) return Save(true);
    CFieldExchange dx(this, false);
    Exchange(dx);
    return true;
}

void CCube2DomePage::Exchange(CFieldExchange& dx)
{
    const float horizontal = m_horizontalAngle;
    const float vertical = m_settings.verticalAngle;
    QString saveDir = SaveDir();
    dx.Text(m_fovEdit, m_fov, 90u, 360u);
    dx.Text(m_horizontalEdit, m_horizontalAngle, -180.0f, 180.0f);
    dx.Text(m_verticalEdit, m_settings.verticalAngle, -90.0f, 90.0f);
    dx.Text(m_saveDirEdit, saveDir);
    dx.Text(m_frameEdit, m_frameNumber);
    if (!dx.IsSaving()) return;
    m_settings.saveDir = saveDir.toStdString();
    // The angle fields show six digits; an angle the field shows unchanged
    // keeps its full value, so the job renders the view of the preview.
    if (m_horizontalEdit->text() == FormatFloatField(horizontal)) m_horizontalAngle = horizontal;
    if (m_verticalEdit->text() == FormatFloatField(vertical)) m_settings.verticalAngle = vertical;
}

bool CCube2DomePage::Save(bool prompts)
{
    CFieldExchange dx(this, true, prompts ? CFieldExchange::Prompts::Show : CFieldExchange::Prompts::Silent);
    Exchange(dx);
    return dx.Ok();
}

void CCube2DomePage::ApplySettings(const Cube2DomeSettings& settings)
{
    // The face lists are immutable and shared: a job that runs keeps the ones it began with.
    m_settings = settings;
    const int fromFrame = static_cast<int>(m_settings.fromFrame);
    const int toFrame = static_cast<int>(m_settings.toFrame);

    {
        const QSignalBlocker quietFrame(m_frameSlider);
        const QSignalBlocker quietVertical(m_verticalSlider);
        m_frameSlider->setRange(0, std::max(0, toFrame - fromFrame));
        m_frameSlider->setValue(0);
        m_verticalSlider->setValue(SliderFromVerticalAngle(m_settings.verticalAngle));
    }
    m_frameNumber = fromFrame;
    UpdateData(false);
    LoadPreviewFaces(m_frameNumber - 1, m_settings.faceCount);

    if (!m_directions) {
        m_directions = m_projector.BuildFisheyeDirections(kPreviewFaceSize, kPreviewDomeSize, static_cast<int>(m_fov));
        m_directionsFov = m_fov;
        if (!m_directions) {
            ShowMessageBox(this, kMemoryError);
            return;
        }
    }
    if (!RenderDomePreview()) {
        ShowMessageBox(this, kMemoryError);
        return;
    }
    m_jobButtons->SetReady(true);
}

void CCube2DomePage::LoadPreviewFaces(int frameIndex, int count)
{
    count = std::clamp(count, 0, kCubeFaceCount);
    for (int k = 0; k < count; ++k) {
        const FaceFrameListPtr& list = m_settings.faceList[k];
        if (!list || frameIndex < 0 || list->Count() < static_cast<std::size_t>(frameIndex) + 1) {
            m_scratchFace.Release();
            m_previewFaces[k].Release();
            m_panes[k]->SetProblem(QString());
            m_panes[k]->update();
            continue;
        }
        // A face that cannot be read shows black: the scaled face is made
        // zeroed and nothing is resampled into it. The pane says why.
        const std::filesystem::path& file = list->At(static_cast<std::size_t>(frameIndex));
        m_panes[k]->SetProblem(LoadFace(file), QString::fromStdString(file.string()));
        m_previewFaces[k].Create(kPreviewFaceSize, kPreviewFaceSize);
        if (!m_scratchFace.IsEmpty()) {
            m_previewFaces[k].StretchFrom(0, 0, kPreviewFaceSize, kPreviewFaceSize, m_scratchFace, 0, 0,
                                          m_scratchFace.GetWidth(), m_scratchFace.GetHeight());
        }
        m_scratchFace.Release();
        DrawPreviewPane(k);
    }
    for (int k = count; k < kCubeFaceCount; ++k) {
        m_previewFaces[k].Release();
        m_panes[k]->SetProblem(QString());
        m_panes[k]->update();
    }
}

QString CCube2DomePage::LoadFace(const std::filesystem::path& file)
{
    std::string reason;
    try {
        // Previews show 8 bits a channel.
        if (m_scratchFace.Load(file, &reason) && m_scratchFace.ConvertTo32()) return {};
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    }
    m_scratchFace.Release();
    const QString name = QString::fromStdString(file.filename().string());
    if (reason.empty()) return QStringLiteral("Cannot read %1.").arg(name);
    return QStringLiteral("Cannot read %1: %2.").arg(name, QString::fromStdString(reason));
}

bool CCube2DomePage::RenderDomePreview()
{
    UpdateData(false);
    if (!HasFaces() || !m_directions) return true;
    const DirectionArray tilted =
        m_projector.RotateAboutX(m_directions.get(), kPreviewDomeSize, m_settings.verticalAngle);
    if (!tilted) return false;
    const DirectionArray turned = m_projector.RotateAboutY(tilted.get(), kPreviewDomeSize, m_horizontalAngle);
    if (!turned) return false;
    m_previewMap.reset();
    m_previewMap = m_projector.MapDirectionsToFaces(turned.get(), kPreviewFaceSize, kPreviewDomeSize);
    if (!m_previewMap) return false;
    RenderDomeWithCurrentMap();
    return true;
}

void CCube2DomePage::RenderDomeWithCurrentMap()
{
    if (!m_previewMap) return;
    std::unique_ptr<CImageBuffer> dome;
    if (m_settings.sampling.IsPlain()) {
        dome = m_projector.RenderCubeDome(m_previewFaces, kPreviewFaceSize, m_previewMap.get(), kPreviewDomeSize);
    } else {
        // The filter and the sub-samples the render will use, on the preview's faces.
        CCubeDomeSampler sampler;
        if (sampler.Plan(kPreviewFaceSize, kPreviewDomeSize, static_cast<std::int32_t>(m_fov),
                         m_settings.verticalAngle, m_horizontalAngle, m_settings.sampling)) {
            dome = sampler.Render(m_previewFaces, DefaultReporter());
        }
    }
    if (dome) m_domePreview = std::move(*dome);
    DrawPreviewPane(kDomePane);
}

void CCube2DomePage::DrawPreviewPane(int k)
{
    m_panes[k]->Refresh();
}

bool CCube2DomePage::TakeFovOver()
{
    if (m_fov == m_directionsFov) return true;
    m_directionsFov = m_fov;
    if (!m_directions) return true;
    m_directions.reset();
    m_directions = m_projector.BuildFisheyeDirections(kPreviewFaceSize, kPreviewDomeSize, static_cast<int>(m_fov));
    return static_cast<bool>(m_directions);
}

void CCube2DomePage::OnSlider(Slider slider, int position)
{
    // A bad value in a field blocks every slider until it is corrected;
    // dragging shows no prompt (that comes when the field loses the focus).
    if (!Save(false)) return;
    TakeFovOver();
    switch (slider) {
    case Slider::Horizontal:
        m_horizontalAngle = HorizontalAngleFromSlider(position);
        RenderDomePreview();
        break;
    case Slider::Vertical:
        m_settings.verticalAngle = VerticalAngleFromSlider(position);
        RenderDomePreview();
        break;
    case Slider::Frame:
        ShowFrame(position);
        break;
    }
}

void CCube2DomePage::ShowFrame(int position)
{
    m_frameNumber = position + static_cast<int>(m_settings.fromFrame);
    m_frameEdit->setText(QString::number(m_frameNumber));
    if (!HasFaces()) return;
    LoadPreviewFaces(m_frameNumber - 1, m_settings.faceCount);
    RenderDomeWithCurrentMap();
}

void CCube2DomePage::OnSaveDirectory()
{
    const QString folder = BrowseForFolder(this, SaveDir());
    if (folder.isEmpty()) return;
    m_settings.saveDir = folder.toStdString();
    m_saveDirEdit->setText(folder);
}

void CCube2DomePage::OnBegin()
{
    if (IsJobRunning()) return;
    if (!HasFaces() || m_settings.faceList[Left]->Count() == 0) return;
    // What was typed counts, and a bad value is refused before anything starts.
    if (!Save(true)) return;
    if (TakeFovOver()) RenderDomePreview();

    CCube2DomeJob job = MakeCube2DomeJob(m_settings, static_cast<int>(m_fov), m_horizontalAngle);
    job.video = m_videoSettings;
    std::optional<std::string> refusal = CheckCube2DomeVideo(job);
    if (!refusal) refusal = CheckCube2DomeImages(job);
    if (refusal) {
        ShowMessageBox(this, QString::fromStdString(*refusal));
        return;
    }
    const bool begun =
        m_jobButtons->Begin([&job](CJobControl& control, CJobObserver& observer, CMessageReporter& reporter) {
            return BeginCube2DomeJob(control, job, observer, reporter);
        });
    if (!begun) return;
    EnableViewControls(false);
    m_jobFrames = Cube2DomeProgressRange(job);  // a video's second pass counts on
    ShowProgress(0);
    m_progressLabel->show();
}

void CCube2DomePage::ShowProgress(std::int64_t written)
{
    QString text = QStringLiteral("Frame %1 of %2 written").arg(written).arg(m_jobFrames);
    const double left = SecondsLeft(written, m_jobFrames, m_jobButtons->WorkingSeconds());
    if (written > 0 && written < m_jobFrames) {
        text += QStringLiteral(", %1 left").arg(QString::fromStdString(ClockText(left)));
    }
    m_progressLabel->setText(text);
}

void CCube2DomePage::OnProgress(qint64 position)
{
    ShowProgress(position + 1);
    // The second pass of a video counts on from the last frame: it shows the
    // frames again.
    position %= std::max<qint64>(1, m_frameSlider->maximum() + 1);
    const int i = static_cast<int>(std::clamp<qint64>(position, 0, m_frameSlider->maximum()));
    {
        const QSignalBlocker quiet(m_frameSlider);
        m_frameSlider->setValue(i);
    }
    ShowFrame(static_cast<int>(position));
}

}  // namespace skelvane
