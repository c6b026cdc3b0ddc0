// The control of a number field: a spin box whose arrows (buttons, keys, wheel) step only within
// a range of their own, which may be narrower than the values it accepts when typed: a field
// whose arrows stop at 32767 must still show and keep a larger value an account already has.
//
// What the user types stays as typed, whatever its size: a plain spin box refuses a digit that
// would leave its range and, when it loses the focus, writes its value over a text beyond it,
// so "99999" in a port field became "9999" or "65535" without a word. Here any whole number may
// be typed and is shown until the exchange takes it, which refuses a value outside the field's
// range with the range named. The spin box's own value follows within its range (for the
// arrows); the text is what counts.
#pragma once

#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>

class CArrowSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit CArrowSpinBox(QWidget* parent = nullptr) : QSpinBox(parent) {}

    // The range of the arrows; the accepted range is the spin box's own (setRange).
    void SetArrowRange(int minimum, int maximum) {
        m_arrowMinimum = minimum;
        m_arrowMaximum = maximum;
    }

    // Shows a text as it is, a number beyond the range or one that is no number at all (a
    // stored value): the exchange refuses it until the user corrects it.
    void ShowText(const QString& text) {
        lineEdit()->setText(text);
        if (IsWholeNumber(text))
            setValue(Bounded(text));
    }

    void stepBy(int steps) override {
        const long long target =
            static_cast<long long>(value()) + static_cast<long long>(steps) * singleStep();
        // Never past the arrows' end, and never a jump back into their range from a value
        // that was typed beyond it: the arrows then only lead towards it.
        long long limited = target;
        if (steps > 0)
            limited = std::min<long long>(target, std::max(value(), m_arrowMaximum));
        else if (steps < 0)
            limited = std::max<long long>(target, std::min(value(), m_arrowMinimum));
        setValue(static_cast<int>(limited));
    }

    // An optional sign and digits, of any length.
    static bool IsWholeNumber(const QString& text) {
        const qsizetype start =
            text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
        if (text.size() == start)
            return false;
        for (qsizetype i = start; i < text.size(); ++i)
            if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
                return false;
        return true;
    }

protected:
    QValidator::State validate(QString& input, int& /*pos*/) const override {
        if (IsWholeNumber(input))
            return QValidator::Acceptable;
        // On the way to a number; a text left so is put back to the value when the box loses
        // the focus, as the user sees.
        if (input.isEmpty() || input == QLatin1String("-") || input == QLatin1String("+"))
            return QValidator::Intermediate;
        return QValidator::Invalid;
    }
    int valueFromText(const QString& text) const override { return Bounded(text); }
    // The spin box writes the text of its value whenever it settles (losing the focus, Return):
    // the text shown stays while it stands for that value.
    QString textFromValue(int value) const override {
        const QString shown = lineEdit() ? lineEdit()->text() : QString();
        if (IsWholeNumber(shown) && Bounded(shown) == value)
            return shown;
        return QSpinBox::textFromValue(value);
    }

    StepEnabled stepEnabled() const override {
        StepEnabled enabled = QSpinBox::stepEnabled();
        if (value() >= m_arrowMaximum)
            enabled &= ~StepUpEnabled;
        if (value() <= m_arrowMinimum)
            enabled &= ~StepDownEnabled;
        return enabled;
    }

private:
    // A whole number within the spin box's range; one too long for any integer lies beyond it.
    int Bounded(const QString& text) const {
        bool ok = false;
        const long long number = text.toLongLong(&ok);
        if (!ok)
            return text.startsWith(QLatin1Char('-')) ? minimum() : maximum();
        return static_cast<int>(std::clamp<long long>(number, minimum(), maximum()));
    }

    int m_arrowMinimum = 0;
    int m_arrowMaximum = 99;
};
