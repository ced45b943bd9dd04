#pragma once

#include "videomaker/VideoMakeSettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFmPicturesSettings;
}

// The photo settings dialog ("照片设置"): how long a photo stays (1–9999 seconds),
// whether photos follow the lyric pages, repeat and come in shuffled order. "确定" writes
// the four values into `settings`; "默认" puts 5 s, ticked, ticked, not ticked into the
// controls. Main thread only.
class TFmPicturesSettings : public QDialog {
    Q_OBJECT
public:
    explicit TFmPicturesSettings(QWidget* parent,
                                 TVideoMakeSettings& settings = VideoMakeSettings());
    ~TFmPicturesSettings() override;

    void BtnDefaultClick();
    void BtnOkClick();

private:
    std::unique_ptr<Ui::TFmPicturesSettings> ui;
    TVideoMakeSettings& FSettings;
    void ShowValues(const TVideoMakeSettings& s);
};
