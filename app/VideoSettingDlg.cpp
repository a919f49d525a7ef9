#include "app/VideoSettingDlg.h"

#include <algorithm>
#include <span>
#include <string_view>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "ui/DialogUnits.h"
#include "ui/FieldExchange.h"

namespace skelvane {
namespace {

template <typename Control>
Control* Place(Control* control, int x, int y, int width, int height)
{
    PlaceControl(control, x, y, width, height);
    return control;
}

}  // namespace

CVideoSettingDlg::CVideoSettingDlg(VideoEncoderSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    setWindowTitle(QStringLiteral("Standard video setting"));
    setFixedSize(DialogSize(157, 262));

    // Group boxes first, so the controls inside them stay on top.
    Place(new QGroupBox(QStringLiteral("Key Frames"), this), 5, 5, 145, 60);
    Place(new QGroupBox(QStringLiteral("Quality"), this), 5, 70, 145, 45);
    Place(new QGroupBox(QStringLiteral("Encoding"), this), 5, 120, 145, 50);
    Place(new QGroupBox(QStringLiteral("Format"), this), 5, 175, 145, 62);

    m_automaticRadio = Place(new QRadioButton(QStringLiteral("Automatic"), this), 15, 20, 52, 10);
    m_everyRadio = Place(new QRadioButton(QStringLiteral("Every"), this), 15, 36, 36, 10);
    m_intervalEdit = Place(new QLineEdit(this), 51, 33, 30, 14);
    Place(new QLabel(QStringLiteral("frames"), this), 81, 36, 25, 8);
    m_allRadio = Place(new QRadioButton(QStringLiteral("All"), this), 15, 51, 28, 10);
    m_keyFrameGroup = new QButtonGroup(this);
    m_keyFrameGroup->addButton(m_automaticRadio, VideoEncoderSettings::kKeyFramesAutomatic);
    m_keyFrameGroup->addButton(m_everyRadio, VideoEncoderSettings::kKeyFramesEvery);
    m_keyFrameGroup->addButton(m_allRadio, VideoEncoderSettings::kKeyFramesAll);

    m_qualitySlider = Place(new QSlider(Qt::Horizontal, this), 10, 80, 135, 15);
    m_qualitySlider->setRange(kLeastPosition, kBestPosition);
    m_qualitySlider->setValue(kBestPosition);
    m_qualitySlider->setTickPosition(QSlider::TicksBelow);
    m_qualitySlider->setTickInterval(1);
    Place(new QLabel(QStringLiteral("Least"), this), 14, 97, 25, 8);
    Place(new QLabel(QStringLiteral("Best"), this), 127, 97, 20, 8);

    m_multiPassRadio = Place(new QRadioButton(QStringLiteral("Best quality(Multi-pass)"), this), 11, 135, 112, 10);
    m_singlePassRadio = Place(new QRadioButton(QStringLiteral("Faster encode(Single-pass)"), this), 11, 150, 120, 10);
    m_encodingGroup = new QButtonGroup(this);
    m_encodingGroup->addButton(m_multiPassRadio, 0);
    m_encodingGroup->addButton(m_singlePassRadio, 1);

    Place(new QLabel(QStringLiteral("Codec:"), this), 11, 190, 30, 8);
    m_codecCombo = Place(new QComboBox(this), 45, 188, 100, 13);
    for (VideoCodec codec : kVideoCodecs) {
        m_codecCombo->addItem(QString::fromLatin1(CodecTitle(codec).data(), static_cast<int>(CodecTitle(codec).size())));
    }
    Place(new QLabel(QStringLiteral("Profile:"), this), 11, 207, 30, 8);
    m_profileCombo = Place(new QComboBox(this), 45, 205, 100, 13);
    m_alphaCheck = Place(new QCheckBox(QStringLiteral("Keep alpha"), this), 11, 222, 100, 10);

    m_okButton = Place(new QPushButton(QStringLiteral("OK"), this), 80, 243, 30, 14);
    m_okButton->setDefault(true);
    m_cancelButton = Place(new QPushButton(QStringLiteral("Cancel"), this), 120, 243, 30, 14);
    connect(m_okButton, &QPushButton::clicked, this, &CVideoSettingDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CVideoSettingDlg::reject);
    connect(m_codecCombo, &QComboBox::currentIndexChanged, this, &CVideoSettingDlg::OnCodecChosen);
    connect(m_profileCombo, &QComboBox::currentIndexChanged, this, &CVideoSettingDlg::UpdateFormatEnabling);

    UpdateData(false);
    OnCodecChosen();
}

VideoStream CVideoSettingDlg::ChosenStream() const
{
    VideoStream stream;
    stream.codec = kVideoCodecs[std::max(0, m_codecCombo->currentIndex())];
    const std::span<const VideoProfile> profiles = ProfilesOf(stream.codec);
    if (!profiles.empty()) {
        stream.profile = profiles[std::max(0, m_profileCombo->currentIndex())];
    }
    // A box that is off asks for nothing, whatever it shows.
    stream.alpha = m_alphaCheck->isEnabled() && m_alphaCheck->isChecked();
    return stream;
}

void CVideoSettingDlg::OnCodecChosen()
{
    const VideoCodec codec = kVideoCodecs[std::max(0, m_codecCombo->currentIndex())];
    m_profileCombo->clear();
    for (VideoProfile profile : ProfilesOf(codec)) {
        const std::string_view title = ProfileTitle(profile);
        m_profileCombo->addItem(QString::fromLatin1(title.data(), static_cast<int>(title.size())));
    }
    m_profileCombo->setEnabled(m_profileCombo->count() > 0);
    UpdateFormatEnabling();
}

void CVideoSettingDlg::UpdateFormatEnabling()
{
    VideoStream stream = ChosenStream();
    const bool shaped = stream.codec == VideoCodec::H264 || stream.codec == VideoCodec::Hevc;
    const bool keyFrames = shaped || stream.codec == VideoCodec::Ffv1;
    for (QWidget* control : {static_cast<QWidget*>(m_automaticRadio), static_cast<QWidget*>(m_everyRadio),
                             static_cast<QWidget*>(m_allRadio), static_cast<QWidget*>(m_intervalEdit)}) {
        control->setEnabled(keyFrames);
    }
    m_qualitySlider->setEnabled(shaped);
    m_multiPassRadio->setEnabled(TakesTwoPasses(stream.codec));
    m_singlePassRadio->setEnabled(TakesTwoPasses(stream.codec));
    stream.alpha = true;
    const bool alwaysAlpha = ResolvedProfile(stream) == VideoProfile::HapAlpha;
    m_alphaCheck->setEnabled(!alwaysAlpha && StreamCarriesAlpha(stream));
    if (alwaysAlpha) m_alphaCheck->setChecked(true);
}

bool CVideoSettingDlg::UpdateData(bool saveAndValidate)
{
    CFieldExchange dx(this, saveAndValidate);
    dx.Radio(m_keyFrameGroup, m_keyFrameChoice);
    dx.Text(m_intervalEdit, m_everyFrames);
    dx.Radio(m_encodingGroup, m_encodingChoice);
    return dx.Ok();
}

void CVideoSettingDlg::accept()
{
    if (!UpdateData(true)) return;
    m_quality = kBestPosition + 1 - m_qualitySlider->value();
    m_settings.quality = m_quality;
    // The encoder takes an int; an interval beyond it would wrap negative.
    m_settings.keyFrameEvery = static_cast<int>(std::min<unsigned>(m_everyFrames, 0x7FFFFFFFu));
    m_settings.twoPass = m_encodingChoice == 0;
    m_settings.keyFrameMode = m_keyFrameChoice;
    m_settings.stream = ChosenStream();
    hide();
    Q_EMIT SettingsApplied();
}

void CVideoSettingDlg::reject()
{
    hide();
}

}  // namespace skelvane
