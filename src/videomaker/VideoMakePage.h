#pragma once

#include "videomaker/ProjectAutosave.h"

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <memory>

class QAction;
class QItemSelection;
class QListWidgetItem;
namespace Ui {
class TVideoMakePage;
}

// The size of the photo thumbnails of the page.
inline constexpr int ThumbnailSize = 76;

// A ThumbnailSize square filled with `background` with `photo` stretched, keeping its
// proportions, into its centre.
QImage MakeThumbnail(const QImage& photo, const QColor& background);

// The 视频制作 page of the main window: the song, the lyrics and the photos of the current
// project (VideoProject()), and the project commands of the main menu. The modified flag
// of the project is the enabled state of the attached save action. The windows opened
// from the page's buttons are asked for through the Requested signals after the page's
// checks have passed. Main thread only.
class TVideoMakePage : public QWidget {
    Q_OBJECT
public:
    explicit TVideoMakePage(QWidget* parent = nullptr);
    ~TVideoMakePage() override;

    // The main menu item whose enabled state is the project's modified flag.
    void AttachSaveAction(QAction* mnSaveProject);

    void MnNewProjectClick();
    void MnOpenProjectClick();
    void MnSaveProjectClick();
    void MnSaveProjectAsClick();

    // Opens `fileName` as a project (command line); the project is not modified after.
    void OpenProjectFile(const QString& fileName);

    // Asks the save prompt when the project is modified. False when the user cancelled,
    // so whatever was about to discard the project must not go on. "否" drops the
    // autosaved copy with the changes.
    bool ConfirmDiscardProject();

    // The copy of the project kept while it has unsaved changes; the main window starts
    // its clock. It is removed whenever the project becomes unmodified (save, new, open).
    TProjectAutosave& Autosave() { return FAutosave; }
    // Offers the copy an earlier run left behind ("恢复"/"放弃"), naming the project and
    // the time of the copy. "恢复" reads it into the project, which then belongs to its
    // own file again and counts as modified; "放弃" removes the copy; closing the
    // question keeps it for the next start. True when the copy was restored.
    bool OfferRecovery();

    // The page's buttons.
    void BrnBrowseAudioClick();
    void BrnOpenLyricsClick();
    void BtnEditLyircsClick();
    void BtnAdjustTimeClick();
    void BtnExportLyricsClick();
    void BtnPictureAddClick();
    void BtnRemoveClick();
    void BtnMoveLeftClick();
    void BtnMoveRightClick();
    void BtnPreviewSettingClick();
    void BtnStartConvertClick();

    // The checks before the preview, the production and the time adjuster: an audio file
    // is chosen and exists; for the time adjuster also that there are lyric rows. Each
    // failed check shows its warning, focuses the control concerned and returns false.
    bool CheckAudioFile();
    bool CheckLyricRows();

    // Adds the photos at `files` to the end of the list (as the add dialog does). Stops at
    // the first file that cannot be decoded, after showing why. Returns how many were added.
    int AddPhotos(const QStringList& files);
    // The thumbnail image shown for the photo at `index` in the list.
    QImage ThumbnailAt(int index) const;

signals:
    void EditLyricsRequested();
    void AdjustTimeRequested();
    void PreviewRequested();
    void ConvertRequested();

private:
    std::unique_ptr<Ui::TVideoMakePage> ui;
    TProjectAutosave FAutosave;

    // The open dialog for existing files of the kind `filter` names, starting in the
    // folder the last file of that kind was picked from; no files when cancelled.
    QStringList ChooseExistingFiles(const QString& filter, bool several);
    QString ChooseExistingFile(const QString& filter);
    void ShowRows();
    void ShowAudioFile();
    void ClearProject();
    void AppendPhotoItem(const QString& path, const QImage& thumbnail);
    void RenumberPhotos();
    void PhotoSelectionChanged(const QItemSelection& selected);
    void MovePhoto(int delta);
    bool ReadProject(const QString& fileName, const QString& namesRelativeTo = QString());
    bool WriteProject(const QString& fileName);
    QString PromptName() const;

    QHash<QString, QString> FLastFolders; // filter → folder of the last file picked
};
