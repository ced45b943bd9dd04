#pragma once

#include <QWidget>

class QAction;

// The 视频制作 page of the main window: the song, the lyrics and the photos of the
// current project, and the project commands of the main menu. Main thread only.
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
    // so whatever was about to discard the project must not go on.
    bool ConfirmDiscardProject();
};
