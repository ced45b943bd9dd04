#pragma once

#include "platform/Profile.h"

#include <QFont>
#include <QString>
#include <QStringList>

class QAction;
class QWidget;

// The tray menu's recording items, kept in step with the recording buttons.
struct TTrayRecordingItems {
    QAction* MnStart = nullptr;
    QAction* MnPause = nullptr;
    QAction* MnResume = nullptr;
    QAction* MnStop = nullptr;
};

// What the windows of other subsystems may ask of the main window. The main window
// implements it and registers itself in the program state at creation.
class TMainWindowLink {
public:
    virtual ~TMainWindowLink() = default;
    virtual QWidget* Window() = 0;
    // Index of the active tab among the visible tabs (0 "屏幕录像", 1 "视频制作").
    virtual int ActiveTabIndex() const = 0;
    virtual void ShowMainWindow() = 0; // show it and bring it to the foreground
    virtual void HideMainWindow() = 0;
    virtual void BringToForeground() = 0; // raise and activate, when shown
    virtual TTrayRecordingItems TrayRecordingItems() = 0;
};

// Program-wide state, one instance for the whole run. Main thread only.
struct TProgramState {
    QString AppDir;          // folder of the executable, with a trailing '/'
    QString IniFileName;     // the settings file
    QString CaptureFileName; // full path of the file of the last recording; empty at start
    QString PauseHotKeyName; // name of the start/pause/resume hotkey ("禁用热键" or empty: none)
    QString StopHotKeyName;  // name of the stop hotkey
    QString PictureDir;      // the screenshot picture folder
    bool ShowIntroduction = false; // true: the introduction does not open at start-up
    QFont LyricsFont;              // the video font of the lyrics video maker

    // Area selection (recording page): a mouse selection is running; changes of the
    // four spin boxes do not move the area frame.
    bool SelectionInProgress = false;
    bool SpinSyncGuard = false;

    TMainWindowLink* MainWindow = nullptr;

    // The command-line arguments of the run, without the program name.
    QStringList Arguments;

    // The folder the media libraries are loaded from.
    QString LibraryPath() const { return AppDir + QStringLiteral("LibAV"); }
    // The settings file.
    TProfile Settings() const { return TProfile(IniFileName); }
};

TProgramState& ProgramState();

// The name of the settings file's section of the application shell.
inline QString GeneralSection() {
    return QStringLiteral("General");
}
