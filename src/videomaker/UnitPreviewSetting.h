#pragma once

#include "media/FFPlay.h"
#include "videomaker/VideoMakeSettings.h"

#include <QDialog>
#include <QImage>
#include <QMenu>

#include <memory>

class QAction;
namespace Ui {
class TFmPreviewSetting;
}

// The picture of the preview: the current frame centred, shrunk proportionally when it
// does not fit (never enlarged).
class TImagePreview : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void SetImage(const QImage& image);
    const QImage& Image() const { return FImage; }
    // Where the picture is drawn inside the widget.
    QRect ImageRect() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage FImage;
};

// The preview window ("预览与设置"): plays the song with its own player and shows, on
// every position report, the frame the video will have at that moment; its menu changes
// the video settings with an immediate effect. "确定" keeps the changes (writes the
// settings file and marks the project modified); "取消" or closing otherwise restores
// the settings the window started with. Main thread only.
class TFmPreviewSetting : public QDialog {
    Q_OBJECT
public:
    // Takes the settings snapshot, resets the frame composer and opens `audioFile`
    // paused (a failure is shown; the window then has no song).
    TFmPreviewSetting(QWidget* parent, const QString& audioFile);
    ~TFmPreviewSetting() override;

    // The preview of the 视频制作 page over the current project. True on OK.
    static bool PreviewProject(QWidget* parent);

    // The player's reports.
    void FFPlayer1FileOpen(int64_t duration);
    void FFPlayer1Position(int64_t pts);
    void FFPlayer1State(TPlayState state);

    void TrackBar1Change();
    void SBtnPlayClick();
    void SBtnPauseClick();
    void SBtnSizeClick();
    void BtnSettingsClick();

    // The menu items.
    void MnAlignClick(QAction* item);
    void MnFontClick();
    void MnFontColorClick();
    void MnCurrentFontColorClick();
    void MnBackgroundColorClick();
    void MnVideoSzieClick();
    void MnMarginsClick();
    void MnNumberOfRowsClick();
    void MnLineSpacingClick();
    void MnPictureSettingClick();
    void MnDefaultClick();

    // Lays the preview area out for the size mode and shows the scale.
    void LayoutPreview();
    // 0 = fit the video into the window, 1 = real video size.
    int SizeMode() const { return FSizeMode; }
    int64_t SongDuration() const { return FSongDuration; }
    bool TrackBarChanging() const { return FTrackBarChanging; }
    TFFPlayer& Player() { return FFPlayer1; }
    QMenu& PMFormat() { return FPMFormat; }
    // The menu item of `objectName` ("MnLeft", "MnFont", ...).
    QAction* MenuItem(const QString& objectName) const;

protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TFmPreviewSetting> ui;
    TFFPlayer FFPlayer1;
    QMenu FPMFormat;
    TVideoMakeSettings FSnapshot;
    bool FTrackBarChanging = false;
    int64_t FSongDuration = 0;
    int FSizeMode = 0;

    void BuildMenu();
    void ShowCurrent();
    void Redraw();
    void RelayoutAndRedraw(bool rows, bool photos);
    bool PickColor(TColorValue& value);
};
