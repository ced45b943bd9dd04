#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFmMargins;
}

// The margins dialog ("歌词边距"): left and right 0 to half the video width, top and
// bottom 0 to half the video height. "确定" writes the four margins into `settings`,
// "默认" puts 8 into all four boxes. Main thread only.
class TFmMargins : public QDialog {
    Q_OBJECT
public:
    explicit TFmMargins(QWidget* parent, TVideoMakeSettings& settings = VideoMakeSettings());
    ~TFmMargins() override;

    void BtnDefaultClick();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::TFmMargins> ui;
    TVideoMakeSettings& FSettings;
};
