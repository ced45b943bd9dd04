#include "state/SpinEdit.h"

#include <QFocusEvent>
#include <QLineEdit>

#include <algorithm>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
    // Any run of digits (with an optional sign) may be typed; out-of-range values are
    // clamped afterwards instead of refusing the key press.
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+"))
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    if (!ok)
        return QValidator::Invalid;
    return (v >= minimum() && v <= maximum()) ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const {
    input = QString::number(valueFromText(input));
}

int TSpinEdit::valueFromText(const QString& text) const {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return minimum();
    return static_cast<int>(std::clamp<qlonglong>(v, minimum(), maximum()));
}

int TSpinEdit::Value() {
    const int v = valueFromText(lineEdit()->text());
    if (lineEdit()->text() != QString::number(v) || value() != v)
        SetValue(v);
    return v;
}

void TSpinEdit::SetValue(int value) {
    const int v = std::clamp(value, minimum(), maximum());
    setValue(v);
    // setValue does not rewrite text that already names the same value.
    if (lineEdit()->text() != QString::number(v))
        lineEdit()->setText(QString::number(v));
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    Value();
    QSpinBox::focusOutEvent(event);
}
