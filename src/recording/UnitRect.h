#pragma once

#include <QPoint>
#include <QWidget>

class QTimer;

// The frame drawn around the recording rectangle: a 2-pixel outline 2 pixels outside
// the rectangle, with a small triangular grip in its lower right corner. The user pulls
// its edges to resize it and drags the grip to move it; the frame reports the end of
// either so that the owner can take the new rectangle. It never takes the focus and
// stays on top. Main thread only.
class TFmRect : public QWidget {
    Q_OBJECT
public:
    explicit TFmRect(QWidget* parent = nullptr);
    ~TFmRect() override;

    // Places the frame around the rectangle (left, top, width, height).
    void FitAround(int left, int top, int width, int height);
    // The rectangle the frame lies around.
    QRect Inner() const;
    // Re-shapes the window to the outline and the grip.
    void SetWinRect();
    // Shows or hides the frame; showing keeps it on top without activating it.
    void ShowFrame();
    void HideFrame();

    QColor BorderColor() const;

    // Edge strips (their tags: top 1, bottom 2, left 3, right 4) and the move grip.
    QWidget* PanelTop() const { return FPanels[0]; }
    QWidget* PanelBottom() const { return FPanels[1]; }
    QWidget* PanelLeft() const { return FPanels[2]; }
    QWidget* PanelRight() const { return FPanels[3]; }
    QWidget* PanelMove() const { return FPanelMove; }

signals:
    // The left button was let go after pulling an edge.
    void EdgeDragFinished();
    // The grip was let go; the frame has been kept on the screen.
    void MoveFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TimerBorderColorTimer();
    void Timer2Timer();
    void PlacePanels();
    void PanelMouseDown(int tag);
    void PanelMoveMouseDown(QPoint globalPos);
    void PanelMoveMouseMove(QPoint globalPos);
    void PanelMoveMouseUp();

    QTimer* FTimer1 = nullptr;
    QTimer* FTimer2 = nullptr;
    QTimer* FTimerBorderColor = nullptr;
    QWidget* FPanels[4] = {};
    QWidget* FPanelMove = nullptr;
    bool FGreen = false;
    int FDragTag = 0;

    // Drag state. WndIsDrag stays set once a move went past the threshold.
    bool WndIsDrag = false;
    QPoint OldCurPos;
    int OldLeft = 0;
    int OldTop = 0;
    int OldWidth = 0;
    int OldHeight = 0;
};
