// "Standard video setting": key frame placement, quality, single- or
// multi-pass encoding, and the format (codec, profile, alpha) of the videos.
//
// A modeless dialog made once by the main window and hidden between uses. OK
// reads the controls (an interval that is not an unsigned number is refused
// with the framework prompt), writes the encoder settings the next video job
// reads, and hides; Cancel only hides, so the controls keep what the user set
// and a later OK applies it. Choosing a codec lists its profiles (the default
// first) and leaves on only the choices that shape it: quality and passes for
// H.264 and HEVC, key frames for those and FFV1, alpha for ProRes 4444 and
// FFV1 (HAP Alpha always keeps it).
#pragma once

#include <QDialog>

#include "pano2dome/VideoEncoderSettings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace skelvane {

class CVideoSettingDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kLeastPosition = 1;
    static constexpr int kBestPosition = 42;

    // `settings` receives the choices on OK and must outlive the dialog.
    CVideoSettingDlg(VideoEncoderSettings& settings, QWidget* parent = nullptr);

    bool UpdateData(bool saveAndValidate);

    // The controls, for the people and tests that drive them.
    QRadioButton* AutomaticRadio() const { return m_automaticRadio; }
    QRadioButton* EveryRadio() const { return m_everyRadio; }
    QRadioButton* AllRadio() const { return m_allRadio; }
    QLineEdit* IntervalEdit() const { return m_intervalEdit; }
    QSlider* QualitySlider() const { return m_qualitySlider; }
    QRadioButton* MultiPassRadio() const { return m_multiPassRadio; }
    QRadioButton* SinglePassRadio() const { return m_singlePassRadio; }
    QComboBox* CodecCombo() const { return m_codecCombo; }
    QComboBox* ProfileCombo() const { return m_profileCombo; }
    QCheckBox* AlphaCheck() const { return m_alphaCheck; }
    QPushButton* OkButton() const { return m_okButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }

public Q_SLOTS:
    void accept() override;
    void reject() override;

Q_SIGNALS:
    // OK wrote the settings.
    void SettingsApplied();

private:
    VideoStream ChosenStream() const;
    void OnCodecChosen();
    void UpdateFormatEnabling();

    VideoEncoderSettings& m_settings;

    int m_quality = 1;
    int m_keyFrameChoice = VideoEncoderSettings::kKeyFramesEvery;
    int m_encodingChoice = 1;  // 0 multi-pass, 1 single-pass
    unsigned m_everyFrames = 24;

    QButtonGroup* m_keyFrameGroup;
    QButtonGroup* m_encodingGroup;
    QRadioButton* m_automaticRadio;
    QRadioButton* m_everyRadio;
    QRadioButton* m_allRadio;
    QLineEdit* m_intervalEdit;
    QSlider* m_qualitySlider;
    QRadioButton* m_multiPassRadio;
    QRadioButton* m_singlePassRadio;
    QComboBox* m_codecCombo;
    QComboBox* m_profileCombo;
    QCheckBox* m_alphaCheck;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};

}  // namespace skelvane
