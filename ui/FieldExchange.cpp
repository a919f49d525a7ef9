#include "ui/FieldExchange.h"

#include <cmath>
#include <limits>
#include <optional>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "ui/MessageBox.h"

namespace skelvane {

QString IntegerRangePrompt(long long min, long long max)
{
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max);
}

QString NumberRangePrompt(double min, double max)
{
    return QStringLiteral("Please enter a number between %1 and %2.").arg(FormatFloatField(min), FormatFloatField(max));
}

QString IntegerPrompt() { return QStringLiteral("Please enter an integer."); }
QString NumberPrompt() { return QStringLiteral("Please enter a number."); }
QString FrameRatePrompt() { return QStringLiteral("Please enter a frame rate such as 25, 29.97 or 30000/1001."); }

QString MaxCharsPrompt(int maxChars)
{
    return QStringLiteral("Please enter no more than %1 characters.").arg(maxChars);
}

QString FormatFloatField(double value)
{
    return QString::number(value, 'g', 6);
}

namespace {
const char* const kPromptedText = "skelvanePromptedText";
}  // namespace

void PromptField(QWidget* owner, QLineEdit* edit, const QString& prompt)
{
    if (edit) {
        // Typing marks the field modified again: a value typed anew is a new value.
        edit->setProperty(kPromptedText, edit->text());
        edit->setModified(false);
    }
    ShowMessageBox(owner, prompt, QString(), MessageIcon::Warning);
    if (edit) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

bool WasPromptedFor(const QLineEdit* edit)
{
    const QVariant prompted = edit->property(kPromptedText);
    return prompted.isValid() && prompted.toString() == edit->text() && !edit->isModified();
}

CFieldExchange::CFieldExchange(QWidget* owner, bool saveAndValidate, Prompts prompts)
    : m_owner(owner), m_saving(saveAndValidate), m_silent(prompts == Prompts::Silent)
{
}

void CFieldExchange::Fail(QLineEdit* edit, const QString& prompt)
{
    m_failed = true;
    m_failures.emplace_back(edit, prompt);
    if (!m_silent) PromptField(m_owner, edit, prompt);
}

std::optional<QString> CFieldExchange::FailureOf(const QLineEdit* edit) const
{
    for (const auto& [failed, prompt] : m_failures) {
        if (failed == edit) return prompt;
    }
    return std::nullopt;
}

bool CFieldExchange::ReadInteger(QLineEdit* edit, long long& value)
{
    const QByteArray text = edit->text().trimmed().toLatin1();
    if (text.isEmpty()) return false;
    bool ok = false;
    value = QString::fromLatin1(text).toLongLong(&ok, 10);
    return ok;
}

bool CFieldExchange::ReadNumber(QLineEdit* edit, double& value)
{
    const QByteArray text = edit->text().trimmed().toLatin1();
    if (text.isEmpty()) return false;
    bool ok = false;
    value = QString::fromLatin1(text).toDouble(&ok);
    return ok && std::isfinite(value);
}

void CFieldExchange::Text(QLineEdit* edit, int& value)
{
    Text(edit, value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

void CFieldExchange::Text(QLineEdit* edit, int& value, int min, int max)
{
    if (Skipping()) return;
    const bool ranged = min != std::numeric_limits<int>::min() || max != std::numeric_limits<int>::max();
    if (!m_saving) {
        edit->setText(QString::number(value));
        return;
    }
    long long read = 0;
    if (!ReadInteger(edit, read) || (!ranged && (read < min || read > max))) {
        Fail(edit, IntegerPrompt());
        return;
    }
    if (read < min || read > max) {
        Fail(edit, IntegerRangePrompt(min, max));
        return;
    }
    value = static_cast<int>(read);
}

void CFieldExchange::Text(QLineEdit* edit, unsigned& value)
{
    Text(edit, value, 0u, std::numeric_limits<unsigned>::max());
}

void CFieldExchange::Text(QLineEdit* edit, unsigned& value, unsigned min, unsigned max)
{
    if (Skipping()) return;
    const bool ranged = min != 0u || max != std::numeric_limits<unsigned>::max();
    if (!m_saving) {
        edit->setText(QString::number(value));
        return;
    }
    long long read = 0;
    // A sign or a value beyond the type is not an unsigned integer at all.
    if (!ReadInteger(edit, read) || read < 0 || read > std::numeric_limits<unsigned>::max()) {
        Fail(edit, IntegerPrompt());
        return;
    }
    if (ranged && (read < min || read > max)) {
        Fail(edit, IntegerRangePrompt(min, max));
        return;
    }
    value = static_cast<unsigned>(read);
}

void CFieldExchange::Text(QLineEdit* edit, FrameRate& value)
{
    if (Skipping()) return;
    if (!m_saving) {
        edit->setText(QString::fromStdString(FrameRateText(value)));
        return;
    }
    const std::optional<FrameRate> read = ParseFrameRate(edit->text().trimmed().toStdString());
    if (!read) {
        Fail(edit, FrameRatePrompt());
        return;
    }
    value = *read;
}

void CFieldExchange::Text(QLineEdit* edit, float& value)
{
    Text(edit, value, -std::numeric_limits<float>::max(), std::numeric_limits<float>::max());
}

void CFieldExchange::Text(QLineEdit* edit, float& value, float min, float max)
{
    if (Skipping()) return;
    if (!m_saving) {
        edit->setText(FormatFloatField(value));
        return;
    }
    double read = 0;
    if (!ReadNumber(edit, read) || std::fabs(read) > std::numeric_limits<float>::max()) {
        Fail(edit, NumberPrompt());
        return;
    }
    const float narrowed = static_cast<float>(read);
    if (narrowed < min || narrowed > max) {
        Fail(edit, NumberRangePrompt(min, max));
        return;
    }
    value = narrowed;
}

void CFieldExchange::Text(QLineEdit* edit, QString& value, int maxChars)
{
    if (Skipping()) return;
    if (!m_saving) {
        if (maxChars >= 0) edit->setMaxLength(maxChars);
        edit->setText(value);
        return;
    }
    const QString text = edit->text();
    if (maxChars >= 0 && text.size() > maxChars) {
        Fail(edit, MaxCharsPrompt(maxChars));
        return;
    }
    value = text;
}

void CFieldExchange::Radio(QButtonGroup* group, int& choice)
{
    if (Skipping()) return;
    if (m_saving) {
        choice = group->checkedId();
        return;
    }
    if (QAbstractButton* button = group->button(choice)) {
        button->setChecked(true);
    } else if (QAbstractButton* checked = group->checkedButton()) {
        // Clearing needs the exclusive group to let go for a moment.
        group->setExclusive(false);
        checked->setChecked(false);
        group->setExclusive(true);
    }
}

void CFieldExchange::Check(QCheckBox* box, bool& value)
{
    if (Skipping()) return;
    if (m_saving) value = box->isChecked();
    else box->setChecked(value);
}

void CFieldExchange::ComboIndex(QComboBox* combo, int& index)
{
    if (Skipping()) return;
    if (m_saving) index = combo->currentIndex();
    else combo->setCurrentIndex(index);
}

void CFieldExchange::ComboText(QComboBox* combo, QString& text)
{
    if (Skipping()) return;
    if (m_saving) {
        text = combo->currentText();
        return;
    }
    const int index = combo->findText(text);
    if (index >= 0) combo->setCurrentIndex(index);
    else if (combo->isEditable()) combo->setEditText(text);
}

void CFieldExchange::SliderPosition(QAbstractSlider* slider, int& position)
{
    if (Skipping()) return;
    if (m_saving) position = slider->value();
    else slider->setValue(position);
}

}  // namespace skelvane
