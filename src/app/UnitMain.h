#pragma once

#include "state/ProgramState.h"

#include <QMainWindow>

#include <memory>

class QMenu;
class QSystemTrayIcon;
class TFmRect;
class TFmScreenRect;
class TFmScreenWindowSet;
class TFmSetRect;
class TFmToolBar;
class TFmToolHint;
class TRecordingPage;
class TScreenshotPage;
class TVideoMakePage;
namespace Ui {
class TFmMain;
}

// The main window: the page control with the 屏幕录像 and 视频制作 pages (and the
// hidden ones), the main menu, the tray icon with its menu, hiding to the tray and
// ending the program. Main thread only.
class TFmMain : public QMainWindow, public TMainWindowLink {
    Q_OBJECT
public:
    explicit TFmMain(QWidget* parent = nullptr);
    ~TFmMain() override;

    // The windows created after the main window at start-up.
    struct TStartupWindows {
        TFmSetRect* SetRect = nullptr;
        TFmRect* Rect = nullptr;
        TFmToolHint* ToolHint = nullptr;
        TFmToolBar* ToolBar = nullptr;
        TFmScreenRect* ScreenRect = nullptr;
        TFmScreenWindowSet* ScreenWindowSet = nullptr;
    };
    void AttachStartupWindows(const TStartupWindows& windows);
    const TStartupWindows& StartupWindows() const { return FWindows; }

    // TMainWindowLink
    QWidget* Window() override { return this; }
    int ActiveTabIndex() const override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    void BringToForeground() override;
    TTrayRecordingItems TrayRecordingItems() override;

    // Selects the visible tab `index`; an index naming no visible tab changes nothing.
    void SetActiveTabIndex(int index);

    // Applies the settings once every start-up window exists (posted by the creation).
    void WMReadOptions();
    // True once WMReadOptions has run.
    bool OptionsApplied() const { return FOptionsApplied; }
    // The user picked a tab.
    void PageControl1Change();
    // The close box: writes the settings and hides; true when the program is to end.
    bool FormCloseQuery();

    void MnExitClick();
    void MnMinToTrayClick();
    void MnShowMainWindowClick();
    void PopupMenuTrayPopup();
    void MnDesktopLinkClick();
    void MnStartMenuLinkClick();
    void MnHelpClick();
    void MnAboutClick();
    void MnIntroductionClick();

    // The General section of the settings file.
    void ReadGeneralSettings();
    void WriteGeneralSettings();

    TRecordingPage* RecordingPage() const { return FRecordingPage; }
    TVideoMakePage* VideoMakePage() const { return FVideoMakePage; }
    TScreenshotPage* ScreenshotPage() const { return FScreenshotPage; }
    QSystemTrayIcon* TrayIcon1() const { return FTrayIcon1; }
    QMenu* PopupMenuTray() const { return FPopupMenuTray; }

    // Stops a running recording and waits until its file is finalised.
    void StopRecordingIfRunning();

    // The caption rule: "Vexmira2.0 - " followed by the active tab's caption.
    void UpdateCaption();

signals:
    // The program is to end (exit command, or the close box with hide-on-close off).
    void TerminateRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void UpdateProjectMenu();
    void CreateTray();
    // Hides the window to the tray, or minimizes it where the desktop has no tray.
    void HideToTray();
    void SetToolBarShowWindowHint(const QString& hint);

    std::unique_ptr<Ui::TFmMain> ui;
    TStartupWindows FWindows;
    TRecordingPage* FRecordingPage = nullptr;
    TVideoMakePage* FVideoMakePage = nullptr;
    TScreenshotPage* FScreenshotPage = nullptr;
    QSystemTrayIcon* FTrayIcon1 = nullptr;
    QMenu* FPopupMenuTray = nullptr;
    QAction* FMnStart = nullptr;
    QAction* FMnPause = nullptr;
    QAction* FMnResume = nullptr;
    QAction* FMnStop = nullptr;
    QAction* FMnShowMainWindow = nullptr;
    QAction* FMnExit1 = nullptr;
    bool FOptionsApplied = false;
    // Set once the program has decided to end: later close requests are accepted as they come.
    bool FEnding = false;
    bool FSelectingTab = false; // programmatic tab changes do not run PageControl1Change
};
