#pragma once

#include <QWidget>

// The floating recording toolbar. It owns the recording and shows its elapsed time and
// size; its routines are the commands of the recording controller. Main thread only.
class TFmToolBar : public QWidget {
    Q_OBJECT
public:
    explicit TFmToolBar(QWidget* parent = nullptr);
    ~TFmToolBar() override;

    // The hint of the show-window button ("显示主窗口" or "隐藏主窗口").
    void SetShowWindowHint(const QString& hint);
    QString ShowWindowHint() const { return FShowWindowHint; }

private:
    QString FShowWindowHint;
};
