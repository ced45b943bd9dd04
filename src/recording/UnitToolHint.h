#pragma once

#include <QWidget>

class QLabel;
class QTimer;

// The tooltip window of the recording toolbar: the hint text in a 1-pixel black frame
// on the system's tooltip colours. It never takes the focus, stays on top while shown
// and hides itself after five seconds. Main thread only.
class TFmToolHint : public QWidget {
    Q_OBJECT
public:
    explicit TFmToolHint(QWidget* parent = nullptr);
    ~TFmToolHint() override;

    // Shows `text` with the window's top left corner at the screen point (x, y).
    void ShowHint(int x, int y, const QString& text);
    void HideHint();

    QString Text() const;

private:
    QLabel* FLabel = nullptr;
    QTimer* FTimer1 = nullptr;
    QTimer* FTimerHide = nullptr;
};
