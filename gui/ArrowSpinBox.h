// A spin box whose arrows (buttons, keys, wheel) step only within a range of their own, which
// may be narrower than the values it accepts when typed: a field whose arrows stop at 32767
// must still show and keep a larger value an account already has.
#pragma once

#include <QSpinBox>

class CArrowSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit CArrowSpinBox(QWidget* parent = nullptr) : QSpinBox(parent) {}

    // The range of the arrows; the accepted range is the spin box's own (setRange).
    void SetArrowRange(int minimum, int maximum) {
        m_arrowMinimum = minimum;
        m_arrowMaximum = maximum;
    }

    void stepBy(int steps) override {
        const long long target = static_cast<long long>(value()) +
                                 static_cast<long long>(steps) * singleStep();
        // Never past the arrows' end, and never a jump back into their range from a value
        // that was typed beyond it: the arrows then only lead towards it.
        long long limited = target;
        if (steps > 0)
            limited = std::min<long long>(target, std::max(value(), m_arrowMaximum));
        else if (steps < 0)
            limited = std::max<long long>(target, std::min(value(), m_arrowMinimum));
        setValue(static_cast<int>(limited));
    }

protected:
    StepEnabled stepEnabled() const override {
        StepEnabled enabled = QSpinBox::stepEnabled();
        if (value() >= m_arrowMaximum)
            enabled &= ~StepUpEnabled;
        if (value() <= m_arrowMinimum)
            enabled &= ~StepDownEnabled;
        return enabled;
    }

private:
    int m_arrowMinimum = 0;
    int m_arrowMaximum = 99;
};
