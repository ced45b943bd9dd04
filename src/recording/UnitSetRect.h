#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class QTimer;

// The almost invisible window that follows the cursor while a rectangle is dragged out,
// so that the presses land on it and reach no other program. While shown it watches the
// left button: the first press sets the anchor, moving with the button down spans the
// rectangle from the anchor to the cursor, and letting go ends the selection. Main
// thread only.
class TFmSetRect : public QWidget {
    Q_OBJECT
public:
    explicit TFmSetRect(QWidget* parent = nullptr);
    ~TFmSetRect() override;

    // Shows the window at the cursor and waits for the press; the anchor is cleared.
    void StartSelection();
    // Hides the window and stops watching.
    void EndSelection();

    // The anchor point; x = -1 until the press has been seen.
    QPoint Anchor() const { return FAnchor; }

signals:
    // The left button went down at `anchor`.
    void SelectionStarted(QPoint anchor);
    // The rectangle spanned by the anchor and the cursor: its left and top the smaller
    // coordinates, its width and height their distances.
    void SelectionChanged(QRect rect);
    // The left button was let go.
    void SelectionFinished();

private:
    void Timer1Timer();

    QTimer* FTimer1 = nullptr;
    QPoint FAnchor{-1, -1};
};
