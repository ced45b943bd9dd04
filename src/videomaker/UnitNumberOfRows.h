#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFmNumberOfRows;
}

// The row-count dialog ("显示歌词行数"): "自动行数" (as many rows as fit) or "定制行数"
// with a count of 1–200. "确定" writes 0 for automatic, else the count; "默认" chooses
// "定制行数" with 2. Main thread only.
class TFmNumberOfRows : public QDialog {
    Q_OBJECT
public:
    explicit TFmNumberOfRows(QWidget* parent, TVideoMakeSettings& settings = VideoMakeSettings());
    ~TFmNumberOfRows() override;

    void RBtnAutoClick();
    void RBtnCustomClick();
    void BtnDefaultClick();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::TFmNumberOfRows> ui;
    TVideoMakeSettings& FSettings;
    void ShowCount(int count);
};
