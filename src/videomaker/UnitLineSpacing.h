#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFmLineSpacing;
}

// The line-spacing dialog ("歌词行间距"): 1–200 pixels added below each row. "确定"
// writes the spacing into `settings`, "默认" puts 4 into the box. Main thread only.
class TFmLineSpacing : public QDialog {
    Q_OBJECT
public:
    explicit TFmLineSpacing(QWidget* parent, TVideoMakeSettings& settings = VideoMakeSettings());
    ~TFmLineSpacing() override;

    void BtnDefaultClick();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::TFmLineSpacing> ui;
    TVideoMakeSettings& FSettings;
};
