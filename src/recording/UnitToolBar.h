#pragma once

#include <QPoint>
#include <QWidget>

#include <memory>

class QLabel;
class QTimer;
class QToolButton;
class TFmToolHint;
namespace Ui {
class TFmToolBar;
}

// The floating recording toolbar: resume, pause and stop buttons, the elapsed time and
// file size of the recording and a button that shows or hides the main window. It
// stays on top, never takes the keyboard focus, can be dragged by its labels and
// border, and keeps its place in the settings file. Main thread only.
class TFmToolBar : public QWidget {
    Q_OBJECT
public:
    explicit TFmToolBar(TFmToolHint* toolHint, QWidget* parent = nullptr);
    ~TFmToolBar() override;

    // The hint of the show-window button ("显示主窗口" or "隐藏主窗口").
    void SetShowWindowHint(const QString& hint);
    QString ShowWindowHint() const;

    void SBtnShowWindowClick();

    // Keeps the window inside the primary screen.
    void ClampToScreen();

    QToolButton* SBtnStart() const;
    QToolButton* SBtnResume() const;
    QToolButton* SBtnPause() const;
    QToolButton* SBtnStop() const;
    QToolButton* SBtnShowWindow() const;
    QLabel* LabelTime() const;
    QLabel* LabelSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormCreate();
    void LabelTimeMouseDown();
    void LabelTimeMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    void LabelTimeMouseUp();
    void SBtnResumeMouseEnter(QWidget* control);
    void SBtnResumeMouseLeave();

    std::unique_ptr<Ui::TFmToolBar> ui;
    TFmToolHint* FToolHint = nullptr;
    QTimer* FTimer1 = nullptr;
    bool WndIsDrag = false;
    bool FPressed = false;
    QPoint OldCurPos;
    int OldLeft = 0;
    int OldTop = 0;
};
