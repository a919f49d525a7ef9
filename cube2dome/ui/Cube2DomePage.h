// The Cube2Dome tab: the six faces of the shown frame, a live preview of the
// dome, the view (pan, tilt, field of view), the frame slider, the save
// folder, and the batch render with Begin, Pause, Continue and Stop.
//
// The previews work small: faces scaled to 148 x 148, the dome 298 x 298.
// Preview geometry is staged as the projector offers it: the fisheye
// directions stay until the field of view changes, a change of pan or tilt
// costs two rotations and one face mapping, and stepping through frames
// reuses the map as it is.
//
// The page holds the settings last applied; its vertical angle and save folder
// follow the page's own controls. Begin makes the job from them and the view
// (MakeCube2DomeJob), and the job runs on a worker from that copy, so the
// settings dialog can be used meanwhile. Each written frame is reported
// synchronously: the worker waits while the page moves the frame slider and
// shows that frame. Begin, Pause, Continue and Stop are those of
// ui/JobButtons.h; Begin is enabled once settings were applied.
//
// The page always shows what is being rendered: while a render runs (or is
// paused) the view sliders, the frame slider, the field of view and "Save
// Directory..." are disabled, and settings accepted meanwhile wait, with a
// note on the page, until the render has ended. Under the faces the page
// says how far the render is: frame x of y written and the time left.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include <QString>

#include "cube2dome/Cube2DomeJob.h"
#include "cube2dome/Cube2DomeSettings.h"
#include "engine/image/ImageBuffer.h"
#include "engine/jobs/JobControl.h"
#include "engine/projection/CubeDomeProjector.h"
#include "pano2dome/VideoEncoderSettings.h"
#include "ui/DomePage.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace skelvane {

class CCube2DomeSettingDlg;
class CFieldExchange;
class CJobButtons;
class CPreviewPane;
class CUiMessageReporter;

class CCube2DomePage final : public CDomePage {
    Q_OBJECT
public:
    static constexpr int kPreviewFaceSize = 148;
    static constexpr int kPreviewDomeSize = 298;
    static constexpr int kDomePane = 6;
    // Horizontal slider: 0..3600, 0.1 degree a step, 1800 = 0.
    static constexpr int kHorizontalSliderMax = 3600;
    static constexpr int kHorizontalSliderCentre = 1800;

    // `videoSettings` (owned by the main window, written by the video
    // settings dialog) encode a render chosen as one video; it must outlive
    // the page.
    explicit CCube2DomePage(const VideoEncoderSettings& videoSettings = DefaultVideoSettings(),
                            QWidget* parent = nullptr);
    ~CCube2DomePage() override;

    // CDomePage
    bool IsJobRunning() const override;
    void StopJobForClose() override;
    void SuspendJob() override;
    void ResumeJob() override;
    bool ShowSettingsDialog() override;

    // Members <-> controls; saving shows the framework prompt on a bad field.
    bool UpdateData(bool saveAndValidate);

    // Takes accepted settings over and shows their first frame.
    void ApplySettings(const Cube2DomeSettings& settings);

    CCube2DomeSettingDlg* SettingsDlg() const { return m_settingsDlg; }

    // What the page holds, for tests and pictures.
    float HorizontalAngle() const { return m_horizontalAngle; }
    float VerticalAngle() const { return m_settings.verticalAngle; }
    unsigned Fov() const { return m_fov; }
    int FrameNumber() const { return m_frameNumber; }
    QString SaveDir() const { return QString::fromStdString(m_settings.saveDir); }
    const CImageBuffer& PreviewFace(int k) const { return m_previewFaces[k]; }
    const CImageBuffer& DomePreview() const { return m_domePreview; }
    bool JobPaused() const;

    // The controls.
    CPreviewPane* Pane(int k) const { return m_panes[k]; }
    QSlider* HorizontalSlider() const { return m_horizontalSlider; }
    QSlider* VerticalSlider() const { return m_verticalSlider; }
    QSlider* FrameSlider() const { return m_frameSlider; }
    QLineEdit* HorizontalEdit() const { return m_horizontalEdit; }
    QLineEdit* VerticalEdit() const { return m_verticalEdit; }
    QLineEdit* FovEdit() const { return m_fovEdit; }
    QLineEdit* FrameEdit() const { return m_frameEdit; }
    QLineEdit* SaveDirEdit() const { return m_saveDirEdit; }
    QPushButton* SaveDirButton() const { return m_saveDirButton; }
    QPushButton* BeginButton() const { return m_beginButton; }
    QPushButton* PauseButton() const { return m_pauseButton; }
    QPushButton* ContinueButton() const { return m_continueButton; }
    QPushButton* StopButton() const { return m_stopButton; }
    QLabel* PendingNote() const { return m_pendingNote; }
    QLabel* ProgressLabel() const { return m_progressLabel; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // A job ended and its end message was shown.
    void JobEnded(skelvane::JobEnd end);

private:
    enum class Slider { Horizontal, Vertical, Frame };

    void Exchange(CFieldExchange& dx);
    bool Save(bool prompts);
    void OnSlider(Slider slider, int position);
    void OnSaveDirectory();
    void OnBegin();
    void OnProgress(qint64 position);
    // "Frame 3 of 120 written, 0:42 left" under the faces.
    void ShowProgress(std::int64_t written);
    void OnSettingsAccepted();
    void OnJobEnded();
    void EnableViewControls(bool enable);

    void LoadPreviewFaces(int frameIndex, int count);
    // Loads a face into the scratch image; what the page says when it cannot
    // (empty when it could).
    QString LoadFace(const std::filesystem::path& file);
    // Rotations and face map for the current view, then the dome. False when
    // a step could not be built.
    bool RenderDomePreview();
    // The dome again through the map as it is (frames change, the view not).
    void RenderDomeWithCurrentMap();
    void DrawPreviewPane(int k);
    bool TakeFovOver();
    void ShowFrame(int position);
    bool HasFaces() const { return static_cast<bool>(m_settings.faceList[Left]); }

    // Settings last applied, with the page's vertical angle and save folder,
    // and those accepted during a render, applied at its end.
    const VideoEncoderSettings& m_videoSettings;
    Cube2DomeSettings m_settings;
    std::optional<Cube2DomeSettings> m_pendingSettings;

    // The rest of the view, and the frame shown.
    unsigned m_fov = 180;
    float m_horizontalAngle = 0.0f;
    int m_frameNumber = 0;

    // Out of memory and the worker's messages, as boxes on the ui thread.
    std::unique_ptr<CUiMessageReporter> m_reporter;

    // Preview.
    CCubeDomeProjector m_projector;
    CubeFaces m_previewFaces;
    CImageBuffer m_scratchFace;
    CImageBuffer m_domePreview;
    DirectionArray m_directions;
    unsigned m_directionsFov = 180;
    FaceMap m_previewMap;

    CJobButtons* m_jobButtons;

    CCube2DomeSettingDlg* m_settingsDlg;
    std::array<CPreviewPane*, kCubeFaceCount + 1> m_panes{};
    QSlider* m_horizontalSlider;
    QSlider* m_verticalSlider;
    QSlider* m_frameSlider;
    QLineEdit* m_horizontalEdit;
    QLineEdit* m_verticalEdit;
    QLineEdit* m_fovEdit;
    QLineEdit* m_frameEdit;
    QLineEdit* m_saveDirEdit;
    QPushButton* m_saveDirButton;
    QPushButton* m_beginButton;
    QPushButton* m_pauseButton;
    QPushButton* m_continueButton;
    QPushButton* m_stopButton;
    QLabel* m_pendingNote;
    QLabel* m_progressLabel;
    std::int64_t m_jobFrames = 0;
};

}  // namespace skelvane
