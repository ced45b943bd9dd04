#pragma once

#include <QWidget>

// The almost invisible window that follows the cursor while a rectangle is dragged out,
// so that the presses land on it and reach no other program. Main thread only.
class TFmSetRect : public QWidget {
    Q_OBJECT
public:
    explicit TFmSetRect(QWidget* parent = nullptr);
    ~TFmSetRect() override;
};
