#pragma once

#include <QWidget>

class QTimer;

// The frame drawn around the recording rectangle: a 2-pixel outline 2 pixels outside
// the rectangle, with a small triangular grip in its lower right corner. It never takes
// the focus and stays on top. Main thread only.
class TFmRect : public QWidget {
    Q_OBJECT
public:
    explicit TFmRect(QWidget* parent = nullptr);
    ~TFmRect() override;

    // Places the frame around the rectangle (left, top, width, height).
    void FitAround(int left, int top, int width, int height);
    // Re-shapes the window to the outline and the grip.
    void SetWinRect();
    // Shows or hides the frame; showing keeps it on top without activating it.
    void ShowFrame();
    void HideFrame();

    QColor BorderColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void TimerBorderColorTimer();

    QTimer* FTimer1 = nullptr;
    QTimer* FTimerBorderColor = nullptr;
    bool FGreen = false;
};
