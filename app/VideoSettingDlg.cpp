#include "app/VideoSettingDlg.h"

#include <algorithm>

#include <QButtonGroup>
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
    setFixedSize(DialogSize(157, 194));

    // Group boxes first, so the controls inside them stay on top.
    Place(new QGroupBox(QStringLiteral("Key Frames"), this), 5, 5, 145, 60);
    Place(new QGroupBox(QStringLiteral("Quality"), this), 5, 70, 145, 45);
    Place(new QGroupBox(QStringLiteral("Encoding"), this), 5, 120, 145, 50);

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

    m_okButton = Place(new QPushButton(QStringLiteral("OK"), this), 80, 175, 30, 14);
    m_okButton->setDefault(true);
    m_cancelButton = Place(new QPushButton(QStringLiteral("Cancel"), this), 120, 175, 30, 14);
    connect(m_okButton, &QPushButton::clicked, this, &CVideoSettingDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CVideoSettingDlg::reject);

    UpdateData(false);
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
    hide();
    Q_EMIT SettingsApplied();
}

void CVideoSettingDlg::reject()
{
    hide();
}

}  // namespace skelvane
