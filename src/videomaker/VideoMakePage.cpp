#include "videomaker/VideoMakePage.h"

#include "platform/Prompts.h"
#include "platform/SafeFile.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/LyricText.h"
#include "videomaker/PhotoReader.h"
#include "videomaker/ProjectFile.h"
#include "videomaker/UnitAdjustTime.h"
#include "videomaker/UnitConvert.h"
#include "videomaker/UnitEditLyrics.h"
#include "videomaker/UnitPreviewSetting.h"
#include "videomaker/VideoMakeSettings.h"
#include "videomaker/VideoProject.h"

#include "ui_VideoMakePage.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <cmath>

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int ThumbnailRole = Qt::UserRole + 1;
constexpr int MissingNamesShown = 11;

const QString AudioFilter = QStringLiteral(
    "音频文件|*.AAC;*.AC3;*.APE;*.DTS;*.FLAC;*.M4A;*.MKA;*.MP2;*.MP3;.MPA;*.MPC;*.OFR;*.OGG;"
    "*.RA;*.TTA;*.WAV;*.WMA");
const QString LyricsFilter =
    QStringLiteral("所有文件(*.txt;*.lrc)|*.txt;*.lrc|文本文件(*.txt)|*.txt|"
                   "LRC歌词文件(*.lrc)|*.lrc");
const QString ExportFilter = QStringLiteral("LRC歌词文件(*.lrc)|*.lrc|文本文件(*.txt)|*.txt");
const QString PictureFilter = QStringLiteral(
    "All (*.gif;*.png;*.jpg;*.jpeg;*.bmp)|*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif|"
    "GIF Image (*.gif)|*.gif|Portable Network Graphics (*.png)|*.png|"
    "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
    "TIFF Images (*.tif)|*.tif");
const QString ProjectFilter = QStringLiteral("Project|*.lmmc");
const QString DefaultProjectName = QStringLiteral("我的视频.lmmc");

// `path` with its extension (if any) replaced by `ext` (with the dot).
QString WithExtension(const QString& path, const QString& ext) {
    const QFileInfo info(path);
    return info.path() + u'/' + info.completeBaseName() + ext;
}

// The size a `photo` sized picture is drawn at in a thumbnail: its longer side 76 pixels.
QSize ThumbnailDrawnSize(QSize photo) {
    int w = ThumbnailSize, h = ThumbnailSize;
    // std::nearbyint rounds an exact half to the even neighbour.
    if (photo.height() < photo.width())
        h = static_cast<int>(
            std::nearbyint(static_cast<double>(photo.height()) / photo.width() * ThumbnailSize));
    else
        w = static_cast<int>(
            std::nearbyint(static_cast<double>(photo.width()) / photo.height() * ThumbnailSize));
    return {w, h};
}

// Decodes a photo upright at its thumbnail's size; a null image with `error` set when it
// cannot be read.
QImage ReadThumbnailPhoto(const QString& path, QString& error) {
    TPhotoImage photo = ReadPhoto(path, ThumbnailDrawnSize);
    error = photo.Error;
    return std::move(photo.Image);
}

QPixmap ThumbnailPixmap(const QImage& thumbnail, const QColor& background) {
    QPixmap pixmap = QPixmap::fromImage(thumbnail);
    // The background colour is the transparent colour of the thumbnails.
    pixmap.setMask(pixmap.createMaskFromColor(background, Qt::MaskInColor));
    return pixmap;
}

} // namespace

QImage MakeThumbnail(const QImage& photo, const QColor& background) {
    QImage thumb(ThumbnailSize, ThumbnailSize, QImage::Format_RGB32);
    thumb.fill(background);
    if (photo.isNull() || photo.width() <= 0 || photo.height() <= 0)
        return thumb;
    const QSize drawn = ThumbnailDrawnSize(photo.size());
    const int w = drawn.width(), h = drawn.height();
    QPainter painter(&thumb);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect((ThumbnailSize - w) / 2, (ThumbnailSize - h) / 2, w, h), photo);
    return thumb;
}

TVideoMakePage::TVideoMakePage(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TVideoMakePage>()) {
    ui->setupUi(this);
    QHeaderView* header = ui->ListViewLyrics->header();
    header->setStretchLastSection(false);
    header->resizeSection(0, 80);
    header->resizeSection(1, 80);
    header->resizeSection(2, 282);
    ui->ListViewPictures->setIconSize(QSize(ThumbnailSize, ThumbnailSize));

    TVideoProject& project = VideoProject();
    connect(&project, &TVideoProject::RowsChanged, this, &TVideoMakePage::ShowRows);
    connect(&project, &TVideoProject::AudioFileChanged, this, &TVideoMakePage::ShowAudioFile);
    // Saved, or replaced by a new or another project: the copy has nothing left to keep.
    connect(&project, &TVideoProject::ModifiedChanged, this, [this](bool modified) {
        if (!modified)
            FAutosave.Discard();
    });

    connect(ui->BrnBrowseAudio, &QPushButton::clicked, this, &TVideoMakePage::BrnBrowseAudioClick);
    connect(ui->BrnOpenLyrics, &QPushButton::clicked, this, &TVideoMakePage::BrnOpenLyricsClick);
    connect(ui->BtnEditLyircs, &QPushButton::clicked, this, &TVideoMakePage::BtnEditLyircsClick);
    connect(ui->BtnAdjustTime, &QPushButton::clicked, this, &TVideoMakePage::BtnAdjustTimeClick);
    connect(ui->BtnExportLyrics, &QPushButton::clicked, this,
            &TVideoMakePage::BtnExportLyricsClick);
    connect(ui->BtnPictureAdd, &QPushButton::clicked, this, &TVideoMakePage::BtnPictureAddClick);
    connect(ui->BtnRemove, &QPushButton::clicked, this, &TVideoMakePage::BtnRemoveClick);
    connect(ui->BtnMoveLeft, &QPushButton::clicked, this, &TVideoMakePage::BtnMoveLeftClick);
    connect(ui->BtnMoveRight, &QPushButton::clicked, this, &TVideoMakePage::BtnMoveRightClick);
    connect(ui->BtnPreviewSetting, &QPushButton::clicked, this,
            &TVideoMakePage::BtnPreviewSettingClick);
    connect(ui->BtnStartConvert, &QPushButton::clicked, this,
            &TVideoMakePage::BtnStartConvertClick);
    connect(ui->ListViewPictures->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) { PhotoSelectionChanged(selected); });

    // The lyric editor, the time adjuster and the preview open from the page.
    connect(this, &TVideoMakePage::EditLyricsRequested, this,
            [this] { TFmEditLyrics::EditProjectLyrics(this); });
    // A stamping session is the work most worth keeping: its result is copied at once.
    connect(this, &TVideoMakePage::AdjustTimeRequested, this, [this] {
        if (TFmAdjustTime::AdjustProjectTimes(this, ui->ListViewLyrics))
            FAutosave.SaveNow();
    });
    connect(this, &TVideoMakePage::PreviewRequested, this,
            [this] { TFmPreviewSetting::PreviewProject(this); });
    connect(this, &TVideoMakePage::ConvertRequested, this,
            [this] { TFmConvert::ConvertProject(this); });

    ShowAudioFile();
    ShowRows();
}

TVideoMakePage::~TVideoMakePage() = default;

void TVideoMakePage::AttachSaveAction(QAction* mnSaveProject) {
    VideoProject().AttachSaveAction(mnSaveProject);
}

// ---- the song and the lyrics ----

void TVideoMakePage::ShowAudioFile() {
    ui->EditAudio->setText(VideoProject().AudioFile);
}

void TVideoMakePage::ShowRows() {
    QTreeWidget* list = ui->ListViewLyrics;
    list->setUpdatesEnabled(false);
    list->clear();
    QList<QTreeWidgetItem*> items;
    for (const TLyricRow& row : VideoProject().Rows)
        items << new QTreeWidgetItem(QStringList{row.Order, row.Tag, row.Text});
    list->addTopLevelItems(items);
    list->setUpdatesEnabled(true);
}

QStringList TVideoMakePage::ChooseExistingFiles(const QString& filter, bool several) {
    TFileDialogOptions o;
    o.Kind = several ? TFileDialogOptions::fkOpenMultiple : TFileDialogOptions::fkOpen;
    o.Filter = filter;
    o.FileMustExist = true;
    // Each kind of file is looked for where the user last picked one in this run.
    o.InitialDir = FLastFolders.value(filter);
    const TFileDialogResult r = Prompts().FileDialog(this, o);
    if (!r.Accepted || r.Files.isEmpty())
        return {};
    FLastFolders.insert(filter, QFileInfo(r.Files.first()).absolutePath());
    return r.Files;
}

QString TVideoMakePage::ChooseExistingFile(const QString& filter) {
    return ChooseExistingFiles(filter, false).value(0);
}

void TVideoMakePage::BrnBrowseAudioClick() {
    const QString audio = ChooseExistingFile(AudioFilter);
    if (audio.isEmpty())
        return;
    VideoProject().SetAudioFile(audio);
    VideoProject().SetModified(true);
}

void TVideoMakePage::BrnOpenLyricsClick() {
    const QString file = ChooseExistingFile(LyricsFilter);
    if (file.isEmpty())
        return;
    QString text, error;
    if (!LoadLyricFile(file, text, &error)) {
        ShowMessage(this, QStringLiteral("无法读取歌词文件 %1：%2").arg(file, error), miError);
        return;
    }
    VideoProject().LyricText = text;
    LayoutLyricRows();
    VideoProject().SetModified(true);
}

void TVideoMakePage::BtnExportLyricsClick() {
    TFileDialogOptions o;
    o.Kind = TFileDialogOptions::fkSave;
    o.Filter = ExportFilter;
    o.DefaultExt = QStringLiteral("lrc");
    o.OverwritePrompt = true;
    const QString audio = VideoProject().AudioFile;
    if (!audio.isEmpty()) {
        const QFileInfo info(WithExtension(audio, QStringLiteral(".lrc")));
        o.InitialDir = info.path();
        o.FileName = info.fileName();
    }
    const TFileDialogResult r = Prompts().FileDialog(this, o);
    if (!r.Accepted || r.Files.isEmpty())
        return;
    const QString target = WithDefaultExtension(r.Files.first(), o.DefaultExt);
    QString error;
    if (!WriteLyricsFile(target, VideoProject().Rows, &error))
        ShowMessage(this, QStringLiteral("无法写入文件 %1：%2").arg(target, error), miError);
}

void TVideoMakePage::BtnEditLyircsClick() {
    emit EditLyricsRequested();
}

// ---- the checks before the other windows ----

bool TVideoMakePage::CheckAudioFile() {
    const QString audio = ui->EditAudio->text();
    if (audio.isEmpty()) {
        ShowMessage(this, QStringLiteral("没有音频文件，请输入音频文件。"), miWarning);
        ui->EditAudio->setFocus();
        return false;
    }
    if (!QFileInfo(audio).isFile()) {
        ShowMessage(this, QStringLiteral("音频文件不存在，请重新输入音频文件。"), miWarning);
        ui->EditAudio->setFocus();
        return false;
    }
    return true;
}

bool TVideoMakePage::CheckLyricRows() {
    if (VideoProject().Rows.isEmpty()) {
        ShowMessage(this, QStringLiteral("没有歌词文件，请打开或编辑歌词文件。"), miWarning);
        ui->ListViewLyrics->setFocus();
        return false;
    }
    return true;
}

void TVideoMakePage::BtnAdjustTimeClick() {
    if (CheckAudioFile() && CheckLyricRows())
        emit AdjustTimeRequested();
}

void TVideoMakePage::BtnPreviewSettingClick() {
    if (CheckAudioFile())
        emit PreviewRequested();
}

void TVideoMakePage::BtnStartConvertClick() {
    if (!CheckAudioFile())
        return;
    BuildRowTimes();
    emit ConvertRequested();
}

// ---- the photos ----

void TVideoMakePage::AppendPhotoItem(const QString& path, const QImage& thumbnail) {
    QListWidget* list = ui->ListViewPictures;
    auto* item = new QListWidgetItem(QString::number(list->count() + 1));
    item->setData(PathRole, path);
    item->setData(ThumbnailRole, thumbnail);
    item->setIcon(
        QIcon(ThumbnailPixmap(thumbnail, ColorFromValue(VideoMakeSettings().BackGroundColor))));
    list->addItem(item);
    VideoProject().Photos << path;
}

QImage TVideoMakePage::ThumbnailAt(int index) const {
    const QListWidgetItem* item = ui->ListViewPictures->item(index);
    return item ? item->data(ThumbnailRole).value<QImage>() : QImage();
}

int TVideoMakePage::AddPhotos(const QStringList& files) {
    QListWidget* list = ui->ListViewPictures;
    list->clearSelection();
    const QColor background = ColorFromValue(VideoMakeSettings().BackGroundColor);
    int added = 0;
    QString error;
    list->setUpdatesEnabled(false);
    for (const QString& file : files) {
        const QImage photo = ReadThumbnailPhoto(file, error);
        if (photo.isNull())
            break;
        AppendPhotoItem(file, MakeThumbnail(photo, background));
        ++added;
    }
    list->setUpdatesEnabled(true);
    // The photos added before a failure stay, and count as a change of the project.
    if (added > 0) {
        VideoProject().SetModified(true);
        list->setFocus();
        FrameComposer().BuildPhotoOrder();
    }
    if (!error.isEmpty())
        ShowMessage(this, error, miError);
    return added;
}

void TVideoMakePage::BtnPictureAddClick() {
    ui->ListViewPictures->doItemsLayout();
    const QStringList photos = ChooseExistingFiles(PictureFilter, true);
    if (!photos.isEmpty())
        AddPhotos(photos);
}

void TVideoMakePage::RenumberPhotos() {
    QListWidget* list = ui->ListViewPictures;
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setText(QString::number(i + 1));
}

void TVideoMakePage::BtnRemoveClick() {
    QListWidget* list = ui->ListViewPictures;
    TVideoProject& project = VideoProject();
    list->setUpdatesEnabled(false);
    for (int i = list->count() - 1; i >= 0; --i) {
        if (!list->item(i)->isSelected())
            continue;
        delete list->takeItem(i);
        project.Photos.removeAt(i);
        project.SetModified(true);
    }
    RenumberPhotos();
    list->setUpdatesEnabled(true);
    list->doItemsLayout();
    list->setFocus();
    FrameComposer().ForgetLastPhoto();
    FrameComposer().BuildPhotoOrder();
}

void TVideoMakePage::MovePhoto(int delta) {
    QListWidget* list = ui->ListViewPictures;
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem* item = selected.first();
    const int from = list->row(item);
    const int to = from + delta;
    if (to < 0 || to >= list->count())
        return;
    QListWidgetItem* neighbour = list->item(to);
    // The thumbnails and paths change places; the captions (positions) stay.
    for (int role : {PathRole, ThumbnailRole}) {
        const QVariant v = item->data(role);
        item->setData(role, neighbour->data(role));
        neighbour->setData(role, v);
    }
    const QIcon icon = item->icon();
    item->setIcon(neighbour->icon());
    neighbour->setIcon(icon);
    VideoProject().Photos.swapItemsAt(from, to);
    item->setSelected(false);
    neighbour->setSelected(true);
    list->setCurrentItem(neighbour, QItemSelectionModel::NoUpdate);
    list->scrollToItem(neighbour);
    FrameComposer().BuildPhotoOrder();
    VideoProject().SetModified(true);
}

void TVideoMakePage::BtnMoveLeftClick() {
    MovePhoto(-1);
}
void TVideoMakePage::BtnMoveRightClick() {
    MovePhoto(+1);
}

void TVideoMakePage::PhotoSelectionChanged(const QItemSelection& selected) {
    QListWidget* list = ui->ListViewPictures;
    const bool selection = !selected.isEmpty();
    const QList<QListWidgetItem*> items = list->selectedItems();
    const int row = items.size() == 1 ? list->row(items.first()) : -1;
    ui->BtnRemove->setEnabled(selection);
    ui->BtnMoveLeft->setEnabled(selection && row > 0);
    ui->BtnMoveRight->setEnabled(selection && row >= 0 && row < list->count() - 1);
}

// ---- the project ----

void TVideoMakePage::ClearProject() {
    TVideoProject& project = VideoProject();
    project.SetAudioFile(QString());
    project.LyricText.clear();
    project.SetRows({});
    ui->ListViewPictures->clear();
    project.Photos.clear();
    ui->BtnRemove->setEnabled(false);
    ui->BtnMoveLeft->setEnabled(false);
    ui->BtnMoveRight->setEnabled(false);
}

QString TVideoMakePage::PromptName() const {
    return ProjectPromptName();
}

bool TVideoMakePage::ConfirmDiscardProject() {
    if (!VideoProject().Modified())
        return true;
    const QString question =
        QStringLiteral("文件 ") + PromptName() + QStringLiteral(" 已经改变。\r\n想保存文件吗？");
    switch (ShowMessage(this, question, miWarning, mbYesNoCancel)) {
    case mrYes:
        MnSaveProjectClick();
        // Still modified: the save was cancelled or failed.
        return !VideoProject().Modified();
    case mrNo:
        FAutosave.Discard();
        return true;
    default:
        return false;
    }
}

void TVideoMakePage::MnNewProjectClick() {
    if (!ConfirmDiscardProject())
        return;
    ClearProject();
    VideoProject().ProjectFileName.clear();
    VideoProject().SetModified(false);
}

void TVideoMakePage::MnOpenProjectClick() {
    if (!ConfirmDiscardProject())
        return;
    const QString file = ChooseExistingFile(ProjectFilter);
    if (!file.isEmpty())
        OpenProjectFile(file);
}

void TVideoMakePage::OpenProjectFile(const QString& fileName) {
    const bool whole = ReadProject(fileName);
    TVideoProject& project = VideoProject();
    // A project that could not be read whole keeps what was read but is not tied to the
    // damaged file, so a later save cannot overwrite it with the part that was read.
    project.ProjectFileName = whole ? fileName : QString();
    project.SetModified(false);
}

bool TVideoMakePage::OfferRecovery() {
    const std::optional<TProjectAutosave::TRecovery> copy = FAutosave.Recovery();
    if (!copy)
        return false;
    const QString question =
        QStringLiteral("上次运行时，工程 %1 的修改没有保存；%2 自动保存了一份副本。\r\n"
                       "要恢复这份副本吗？")
            .arg(copy->ShownName,
                 copy->Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    switch (ShowMessage(this, question, miWarning, mbRestoreDiscard)) {
    case mrYes: {
        const bool whole = ReadProject(copy->CopyFile, copy->ProjectFileName);
        TVideoProject& project = VideoProject();
        project.ProjectFileName = whole ? copy->ProjectFileName : QString();
        project.SetModified(true);
        return true;
    }
    case mrNo:
        FAutosave.Discard();
        return false;
    default:
        return false;
    }
}

bool TVideoMakePage::ReadProject(const QString& fileName, const QString& namesRelativeTo) {
    ClearProject();
    const TProjectReadResult read = ReadProjectIntoCurrent(fileName, namesRelativeTo);
    if (!read.ReadError.isEmpty()) {
        ShowMessage(this, QStringLiteral("无法读取工程文件 %1：%2").arg(fileName, read.ReadError),
                    miError);
        return false;
    }

    const QColor background = ColorFromValue(VideoMakeSettings().BackGroundColor);
    QListWidget* list = ui->ListViewPictures;
    QStringList undecodable;
    list->setUpdatesEnabled(false);
    for (const QString& photo : read.Photos) {
        // A photo that cannot be decoded stays in the project with an empty thumbnail
        // (the frames pass it over) and is named in the picture error after the reading,
        // so the rest of the project still opens.
        QString error;
        AppendPhotoItem(photo, MakeThumbnail(ReadThumbnailPhoto(photo, error), background));
        if (!error.isEmpty())
            undecodable << error;
    }
    list->setUpdatesEnabled(true);
    FrameComposer().BuildPhotoOrder();
    if (!undecodable.isEmpty())
        ShowMessage(this, undecodable.join(QStringLiteral("\r\n")), miError);

    const QStringList& missing = read.Missing;
    if (!read.Whole) {
        ShowMessage(this,
                    QStringLiteral("读取工程文件 %1 时出错：文件比其内容所需的短，"
                                   "只读入了出错之前的部分。")
                        .arg(fileName),
                    miError);
        return false;
    }
    if (!missing.isEmpty()) {
        QString text = QStringLiteral("打开工程时找不到下面文件。");
        for (qsizetype i = 0; i < missing.size(); ++i) {
            if (i == MissingNamesShown) {
                text += QStringLiteral("\r\n......");
                break;
            }
            text += QStringLiteral("\r\n") + missing.at(i);
        }
        ShowMessage(this, text, miWarning);
    }
    return true;
}

bool TVideoMakePage::WriteProject(const QString& fileName) {
    QString error;
    if (!WriteFileReplacing(fileName, ProjectFileBytes(CurrentProjectData(fileName)), &error)) {
        ShowMessage(this, QStringLiteral("无法保存工程文件 %1：%2").arg(fileName, error), miError);
        return false;
    }
    return true;
}

void TVideoMakePage::MnSaveProjectClick() {
    TVideoProject& project = VideoProject();
    if (project.ProjectFileName.isEmpty()) {
        MnSaveProjectAsClick();
        return;
    }
    if (WriteProject(project.ProjectFileName))
        project.SetModified(false);
}

void TVideoMakePage::MnSaveProjectAsClick() {
    TFileDialogOptions o;
    o.Kind = TFileDialogOptions::fkSave;
    o.Filter = ProjectFilter;
    o.DefaultExt = QStringLiteral("lmmc");
    o.OverwritePrompt = true;
    const TVideoProject& current = VideoProject();
    if (!current.ProjectFileName.isEmpty() || !current.AudioFile.isEmpty()) {
        const QFileInfo proposed(PromptName());
        o.InitialDir = proposed.path();
        o.FileName = proposed.fileName();
    } else {
        o.FileName = DefaultProjectName;
    }
    const TFileDialogResult r = Prompts().FileDialog(this, o);
    if (!r.Accepted || r.Files.isEmpty())
        return;
    const QString target = WithDefaultExtension(r.Files.first(), o.DefaultExt);
    if (!WriteProject(target))
        return;
    TVideoProject& project = VideoProject();
    project.ProjectFileName = target;
    project.SetModified(false);
}
