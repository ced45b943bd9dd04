#pragma once

#include <QSpinBox>

// A spin box that lets the user type any integer and clamps it to its range when it
// loses the focus or when its value is read with Value(). Text that is not a number
// reads as the minimum. SetValue() clamps too. Main thread only.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The clamped value of the text as it stands; puts the clamped value back into the
    // box when the text differed (so the text becomes a clamped decimal integer).
    int Value();
    void SetValue(int value);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    int valueFromText(const QString& text) const override;
    void focusOutEvent(QFocusEvent* event) override;
};
