// The Pano2Dome tab: one equirectangular panorama, its 598 x 298 preview and
// a live 298 x 298 dome preview, the view (pan and tilt on sliders, the field
// of view typed), the output (size, mode, timing, target) and the render job
// with Begin, Pause, Continue and Stop.
//
// The dome preview renders from a pano map of the small panorama: the map
// holds the field of view and the tilt, the pan is a shift at render time, so
// dragging the horizontal slider costs one render and no trigonometry; the
// vertical slider rebuilds the map. A field of view typed into its field
// takes effect at the next slider movement, at Open Image and in the job.
// With "Sharp (full panorama)" chosen the preview is what a sharp sweep
// writes: the full panorama through a sharp map, the image mode's dome.
//
// Output modes and what they enable:
//             duration  frame rate  format  from  to    sharp  depth  target
//   Image     off       off         off     off   off   off    on     an image file
//   Frame     on        on          on      on    on    on     on     a folder (frames 0000.jpg, ...)
//   Video     on        on          off     on    on    on     off    an .avi or .mov file
// (in Video mode the dither stays: deep domes go into an 8-bit stream through it)
// The depth list offers what the image's or the frames' format writes
// (ui/ImageDepthChoice.h); Begin refuses a depth the format lacks as the
// command line does.
//
// The page holds every value a job reads in a job block of its own; Begin
// copies it, adds the video encoder settings, and the job runs on a worker
// from that copy while the progress bar follows its frames. Begin, Pause,
// Continue and Stop are those of ui/JobButtons.h. While a job runs, every
// control of what the job reads is disabled (Open Image, the input path, the
// output width, the modes, format, duration, frame rate, from, to, Save to,
// the field of view, the sharp choice, depth and dither); its end gives back exactly what the
// current mode enables. The view sliders stay: they only turn the preview. A
// page destroyed during a job stops it and joins it first.
#pragma once

#include <filesystem>
#include <memory>

#include <QString>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/JobControl.h"
#include "engine/projection/PanoDomeProjector.h"
#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/VideoEncoderSettings.h"
#include "ui/DomePage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;

namespace skelvane {

class CFieldExchange;
class CImageDepthChoice;
class CJobButtons;
class CPreviewPane;
class CUiMessageReporter;

namespace pano2dome_page_text {
inline constexpr const char* kOpenTitle = "select an image";
inline constexpr const char* kSaveImageTitle = "Save Image";
inline constexpr const char* kSaveVideoTitle = "Save Video";
inline constexpr const char* kStopQuestion = "The task is not finish, stop it anyway? ";
inline constexpr const char* kStopTitle = "Warning!";
}  // namespace pano2dome_page_text

// Slider positions to angles: 0.1 degree a step, 1800 and 900 the centres.
float HorizontalAngleFromPanoSlider(int position);
float VerticalAngleFromPanoSlider(int position);

class CPano2DomePage final : public CDomePage {
    Q_OBJECT
public:
    static constexpr int kPreviewPanoWidth = 598;
    static constexpr int kPreviewPanoHeight = 298;
    static constexpr int kPreviewDomeSize = 298;
    static constexpr int kHorizontalSliderMax = 3600;
    static constexpr int kHorizontalSliderStart = 1800;
    static constexpr int kVerticalSliderMax = 1800;
    static constexpr int kVerticalSliderStart = 1500;
    enum Mode { kImageMode = 0, kFrameMode = 1, kVideoMode = 2 };

    // `videoSettings` (owned by the main window, written by the video
    // settings dialog) must outlive the page; a job copies it at Begin.
    explicit CPano2DomePage(const VideoEncoderSettings& videoSettings, QWidget* parent = nullptr);
    ~CPano2DomePage() override;

    // CDomePage
    bool IsJobRunning() const override;
    void StopJobForClose() override;
    void SuspendJob() override;
    void ResumeJob() override;
    bool ShowSettingsDialog() override { return false; }

    // The job Begin would start, from the fields as they stand.
    CPano2DomeJob MakeJob() const;

    // Members <-> controls; saving shows the framework prompt on a bad field
    // and leaves the later members as they were.
    bool UpdateData(bool saveAndValidate);

    // Loads a panorama as Open Image does after its dialog: sizes, proposed
    // output size and previews; a file that cannot be read is reported and
    // leaves the page without a panorama.
    void LoadPanorama(const QString& path);

    // What the page holds, for tests and pictures.
    const CImageBuffer& Panorama() const;
    const CImageBuffer& PreviewPanorama() const { return m_previewPanorama; }
    const CImageBuffer& PreviewDome() const { return m_previewDome; }
    int Mode() const { return m_settings.mode; }
    int OutputWidth() const { return m_settings.outputWidth; }
    int OutputHeight() const { return m_outputHeight; }
    int InputWidth() const { return m_inputWidth; }
    int InputHeight() const { return m_inputHeight; }
    unsigned Fov() const { return m_settings.fov; }
    float HorizontalAngle() const { return m_settings.horizontalAngle; }
    float VerticalAngle() const { return m_settings.verticalAngle; }
    QString InputPath() const { return m_inputPath; }
    QString SavePath() const { return m_savePath; }
    QString ImagePath() const;
    QString FrameDir() const;
    QString VideoPath() const;
    QString FrameFormat() const { return QString::fromStdString(m_settings.frameFormat); }
    bool JobPaused() const;

    // The controls.
    QProgressBar* ProgressBar() const { return m_progress; }
    QComboBox* FormatCombo() const { return m_formatCombo; }
    QSlider* HorizontalSlider() const { return m_horizontalSlider; }
    QSlider* VerticalSlider() const { return m_verticalSlider; }
    QLineEdit* FovEdit() const { return m_fovEdit; }
    QLineEdit* HorizontalEdit() const { return m_horizontalEdit; }
    QLineEdit* VerticalEdit() const { return m_verticalEdit; }
    QLineEdit* InputWidthEdit() const { return m_inputWidthEdit; }
    QLineEdit* InputHeightEdit() const { return m_inputHeightEdit; }
    QLineEdit* OutputWidthEdit() const { return m_outputWidthEdit; }
    QLineEdit* OutputHeightEdit() const { return m_outputHeightEdit; }
    QLineEdit* InputPathEdit() const { return m_inputPathEdit; }
    QLineEdit* SavePathEdit() const { return m_savePathEdit; }
    QLineEdit* FrameRateEdit() const { return m_frameRateEdit; }
    QLineEdit* DurationEdit() const { return m_durationEdit; }
    QLineEdit* FromEdit() const { return m_fromEdit; }
    QLineEdit* ToEdit() const { return m_toEdit; }
    QRadioButton* ImageRadio() const { return m_imageRadio; }
    QRadioButton* FrameRadio() const { return m_frameRadio; }
    QRadioButton* VideoRadio() const { return m_videoRadio; }
    QCheckBox* SharpCheck() const { return m_sharpCheck; }
    QComboBox* SupersampleCombo() const { return m_supersampleCombo; }
    QComboBox* DepthCombo() const;
    QComboBox* DitherCombo() const;
    CPreviewPane* PanoramaPane() const { return m_panoramaPane; }
    CPreviewPane* DomePane() const { return m_domePane; }
    QPushButton* OpenButton() const { return m_openButton; }
    QPushButton* SaveToButton() const { return m_saveToButton; }
    QPushButton* BeginButton() const { return m_beginButton; }
    QPushButton* PauseButton() const { return m_pauseButton; }
    QPushButton* ContinueButton() const { return m_continueButton; }
    QPushButton* StopButton() const { return m_stopButton; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // A job ended and its end message was shown.
    void JobEnded(skelvane::JobEnd end);

private:
    enum class Slider { Horizontal, Vertical };

    void BuildControls();
    bool Exchange(bool saving, bool prompts);
    void Exchange(CFieldExchange& dx);
    void OnOpenImage();
    void OnOutputWidthChanged();
    void OnSaveTo();
    void OnMode(int mode);
    void OnSharp(bool sharp);
    void OnSlider(Slider slider, int position);
    void OnBegin();
    // Never over the panorama's own file; over frames that exist only when
    // the user says so.
    bool MayWriteTargets(const CPano2DomeJob& job);
    void OnProgress(qint64 position);
    void OnJobEnded();

    void ClearPanorama();
    void RebuildPreviewMap();
    void RenderPreviewDome();
    void EnableModeFields(int mode);
    // The depths the target of `mode` can be written at.
    void OfferDepthsOfTarget(int mode);
    void EnableJobFields(bool enable);
    QString DefaultFolder(const QString& path) const;
    // The target of `mode` (image file, frame folder or video file).
    std::string& TargetOf(int mode);

    const VideoEncoderSettings& m_videoSettings;

    // What the next job reads (the panorama is shared with a running job,
    // which never modifies it), but the video encoder settings.
    CPano2DomeJob m_settings;

    // Shown beside them; m_savePath is the current mode's target.
    int m_inputHeight = 0;
    int m_outputHeight = 0;
    QString m_inputPath;
    QString m_savePath;
    int m_inputWidth = 0;

    std::filesystem::path m_panoramaFile;  // where the panorama came from

    CImageBuffer m_previewPanorama;
    CImageBuffer m_previewDome;
    PanoMap m_previewMap;  // a sharp map of the full panorama when the sweep is sharp
    unsigned m_previewMapFov = 180;

    // Out of memory and the worker's messages, as boxes on the ui thread.
    std::unique_ptr<CUiMessageReporter> m_reporter;
    CPanoDomeProjector m_projector;

    class ProgressPoster;
    CJobButtons* m_jobButtons = nullptr;
    std::unique_ptr<ProgressPoster> m_progressPoster;

    QProgressBar* m_progress = nullptr;
    QComboBox* m_formatCombo = nullptr;
    QSlider* m_verticalSlider = nullptr;
    QSlider* m_horizontalSlider = nullptr;
    QLineEdit* m_fovEdit = nullptr;
    QLineEdit* m_horizontalEdit = nullptr;
    QLineEdit* m_verticalEdit = nullptr;
    QLineEdit* m_inputHeightEdit = nullptr;
    QLineEdit* m_outputHeightEdit = nullptr;
    QLineEdit* m_inputPathEdit = nullptr;
    QLineEdit* m_savePathEdit = nullptr;
    QLineEdit* m_inputWidthEdit = nullptr;
    QLineEdit* m_outputWidthEdit = nullptr;
    QLineEdit* m_frameRateEdit = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QRadioButton* m_imageRadio = nullptr;
    QRadioButton* m_frameRadio = nullptr;
    QRadioButton* m_videoRadio = nullptr;
    QCheckBox* m_sharpCheck = nullptr;
    QComboBox* m_supersampleCombo = nullptr;
    CImageDepthChoice* m_depthChoice = nullptr;
    QLineEdit* m_fromEdit = nullptr;
    QLineEdit* m_toEdit = nullptr;
    QLineEdit* m_durationEdit = nullptr;
    CPreviewPane* m_panoramaPane = nullptr;
    CPreviewPane* m_domePane = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_saveToButton = nullptr;
    QPushButton* m_beginButton = nullptr;
    QPushButton* m_pauseButton = nullptr;
    QPushButton* m_continueButton = nullptr;
    QPushButton* m_stopButton = nullptr;
};

}  // namespace skelvane
