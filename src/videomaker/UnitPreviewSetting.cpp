#include "videomaker/UnitPreviewSetting.h"

#include "platform/Prompts.h"
#include "ui_UnitPreviewSetting.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/SongPlayer.h"
#include "videomaker/UnitLineSpacing.h"
#include "videomaker/UnitLyricsVideoSize.h"
#include "videomaker/UnitMargins.h"
#include "videomaker/UnitNumberOfRows.h"
#include "videomaker/UnitPictureSettings.h"
#include "videomaker/VideoProject.h"

#include <QActionGroup>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>

// ---- TImagePreview ----

void TImagePreview::SetImage(const QImage& image) {
    FImage = image;
    update();
}

QRect TImagePreview::ImageRect() const {
    if (FImage.isNull())
        return {};
    QSize size = FImage.size();
    if (size.width() > width() || size.height() > height())
        size.scale(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void TImagePreview::paintEvent(QPaintEvent*) {
    if (FImage.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(ImageRect(), FImage);
}

// ---- TFmPreviewSetting ----

namespace {

// "%.2d:%.2d:%.2d" of whole seconds: hours, minutes, seconds.
QString ClockText(int seconds) {
    return QString::asprintf("%.2d:%.2d:%.2d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// A percentage to the nearest integer, an exact half to the even one.
int Percent(int part, int whole) {
    return whole > 0 ? int(std::nearbyint(double(part) / whole * 100)) : 100;
}

} // namespace

TFmPreviewSetting::TFmPreviewSetting(QWidget* parent, const QString& audioFile)
    : QDialog(parent), ui(std::make_unique<Ui::TFmPreviewSetting>()), FPMFormat(this),
      FSnapshot(VideoMakeSettings()) {
    FrameComposer().ResetComposer();
    ui->setupUi(this);
    BuildMenu();
    ui->ScrollBoxPreview->installEventFilter(this);
    ui->SBtnSize->setProperty("tag", 0);

    connect(ui->TrackBar1, &QSlider::valueChanged, this, &TFmPreviewSetting::TrackBar1Change);
    connect(ui->SBtnPlay, &QToolButton::clicked, this, &TFmPreviewSetting::SBtnPlayClick);
    connect(ui->SBtnPause, &QToolButton::clicked, this, &TFmPreviewSetting::SBtnPauseClick);
    connect(ui->SBtnSize, &QToolButton::clicked, this, &TFmPreviewSetting::SBtnSizeClick);
    connect(ui->BtnSettings, &QPushButton::clicked, this, &TFmPreviewSetting::BtnSettingsClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FFPlayer1.SetOnFileOpen(
        [this](QObject*, int64_t duration, int, int, int&, int&) { FFPlayer1FileOpen(duration); });
    FFPlayer1.SetOnPosition([this](QObject*, int64_t pts) { FFPlayer1Position(pts); });
    FFPlayer1.SetOnState([this](QObject*, TPlayState state) { FFPlayer1State(state); });
    OpenSongPaused(FFPlayer1, ui->PanelScreen, audioFile, this);
}

TFmPreviewSetting::~TFmPreviewSetting() = default;

bool TFmPreviewSetting::PreviewProject(QWidget* parent) {
    TFmPreviewSetting window(parent, VideoProject().AudioFile);
    return window.exec() == QDialog::Accepted;
}

void TFmPreviewSetting::BuildMenu() {
    auto item = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QLatin1StringView(name));
        return action;
    };
    auto alignments = [&](const char* name, const QString& caption,
                          std::initializer_list<std::tuple<const char*, const char*, int>> items,
                          const char* ticked) {
        QMenu* sub = FPMFormat.addMenu(caption);
        sub->menuAction()->setObjectName(QLatin1StringView(name));
        auto* group = new QActionGroup(sub);
        for (const auto& [itemName, itemCaption, code] : items) {
            QAction* action = item(sub, itemName, QString::fromUtf8(itemCaption));
            action->setCheckable(true);
            action->setChecked(std::string_view(itemName) == ticked);
            action->setData(code);
            group->addAction(action);
        }
        connect(group, &QActionGroup::triggered, this, &TFmPreviewSetting::MnAlignClick);
    };
    alignments("MnHorizontalAlign", QStringLiteral("歌词水平对齐"),
               {{"MnLeft", "左边对齐", haLeft},
                {"MnCenter", "水平居中", haCenter},
                {"MnRight", "右边对齐", haRight}},
               "MnCenter");
    alignments("MnVerticalAlign", QStringLiteral("歌词垂直对齐"),
               {{"MnTop", "顶部对齐", vaTop},
                {"MnVerCenter", "垂直居中", vaCenter},
                {"MnBottom", "底部对齐", vaBottom}},
               "MnBottom");
    FPMFormat.addSeparator();
    connect(item(&FPMFormat, "MnFont", QStringLiteral("歌词字体...")), &QAction::triggered, this,
            &TFmPreviewSetting::MnFontClick);
    // The colour of the rows that are not current is the video font's own colour.
    connect(item(&FPMFormat, "MnFontColor", QStringLiteral("歌词颜色...")), &QAction::triggered,
            this, &TFmPreviewSetting::MnFontColorClick);
    connect(item(&FPMFormat, "MnCurrentFontColor", QStringLiteral("当前歌词颜色...")),
            &QAction::triggered, this, &TFmPreviewSetting::MnCurrentFontColorClick);
    connect(item(&FPMFormat, "MnBackgroundColor", QStringLiteral("背景颜色...")),
            &QAction::triggered, this, &TFmPreviewSetting::MnBackgroundColorClick);
    FPMFormat.addSeparator();
    connect(item(&FPMFormat, "MnVideoSzie", QStringLiteral("视频尺寸...")), &QAction::triggered,
            this, &TFmPreviewSetting::MnVideoSzieClick);
    connect(item(&FPMFormat, "MnMargins", QStringLiteral("歌词边距...")), &QAction::triggered, this,
            &TFmPreviewSetting::MnMarginsClick);
    connect(item(&FPMFormat, "MnNumberOfRows", QStringLiteral("显示歌词行数...")),
            &QAction::triggered, this, &TFmPreviewSetting::MnNumberOfRowsClick);
    connect(item(&FPMFormat, "MnLineSpacing", QStringLiteral("歌词行间距...")), &QAction::triggered,
            this, &TFmPreviewSetting::MnLineSpacingClick);
    connect(item(&FPMFormat, "MnPictureSetting", QStringLiteral("照片设置...")),
            &QAction::triggered, this, &TFmPreviewSetting::MnPictureSettingClick);
    FPMFormat.addSeparator();
    connect(item(&FPMFormat, "MnDefault", QStringLiteral("默认设置")), &QAction::triggered, this,
            &TFmPreviewSetting::MnDefaultClick);
}

QAction* TFmPreviewSetting::MenuItem(const QString& objectName) const {
    return FPMFormat.findChild<QAction*>(objectName);
}

// ---- the player's reports ----

void TFmPreviewSetting::FFPlayer1FileOpen(int64_t duration) {
    FSongDuration = duration;
    FTrackBarChanging = true;
    ui->TrackBar1->setRange(0, duration > 0 ? int(duration / 1000000) : 0);
    ui->TrackBar1->setValue(0);
    FTrackBarChanging = false;
    ShowCurrent();
}

void TFmPreviewSetting::FFPlayer1Position(int64_t pts) {
    if (pts < 0 || FSongDuration <= 0)
        return;
    // The program itself moves the track bar: no seek.
    const bool changing = FTrackBarChanging;
    FTrackBarChanging = true;
    ui->TrackBar1->setValue(int(pts / 1000000));
    FTrackBarChanging = changing;
    QImage canvas = MakeFrameCanvas();
    if (FrameComposer().ComposeFrame(canvas, pts))
        ui->ImagePreview->SetImage(canvas);
}

void TFmPreviewSetting::FFPlayer1State(TPlayState state) {
    if (state == psPlay) {
        ui->SBtnPlay->setEnabled(true);
        ui->SBtnPause->setEnabled(false);
    } else if (state == psEnd) {
        FFPlayer1.Seek(0, sfAny);
        SBtnPauseClick();
    }
}

// ---- the controls ----

void TFmPreviewSetting::ShowCurrent() {
    ui->LabelCurrent->setText(ClockText(ui->TrackBar1->value()) + u'/' +
                              ClockText(ui->TrackBar1->maximum()));
}

void TFmPreviewSetting::TrackBar1Change() {
    ShowCurrent();
    if (FTrackBarChanging)
        return;
    const int64_t pts = int64_t(ui->TrackBar1->value()) * 1000000;
    FFPlayer1.Seek(pts);
    FFPlayer1Position(pts);
}

void TFmPreviewSetting::SBtnPlayClick() {
    ui->SBtnPlay->setEnabled(false);
    ui->SBtnPause->setEnabled(true);
    FFPlayer1.Resume();
}

void TFmPreviewSetting::SBtnPauseClick() {
    ui->SBtnPause->setEnabled(false);
    ui->SBtnPlay->setEnabled(true);
    FFPlayer1.Pause();
}

void TFmPreviewSetting::SBtnSizeClick() {
    FSizeMode = FSizeMode == 0 ? 1 : 0;
    ui->SBtnSize->setProperty("tag", FSizeMode);
    LayoutPreview();
}

void TFmPreviewSetting::BtnSettingsClick() {
    FPMFormat.popup(ui->BtnSettings->mapToGlobal(QPoint(0, ui->BtnSettings->height())));
}

void TFmPreviewSetting::LayoutPreview() {
    const TVideoMakeSettings& s = VideoMakeSettings();
    QWidget* panel = ui->PanelPreview;
    panel->resize(0, 0);
    const QSize client = ui->ScrollBoxPreview->maximumViewportSize();
    const int videoWidth = s.LyricsVideoWidth, videoHeight = s.LyricsVideoHeight;
    if (FSizeMode == 1) {
        ui->SBtnSize->setToolTip(QStringLiteral("视频适应窗口"));
        panel->resize(videoWidth < client.width() ? client.width() : videoWidth,
                      videoHeight < client.height() ? client.height() : videoHeight);
    } else {
        ui->SBtnSize->setToolTip(QStringLiteral("真实视频大小"));
        panel->resize(client);
    }
    ui->ImagePreview->setGeometry(panel->rect());
    const int scale = std::min({Percent(ui->ImagePreview->width(), videoWidth),
                                Percent(ui->ImagePreview->height(), videoHeight), 100});
    ui->LabelPreview->setText(QString::asprintf("%d*%d(%d%%)", videoWidth, videoHeight, scale));
    ui->SBtnSize->setEnabled(client.width() < videoWidth || client.height() < videoHeight);
}

void TFmPreviewSetting::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    LayoutPreview();
}

bool TFmPreviewSetting::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->ScrollBoxPreview && event->type() == QEvent::Resize)
        LayoutPreview();
    return QDialog::eventFilter(watched, event);
}

// ---- redrawing after a change ----

void TFmPreviewSetting::Redraw() {
    FrameComposer().ForceRedraw = true;
    FFPlayer1Position(int64_t(ui->TrackBar1->value()) * 1000000);
}

// The rows (and the photo order) are rebuilt while the song is held, then it goes on.
void TFmPreviewSetting::RelayoutAndRedraw(bool rows, bool photos) {
    const bool playing = ui->SBtnPause->isEnabled();
    if (playing)
        SBtnPauseClick();
    if (rows)
        LayoutLyricRows();
    if (photos)
        FrameComposer().BuildPhotoOrder();
    FrameComposer().ForceRedraw = true;
    if (playing)
        SBtnPlayClick();
    else
        Redraw();
}

bool TFmPreviewSetting::PickColor(TColorValue& value) {
    QColor color = ColorFromValue(value);
    TColorDialogOptions options;
    options.Initial = color;
    options.CustomColors = QList<QColor>(16, QColor(Qt::white));
    if (!Prompts().ColorDialog(this, color, options))
        return false;
    value = ValueFromColor(color);
    return true;
}

void TFmPreviewSetting::MnAlignClick(QAction* item) {
    const QString name = item->objectName();
    TVideoMakeSettings& s = VideoMakeSettings();
    if (name == u"MnLeft" || name == u"MnCenter" || name == u"MnRight")
        s.HorizontalAlignment = quint8(item->data().toInt());
    else
        s.VerticalAlignment = quint8(item->data().toInt());
    item->setChecked(true);
    Redraw();
}

void TFmPreviewSetting::MnFontClick() {
    QFont font = VideoMakeSettings().VideoFont.Font;
    if (!Prompts().FontDialog(this, font))
        return;
    VideoMakeSettings().VideoFont.Font = font;
    RelayoutAndRedraw(true, false);
}

void TFmPreviewSetting::MnFontColorClick() {
    if (PickColor(VideoMakeSettings().VideoFont.Color))
        Redraw();
}

void TFmPreviewSetting::MnCurrentFontColorClick() {
    if (PickColor(VideoMakeSettings().CurrentFontColor))
        Redraw();
}

void TFmPreviewSetting::MnBackgroundColorClick() {
    if (PickColor(VideoMakeSettings().BackGroundColor))
        Redraw();
}

void TFmPreviewSetting::MnVideoSzieClick() {
    TFmLyricsVideoSize dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    LayoutPreview();
    RelayoutAndRedraw(true, false);
}

void TFmPreviewSetting::MnMarginsClick() {
    TFmMargins dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        RelayoutAndRedraw(true, false);
}

void TFmPreviewSetting::MnNumberOfRowsClick() {
    TFmNumberOfRows dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        Redraw();
}

void TFmPreviewSetting::MnLineSpacingClick() {
    TFmLineSpacing dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        Redraw();
}

void TFmPreviewSetting::MnPictureSettingClick() {
    TFmPicturesSettings dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        RelayoutAndRedraw(false, true);
}

void TFmPreviewSetting::MnDefaultClick() {
    ResetVideoMakeSettings();
    LayoutPreview(); // the size may have changed too
    RelayoutAndRedraw(true, true);
}

// ---- closing ----

void TFmPreviewSetting::done(int result) {
    FFPlayer1.Stop(false);
    FFPlayer1.SetOnPosition(nullptr);
    FFPlayer1.SetOnState(nullptr);
    FFPlayer1.SetOnFileOpen(nullptr);
    if (result == QDialog::Accepted) {
        WriteVideoMakeSettings();
        VideoProject().SetModified(true);
    } else {
        VideoMakeSettings() = FSnapshot;
        LayoutLyricRows();
    }
    QDialog::done(result);
}
