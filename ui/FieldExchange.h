// Moving values between a window's members and its controls, with the range
// checks and prompts users of the classic dialog framework know.
//
// A window writes one exchange function listing its fields in order and runs
// it in either direction:
//
//     bool CMyPage::UpdateData(bool saveAndValidate)
//     {
//         CFieldExchange dx(this, saveAndValidate);
//         dx.Text(m_fovEdit, m_fov, 90u, 360u);
//         dx.Text(m_angleEdit, m_angle, -180.0f, 180.0f);
//         dx.Radio(m_modeGroup, m_mode);
//         return dx.Ok();
//     }
//
// Saving (controls to members) stops at the first bad field: it shows the
// framework prompt ("Please enter an integer between 90 and 360."), puts the
// focus into that field with its text selected and leaves every later member
// untouched; Ok() is then false. Loading (members to controls) never fails.
// Integers are whole decimal numbers with an optional sign, surrounding blanks
// allowed; numbers are anything a C locale reads as a float.
//
// Handlers that run at a high rate (a slider being dragged, every keystroke)
// save with Prompts::Silent: a bad field shows nothing, keeps its member's
// last good value and does not stop the later fields; Ok() still reports it,
// and FailureOf() tells the prompt a field would have had.
//
// A field checked when the focus leaves it: ui/FieldLeaveCheck.h.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "pano2dome/FrameRate.h"

class QAbstractSlider;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

namespace skelvane {

// The framework prompts, for callers that check a value themselves.
QString IntegerRangePrompt(long long min, long long max);
QString NumberRangePrompt(double min, double max);
QString IntegerPrompt();
QString NumberPrompt();
QString MaxCharsPrompt(int maxChars);
QString FrameRatePrompt();

// Text of a float field, as the exchange shows it (six significant digits).
QString FormatFloatField(double value);

// Prompts for a bad field: the box, then the focus back in the field with its
// text selected. The field remembers the text it was prompted for.
void PromptField(QWidget* owner, QLineEdit* edit, const QString& prompt);
// The field was last prompted for the text it holds now, and nothing was
// typed into it since.
bool WasPromptedFor(const QLineEdit* edit);

class CFieldExchange {
public:
    enum class Prompts { Show, Silent };

    // saveAndValidate: true reads the controls into the members.
    CFieldExchange(QWidget* owner, bool saveAndValidate, Prompts prompts = Prompts::Show);

    bool IsSaving() const { return m_saving; }
    // No field failed so far.
    bool Ok() const { return !m_failed; }
    // The prompt of `edit` when it failed (with Prompts::Show only the first
    // failure is known).
    std::optional<QString> FailureOf(const QLineEdit* edit) const;

    void Text(QLineEdit* edit, int& value);
    void Text(QLineEdit* edit, int& value, int min, int max);
    void Text(QLineEdit* edit, unsigned& value);
    void Text(QLineEdit* edit, unsigned& value, unsigned min, unsigned max);
    void Text(QLineEdit* edit, float& value);
    void Text(QLineEdit* edit, float& value, float min, float max);
    // Whole, decimal or a fraction: "25", "29.97", "30000/1001" (ParseFrameRate).
    void Text(QLineEdit* edit, FrameRate& value);
    // maxChars < 0: no limit.
    void Text(QLineEdit* edit, QString& value, int maxChars = -1);
    // Index of the checked button of the group (the button's id), -1 for none.
    void Radio(QButtonGroup* group, int& choice);
    void Check(QCheckBox* box, bool& value);
    // Index of the current item, -1 for none.
    void ComboIndex(QComboBox* combo, int& index);
    // Text of the current item; loading selects the item with that text.
    void ComboText(QComboBox* combo, QString& text);
    void SliderPosition(QAbstractSlider* slider, int& position);

private:
    bool Skipping() const { return m_failed && !m_silent; }
    void Fail(QLineEdit* edit, const QString& prompt);
    bool ReadInteger(QLineEdit* edit, long long& value);
    bool ReadNumber(QLineEdit* edit, double& value);

    QWidget* m_owner;
    bool m_saving;
    bool m_silent;
    bool m_failed = false;
    std::vector<std::pair<const QLineEdit*, QString>> m_failures;
};

}  // namespace skelvane
