#include "cube2dome/ui/Cube2DomePage.h"

#include <algorithm>

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>

#include "app/FieldExchange.h"
#include "app/FolderPicker.h"
#include "app/JobObserverAdapter.h"
#include "app/MessageBox.h"
#include "app/PreviewPane.h"
#include "app/UiMessageReporter.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"

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
const QString kStopQuestion = QStringLiteral("The render task is not finish, stop it anyway? ");
const QString kStopTitle = QStringLiteral("Warning!");

float HorizontalAngleFromSlider(int position)
{
    return static_cast<float>(position - CCube2DomePage::kHorizontalSliderCentre) * 0.1f;
}

}  // namespace

CCube2DomePage::CCube2DomePage(QWidget* parent)
    : CDomePage(parent), m_reporter(std::make_unique<CUiMessageReporter>(this)), m_projector(*m_reporter)
{
    m_saveDir = QDir::homePath();
    m_observer = new CJobObserverAdapter(this);

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

    for (QLineEdit* edit : {m_horizontalEdit, m_verticalEdit, m_frameEdit, m_saveDirEdit}) edit->setReadOnly(true);

    m_horizontalSlider->setRange(0, kHorizontalSliderMax);
    m_horizontalSlider->setPageStep(100);
    m_horizontalSlider->setValue(kHorizontalSliderCentre);
    m_verticalSlider->setRange(0, kVerticalSliderMax);
    m_verticalSlider->setPageStep(100);
    m_verticalSlider->setValue(SliderFromVerticalAngle(m_verticalAngle));
    // Nothing to step through until settings are applied.
    m_frameSlider->setRange(0, 0);
    m_frameSlider->setPageStep(1);

    SetButtons(false, false, false, false);
    UpdateData(false);

    m_settingsDlg = new CCube2DomeSettingDlg(this);
    m_settingsDlg->hide();

    connect(m_settingsDlg, &CCube2DomeSettingDlg::SettingsAccepted, this,
            [this] { ApplySettings(m_settingsDlg->Settings()); });
    connect(m_horizontalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Horizontal, p); });
    connect(m_verticalSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Vertical, p); });
    connect(m_frameSlider, &QSlider::valueChanged, this, [this](int p) { OnSlider(Slider::Frame, p); });
    connect(m_fovEdit, &QLineEdit::editingFinished, this, &CCube2DomePage::OnFovEdited);
    connect(m_saveDirButton, &QPushButton::clicked, this, &CCube2DomePage::OnSaveDirectory);
    connect(m_beginButton, &QPushButton::clicked, this, &CCube2DomePage::OnBegin);
    connect(m_pauseButton, &QPushButton::clicked, this, &CCube2DomePage::OnPause);
    connect(m_continueButton, &QPushButton::clicked, this, &CCube2DomePage::OnContinue);
    connect(m_stopButton, &QPushButton::clicked, this, &CCube2DomePage::OnStop);
    connect(m_observer, &CJobObserverAdapter::Progress, this, &CCube2DomePage::OnProgress);
    connect(m_observer, &CJobObserverAdapter::Finished, this, [this] { OnJobEnd(JobEnd::Finished, {}); });
    connect(m_observer, &CJobObserverAdapter::Stopped, this, [this] { OnJobEnd(JobEnd::Stopped, {}); });
    connect(m_observer, &CJobObserverAdapter::Failed, this,
            [this](const QString& reason) { OnJobEnd(JobEnd::Failed, reason); });
}

CCube2DomePage::~CCube2DomePage()
{
    // The worker reads nothing of the page (it has its own copy of the job),
    // but it reports to the page's observer and reporter: it ends first.
    StopJobForClose();
    delete m_settingsDlg;
}

QSize CCube2DomePage::sizeHint() const
{
    return {kPageWidth, kPageHeight};
}

bool CCube2DomePage::IsJobRunning() const
{
    return m_job.IsRunning();
}

bool CCube2DomePage::JobPaused() const
{
    return m_job.IsRunning() && m_job.SuspendCount() > 0;
}

void CCube2DomePage::StopJobForClose()
{
    if (!m_job.IsRunning()) return;
    AbandonAndJoin(m_job, *m_observer, m_reporter.get());
    SetButtons(static_cast<bool>(m_faceLists[Left]), false, false, false);
}

bool CCube2DomePage::ShowSettingsDialog()
{
    m_settingsDlg->TakeViewOver(m_verticalAngle, m_saveDir);
    m_settingsDlg->show();
    m_settingsDlg->raise();
    m_settingsDlg->activateWindow();
    return true;
}

bool CCube2DomePage::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) return Save(true);
    CFieldExchange dx(this, false);
    dx.Text(m_fovEdit, m_fov, 90u, 360u);
    dx.Text(m_horizontalEdit, m_horizontalAngle, -180.0f, 180.0f);
    dx.Text(m_verticalEdit, m_verticalAngle, -90.0f, 90.0f);
    dx.Text(m_saveDirEdit, m_saveDir);
    dx.Text(m_frameEdit, m_frameNumber);
    return true;
}

bool CCube2DomePage::Save(bool prompts)
{
    // The angle fields show six digits; an angle the field shows unchanged
    // keeps its full value, so the job renders the view of the preview.
    const float horizontal = m_horizontalAngle;
    const float vertical = m_verticalAngle;
    CFieldExchange dx(this, true, prompts ? CFieldExchange::Prompts::Show : CFieldExchange::Prompts::Silent);
    dx.Text(m_fovEdit, m_fov, 90u, 360u);
    dx.Text(m_horizontalEdit, m_horizontalAngle, -180.0f, 180.0f);
    dx.Text(m_verticalEdit, m_verticalAngle, -90.0f, 90.0f);
    dx.Text(m_saveDirEdit, m_saveDir);
    dx.Text(m_frameEdit, m_frameNumber);
    if (m_horizontalEdit->text() == FormatFloatField(horizontal)) m_horizontalAngle = horizontal;
    if (m_verticalEdit->text() == FormatFloatField(vertical)) m_verticalAngle = vertical;
    return dx.Ok();
}

void CCube2DomePage::ApplySettings(const Cube2DomeSettings& settings)
{
    m_verticalAngle = settings.verticalAngle;
    m_saveDir = QString::fromStdString(settings.saveDir);
    m_outputPrefix = QString::fromStdString(settings.outputPrefix);
    m_serialDigits = settings.serialDigits;
    m_outputFormat = QString::fromStdString(settings.outputFormat);
    m_faceCount = settings.faceCount;
    m_fromFrame = static_cast<int>(settings.fromFrame);
    m_toFrame = static_cast<int>(settings.toFrame);
    m_outputWidth = settings.outputWidth;
    // The lists are immutable and shared: a job that runs keeps the ones it began with.
    m_faceLists = settings.faceList;

    {
        const QSignalBlocker quietFrame(m_frameSlider);
        const QSignalBlocker quietVertical(m_verticalSlider);
        m_frameSlider->setRange(0, std::max(0, m_toFrame - m_fromFrame));
        m_frameSlider->setValue(0);
        m_verticalSlider->setValue(SliderFromVerticalAngle(m_verticalAngle));
    }
    m_frameNumber = m_fromFrame;
    UpdateData(false);
    LoadPreviewFaces(m_frameNumber - 1, m_faceCount);

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
    // A second job never starts while one runs: Begin waits for its end.
    if (!m_job.IsRunning()) m_beginButton->setEnabled(true);
}

void CCube2DomePage::LoadPreviewFaces(int frameIndex, int count)
{
    count = std::clamp(count, 0, kCubeFaceCount);
    for (int k = 0; k < count; ++k) {
        const FaceFrameListPtr& list = m_faceLists[k];
        if (!list || frameIndex < 0 || list->Count() < static_cast<std::size_t>(frameIndex) + 1) {
            m_scratchFace.Release();
            m_previewFaces[k].Release();
            m_panes[k]->update();
            continue;
        }
        // A face that cannot be read shows black: the scaled face is made
        // zeroed and nothing is resampled into it.
        m_scratchFace.Load(list->At(static_cast<std::size_t>(frameIndex)));
        m_faceSize = m_scratchFace.IsEmpty() ? 0 : m_scratchFace.GetWidth();
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
        m_panes[k]->update();
    }
}

bool CCube2DomePage::RenderDomePreview()
{
    UpdateData(false);
    if (!m_faceLists[Left] || !m_directions) return true;
    const DirectionArray tilted = m_projector.RotateAboutX(m_directions.get(), kPreviewDomeSize, m_verticalAngle);
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
    std::unique_ptr<CImageBuffer> dome =
        m_projector.RenderCubeDome(m_previewFaces, kPreviewFaceSize, m_previewMap.get(), kPreviewDomeSize);
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
        m_verticalAngle = VerticalAngleFromSlider(position);
        RenderDomePreview();
        break;
    case Slider::Frame:
        ShowFrame(position);
        break;
    }
}

void CCube2DomePage::ShowFrame(int position)
{
    m_frameNumber = position + m_fromFrame;
    m_frameEdit->setText(QString::number(m_frameNumber));
    if (!m_faceLists[Left]) return;
    LoadPreviewFaces(m_frameNumber - 1, m_faceCount);
    RenderDomeWithCurrentMap();
}

void CCube2DomePage::OnFovEdited()
{
    // The prompt for a bad field of view comes when the user leaves the field.
    if (!Save(true)) return;
    if (TakeFovOver()) RenderDomePreview();
}

void CCube2DomePage::OnSaveDirectory()
{
    const QString folder = BrowseForFolder(this, m_saveDir);
    if (folder.isEmpty()) return;
    m_saveDir = folder;
    m_saveDirEdit->setText(m_saveDir);
}

void CCube2DomePage::OnBegin()
{
    if (m_job.IsRunning()) return;
    if (!m_faceLists[Left] || m_faceLists[Left]->Count() == 0) return;
    // What was typed counts, and a bad value is refused before anything starts.
    if (!Save(true)) return;
    if (TakeFovOver()) RenderDomePreview();

    CCube2DomeJob job;
    job.fromFrame = m_fromFrame;
    job.toFrame = m_toFrame;
    job.outputSize = static_cast<int>(std::min(m_outputWidth, static_cast<unsigned>(kMaxImageSide) + 1));
    job.serialDigits = m_serialDigits;
    job.faceCount = m_faceCount;
    job.fov = static_cast<int>(m_fov);
    job.verticalAngle = m_verticalAngle;
    job.horizontalAngle = m_horizontalAngle;
    job.saveDir = m_saveDir.toStdString();
    job.outputFormat = m_outputFormat.toStdString();
    job.outputPrefix = m_outputPrefix.toStdString();
    job.faceLists = m_faceLists;

    m_observer->Attach();
    if (!BeginCube2DomeJob(m_job, job, *m_observer, *m_reporter)) return;
    SetButtons(false, true, false, true);
}

void CCube2DomePage::OnPause()
{
    if (!m_job.IsRunning()) return;
    m_job.Suspend();
    m_continueButton->setEnabled(true);
    m_pauseButton->setEnabled(false);
}

void CCube2DomePage::OnContinue()
{
    if (!m_job.IsRunning()) return;
    m_continueButton->setEnabled(false);
    m_pauseButton->setEnabled(true);
    m_job.Resume();
}

void CCube2DomePage::OnStop()
{
    if (!m_job.IsRunning()) return;
    const CJobControl::StopResult result = m_job.Stop([this] {
        return ShowMessageBox(this, kStopQuestion, kStopTitle, MessageIcon::None, MessageButtons::YesNo) ==
               MessageAnswer::Yes;
    });
    if (result == CJobControl::StopResult::Stopping) m_stopButton->setEnabled(false);
}

void CCube2DomePage::OnProgress(qint64 position)
{
    const int i = static_cast<int>(std::clamp<qint64>(position, 0, m_frameSlider->maximum()));
    {
        const QSignalBlocker quiet(m_frameSlider);
        m_frameSlider->setValue(i);
    }
    ShowFrame(static_cast<int>(position));
}

void CCube2DomePage::OnJobEnd(JobEnd end, const QString& reason)
{
    m_job.Join();
    SetButtons(true, false, false, false);
    QString text;
    switch (end) {
    case JobEnd::Finished: text = QString::fromLatin1(cube2dome_text::kFinished); break;
    case JobEnd::Stopped: text = QString::fromLatin1(cube2dome_text::kStopped); break;
    case JobEnd::Failed:
        text = QString::fromLatin1(cube2dome_text::kFailed);
        if (!reason.isEmpty()) text += QStringLiteral("\n\n") + reason;
        break;
    }
    ShowMessageBox(this, text, QString(), MessageIcon::Information);
    Q_EMIT JobEnded(end);
}

void CCube2DomePage::SetButtons(bool begin, bool pause, bool resume, bool stop)
{
    m_beginButton->setEnabled(begin);
    m_pauseButton->setEnabled(pause);
    m_continueButton->setEnabled(resume);
    m_stopButton->setEnabled(stop);
}

}  // namespace skelvane
