// "Cube2Dome Setting": the face folders (or one upper folder holding them),
// input and output formats, frame selection, output naming, size and depth, the
// vertical view angle and the save folder of a Cube2Dome render.
//
// The dialog is the face of Cube2DomeSettings: every field it shows is a
// field of the settings and every rule (listing, upper folder, frames,
// resolution, angle mapping, the Accept checks) lives there. It is modeless,
// made once by the Cube2Dome page and hidden between uses; Accept checks the
// settings and, when they pass, hides and hands them to the page
// (SettingsAccepted); Cancel only hides, keeping every value for next time.
//
// The depth and dither of the dome images offer only the depths the output
// format writes (ui/ImageDepthChoice.h); Accept refuses one the format lacks
// with the command line's reason.
//
// The Video row chooses one video of the frames instead of numbered images:
// its file (the Save dialog offers the containers of the codec chosen in the
// video settings) and its frame rate (25, 29.97, 30000/1001, ...); while it is
// on, the file name choices and the depth, which a video does not use, are
// off (the dither stays: it rounds deep domes into an 8-bit stream).
//
// Typing in a face path field lists that folder again, but only once the
// typing pauses (kPathEditDelayMs), so a slow or large folder never makes
// each keystroke wait; Accept and the folder buttons take a pending edit over
// first.
#pragma once

#include <array>

#include <QDialog>
#include <QString>

#include "cube2dome/Cube2DomeSettings.h"
#include "pano2dome/VideoEncoderSettings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace skelvane {

class CFieldExchange;
class CImageDepthChoice;

class CCube2DomeSettingDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPathEditDelayMs = 300;
    // Ids of the frame mode radios.
    static constexpr int kSingleFrame = 0;
    static constexpr int kFrameRange = 1;
    static constexpr int kAllFrames = 2;

    // `videoSettings` give the codec whose containers the Save dialog offers;
    // they must outlive the dialog.
    explicit CCube2DomeSettingDlg(const VideoEncoderSettings& videoSettings = DefaultVideoSettings(),
                                  QWidget* parent = nullptr);
    ~CCube2DomeSettingDlg() override;

    // Fields <-> controls. Saving with prompts stops at the first bad field.
    bool UpdateData(bool saveAndValidate);

    // What the menu command does before showing the dialog: the page's view
    // angle and save folder become the dialog's, the slider follows.
    void TakeViewOver(float verticalAngle, const QString& saveDir);

    // The settings as the dialog holds them (Accept resolves the frames).
    const Cube2DomeSettings& Settings() const { return m_settings; }

    // Lists the folders of path fields typed in since the last listing now.
    void FlushPathEdits();

    // The controls, for people and tests that drive them.
    QComboBox* FacesCombo() const { return m_facesCombo; }
    QComboBox* InputFormatCombo() const { return m_inputFormatCombo; }
    QLineEdit* UpperDirEdit() const { return m_upperDirEdit; }
    QPushButton* UpperDirButton() const { return m_upperDirButton; }
    QRadioButton* FaceRadio(int k) const { return m_faceRadios[k]; }
    QLineEdit* FacePathEdit(int k) const { return m_facePathEdits[k]; }
    QPushButton* FaceButton(int k) const { return m_faceButtons[k]; }
    QListWidget* FileList() const { return m_fileList; }
    QCheckBox* IgnoreCheck() const { return m_ignoreCheck; }
    QLineEdit* FacePrefixEdit(int k) const { return m_facePrefixEdits[k]; }
    QComboBox* FaceSerialCombo(int k) const { return m_faceSerialCombos[k]; }
    QLabel* InfoWidth() const { return m_infoWidth; }
    QLabel* InfoHeight() const { return m_infoHeight; }
    QLabel* InfoCount() const { return m_infoCount; }
    QLineEdit* OutputPrefixEdit() const { return m_outputPrefixEdit; }
    QComboBox* SerialCombo() const { return m_serialCombo; }
    QComboBox* OutputFormatCombo() const { return m_outputFormatCombo; }
    QComboBox* DepthCombo() const;
    QComboBox* DitherCombo() const;
    QComboBox* FilterCombo() const { return m_filterCombo; }
    QComboBox* SupersampleCombo() const { return m_supersampleCombo; }
    QRadioButton* FrameModeRadio(int mode) const { return m_frameModeRadios[mode]; }
    QLineEdit* SingleFrameEdit() const { return m_singleFrameEdit; }
    QLineEdit* FromFrameEdit() const { return m_fromFrameEdit; }
    QLineEdit* ToFrameEdit() const { return m_toFrameEdit; }
    QLineEdit* WidthEdit() const { return m_widthEdit; }
    QLineEdit* HeightEdit() const { return m_heightEdit; }
    QLineEdit* AngleEdit() const { return m_angleEdit; }
    QSlider* AngleSlider() const { return m_angleSlider; }
    QLineEdit* SaveDirEdit() const { return m_saveDirEdit; }
    QPushButton* SaveDirButton() const { return m_saveDirButton; }
    QCheckBox* VideoCheck() const { return m_videoCheck; }
    QLineEdit* VideoPathEdit() const { return m_videoPathEdit; }
    QPushButton* VideoButton() const { return m_videoButton; }
    QLineEdit* FrameRateEdit() const { return m_frameRateEdit; }
    QPushButton* AcceptButton() const { return m_acceptButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }

public Q_SLOTS:
    void accept() override;  // "Accept"
    void reject() override;  // "Cancel", or the window closed

Q_SIGNALS:
    // Accept passed its checks; Settings() holds what the page applies.
    void SettingsAccepted();

private:
    enum class Exchange { Prompt, Silent };
    bool Save(Exchange mode);
    void Show();
    void ExchangeFields(CFieldExchange& dx);
    void ShowText(QLineEdit* edit, const QString& text);

    void OnUpperDirBrowse();
    void OnFaceBrowse(int k);
    void OnFacePathEdited(int k);
    void OnFaceRadio(int k);
    void OnFacesChanged(int index);
    void OnInputFormatChanged(int index);
    void OnWidthEdited();
    void OnAngleSlider(int position);
    void OnFrameMode(int mode);
    void OnSaveDirBrowse();
    void OnVideoBrowse();
    void UpdateVideoEnabling();

    void UpdateInfo();
    void FillFileList(int k);
    void ShowUpperDirFaces();
    void UpdateBottomAndCheckEnabling();
    void UpdateFrameFieldEnabling();

    const VideoEncoderSettings& m_videoSettings;
    Cube2DomeSettings m_settings;
    unsigned m_pendingPathEdits = 0;  // one bit per face
    QTimer* m_pathEditTimer;

    QComboBox* m_facesCombo;
    QComboBox* m_inputFormatCombo;
    QLineEdit* m_upperDirEdit;
    QPushButton* m_upperDirButton;
    QButtonGroup* m_faceGroup;
    std::array<QRadioButton*, kCubeFaceCount> m_faceRadios{};
    std::array<QLineEdit*, kCubeFaceCount> m_facePathEdits{};
    std::array<QPushButton*, kCubeFaceCount> m_faceButtons{};
    QListWidget* m_fileList;
    QCheckBox* m_ignoreCheck;
    std::array<QLineEdit*, kCubeFaceCount> m_facePrefixEdits{};
    std::array<QComboBox*, kCubeFaceCount> m_faceSerialCombos{};
    QLabel* m_infoWidth;
    QLabel* m_infoHeight;
    QLabel* m_infoCount;
    QLineEdit* m_outputPrefixEdit;
    QComboBox* m_serialCombo;
    QComboBox* m_outputFormatCombo;
    CImageDepthChoice* m_depthChoice;
    QComboBox* m_filterCombo;
    QComboBox* m_supersampleCombo;
    QButtonGroup* m_frameModeGroup;
    std::array<QRadioButton*, 3> m_frameModeRadios{};
    QLineEdit* m_singleFrameEdit;
    QLineEdit* m_fromFrameEdit;
    QLineEdit* m_toFrameEdit;
    QLineEdit* m_widthEdit;
    QLineEdit* m_heightEdit;
    QLineEdit* m_angleEdit;
    QSlider* m_angleSlider;
    QLineEdit* m_saveDirEdit;
    QPushButton* m_saveDirButton;
    QCheckBox* m_videoCheck;
    QLineEdit* m_videoPathEdit;
    QPushButton* m_videoButton;
    QLineEdit* m_frameRateEdit;
    QPushButton* m_acceptButton;
    QPushButton* m_cancelButton;
};

}  // namespace skelvane
