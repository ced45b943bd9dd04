#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFmLyricsVideoSize;
}

// The video size dialog ("视频尺寸"): a standard size from the list or a custom width
// (80–1920) and height (45–1080). Filled from `settings` when created; "确定" writes the
// chosen size into it, "默认" only puts 320*240 into the controls. Main thread only.
class TFmLyricsVideoSize : public QDialog {
    Q_OBJECT
public:
    explicit TFmLyricsVideoSize(QWidget* parent,
                                TVideoMakeSettings& settings = VideoMakeSettings());
    ~TFmLyricsVideoSize() override;

    void RBtnStandardClick();
    void RBtnCustomClick();
    void BtnDefaultClick();
    void BtnOkClick();

    // The size the controls stand for now.
    QSize ChosenSize();

private:
    std::unique_ptr<Ui::TFmLyricsVideoSize> ui;
    TVideoMakeSettings& FSettings;
    void ShowSize(int width, int height);
    void EnableChoice();
};
