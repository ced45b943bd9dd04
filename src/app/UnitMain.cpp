#include "app/UnitMain.h"

#include "app/UnitAbout.h"
#include "app/UnitIntroduction.h"
#include "platform/Shell.h"
#include "platform/Xdg.h"
#include "recording/RecordingPage.h"
#include "recording/UnitRect.h"
#include "recording/UnitToolBar.h"
#include "screenshot/ScreenshotPage.h"
#include "state/Icons.h"
#include "state/InstallLayout.h"
#include "state/OutputFile.h"
#include "ui_UnitMain.h"
#include "videomaker/VideoMakePage.h"
#include "videomaker/VideoMakeSettings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QVBoxLayout>

namespace {

const QString kNoHotKey = QStringLiteral("禁用热键");

// Fills a page of the page control with `content`.
void PutOnPage(QWidget* page, QWidget* content) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
}

// Tabs drawn like push buttons.
const char* const kButtonTabs = R"(
QTabWidget::pane { border: 1px solid palette(mid); top: -1px; }
QTabBar::tab { padding: 3px 12px; margin: 2px 2px 3px 0; border: 1px solid palette(dark);
               border-radius: 2px; background: palette(button); }
QTabBar::tab:selected { background: palette(midlight); border-style: inset; }
)";

} // namespace

TFmMain::TFmMain(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::TFmMain>()) {
    ui->setupUi(this);
    FormCreate();
}

TFmMain::~TFmMain() {
    if (ProgramState().MainWindow == this)
        ProgramState().MainWindow = nullptr;
}

void TFmMain::FormCreate() {
    TProgramState& state = ProgramState();
    state.MainWindow = this;

    setWindowIcon(AppIcon());
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);

    // The pages of the page control; the screenshot tab and the spare pages stay hidden.
    ui->PageControl1->setStyleSheet(QString::fromLatin1(kButtonTabs));
    ui->PageControl1->tabBar()->setDrawBase(false);
    FRecordingPage = new TRecordingPage(ui->TabSheetvideoCapture);
    PutOnPage(ui->TabSheetvideoCapture, FRecordingPage);
    FVideoMakePage = new TVideoMakePage(ui->TabSheetVideoMake);
    PutOnPage(ui->TabSheetVideoMake, FVideoMakePage);
    FScreenshotPage = new TScreenshotPage(ui->TabSheetScreenshot);
    PutOnPage(ui->TabSheetScreenshot, FScreenshotPage);
    for (int i = 2; i < ui->PageControl1->count(); ++i)
        ui->PageControl1->setTabVisible(i, false);

    // Fixed size: a 614 × 422 client area below the menu.
    ui->centralwidget->setFixedSize(614, 422);
    ui->PageControl1->setGeometry(0, 0, 614, 422);
    setFixedSize(614, 422 + ui->MainMenu1->sizeHint().height());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    setWindowTitle(QStringLiteral("Vexmira2.0"));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    // Hints stay on screen for 15 seconds.
    for (QWidget* w : findChildren<QWidget*>())
        if (!w->toolTip().isEmpty())
            w->setToolTipDuration(15000);

    state.AppDir = QCoreApplication::applicationDirPath() + u'/';
    const QString settingsDir = Xdg::ConfigHome() + QStringLiteral("/Vexmira");
    QDir().mkpath(settingsDir);
    state.IniFileName = settingsDir + QStringLiteral("/Vexmira20.ini");
    state.CaptureFileName.clear();

    // Hotkeys begin disabled at every start.
    FRecordingPage->FillHotKeyBoxes();

    // The video font starts as the menu font; the video-making settings start from
    // their defaults and then from the settings file.
    state.LyricsFont = QApplication::font("QMenu");
    SetVideoMakeDefaults();
    ReadVideoMakeSection();

    ui->MnSaveProject->setEnabled(false);
    FVideoMakePage->AttachSaveAction(ui->MnSaveProject);
    // The project is copied aside while it has unsaved changes.
    FVideoMakePage->Autosave().Start();
    UpdateProjectMenu();
    CreateTray();

    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!FSelectingTab)
            PageControl1Change();
    });
    connect(ui->MnNewProject, &QAction::triggered, FVideoMakePage,
            &TVideoMakePage::MnNewProjectClick);
    connect(ui->MnOpenProject, &QAction::triggered, FVideoMakePage,
            &TVideoMakePage::MnOpenProjectClick);
    connect(ui->MnSaveProject, &QAction::triggered, FVideoMakePage,
            &TVideoMakePage::MnSaveProjectClick);
    connect(ui->MnSaveProjectAs, &QAction::triggered, FVideoMakePage,
            &TVideoMakePage::MnSaveProjectAsClick);
    connect(ui->MnDesktopLink, &QAction::triggered, this, &TFmMain::MnDesktopLinkClick);
    connect(ui->MnStartMenuLink, &QAction::triggered, this, &TFmMain::MnStartMenuLinkClick);
    // MnHideWhenClose is a checkable item: choosing it inverts its own tick.
    connect(ui->MnMinToTray, &QAction::triggered, this, &TFmMain::MnMinToTrayClick);
    connect(ui->MnExit, &QAction::triggered, this, &TFmMain::MnExitClick);
    connect(ui->MnHelp, &QAction::triggered, this, &TFmMain::MnHelpClick);
    connect(ui->MnAbout, &QAction::triggered, this, &TFmMain::MnAboutClick);
    connect(ui->MnIntroduction, &QAction::triggered, this, &TFmMain::MnIntroductionClick);

    // The settings are applied once the other start-up windows exist.
    QMetaObject::invokeMethod(this, &TFmMain::WMReadOptions, Qt::QueuedConnection);
}

void TFmMain::CreateTray() {
    FPopupMenuTray = new QMenu(this);
    FPopupMenuTray->setObjectName(QStringLiteral("PopupMenuTray"));
    auto item = [this](const char* name, const QString& caption) {
        QAction* a = FPopupMenuTray->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    FMnStart = item("MnStart", QStringLiteral("开始录像"));
    FMnPause = item("MnPause", QStringLiteral("暂停录像"));
    FMnResume = item("MnResume", QStringLiteral("继续录像"));
    FMnStop = item("MnStop", QStringLiteral("停止录像"));
    for (QAction* a : {FMnPause, FMnResume, FMnStop})
        a->setEnabled(false);
    item("N1", QStringLiteral("屏幕录像"))->setVisible(false);
    item("N7", QStringLiteral("屏幕拍照"))->setVisible(false);
    FPopupMenuTray->addSeparator();
    FMnShowMainWindow = item("MnShowMainWindow", QStringLiteral("显示主窗口"));
    FMnExit1 = item("MnExit1", QStringLiteral("退出程序"));

    // The tray items act through the page's buttons, whose states they mirror.
    connect(FMnStart, &QAction::triggered, FRecordingPage->BtnStart(), &QPushButton::click);
    connect(FMnPause, &QAction::triggered, FRecordingPage->BtnPause(), &QPushButton::click);
    connect(FMnResume, &QAction::triggered, FRecordingPage->BtnResume(), &QPushButton::click);
    connect(FMnStop, &QAction::triggered, FRecordingPage->BtnStop(), &QPushButton::click);
    connect(FMnShowMainWindow, &QAction::triggered, this, &TFmMain::MnShowMainWindowClick);
    connect(FMnExit1, &QAction::triggered, this, &TFmMain::MnExitClick);
    connect(FPopupMenuTray, &QMenu::aboutToShow, this, &TFmMain::PopupMenuTrayPopup);

    FTrayIcon1 = new QSystemTrayIcon(AppIcon(), this);
    FTrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    FTrayIcon1->setToolTip(QStringLiteral("Vexmira"));
    FTrayIcon1->setContextMenu(FPopupMenuTray);
    // Any button released over the icon opens the menu at the cursor.
    connect(FTrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick ||
                    reason == QSystemTrayIcon::DoubleClick)
                    FPopupMenuTray->popup(QCursor::pos());
            });
    // Shown even while no tray is there: a tray that comes later (a panel started after
    // the program) picks the icon up.
    FTrayIcon1->show();
}

void TFmMain::HideToTray() {
    // Where the desktop has no tray, nothing could bring a hidden window back: it is
    // minimized instead, and stays in reach of the desktop's task list.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void TFmMain::AttachStartupWindows(const TStartupWindows& windows) {
    FWindows = windows;
    FRecordingPage->SetAreaFrame(windows.Rect);
    FRecordingPage->SetSelectionWindow(windows.SetRect);
}

int TFmMain::ActiveTabIndex() const {
    const QTabWidget* pages = ui->PageControl1;
    int visible = 0;
    for (int i = 0; i < pages->currentIndex(); ++i)
        if (pages->isTabVisible(i))
            ++visible;
    return visible;
}

void TFmMain::SetActiveTabIndex(int index) {
    QTabWidget* pages = ui->PageControl1;
    int visible = -1;
    for (int i = 0; i < pages->count(); ++i) {
        if (pages->isTabVisible(i) && ++visible == index) {
            FSelectingTab = true;
            pages->setCurrentIndex(i);
            FSelectingTab = false;
            return;
        }
    }
}

void TFmMain::UpdateCaption() {
    const QTabWidget* pages = ui->PageControl1;
    setWindowTitle(QStringLiteral("Vexmira2.0 - ") + pages->tabText(pages->currentIndex()));
}

void TFmMain::UpdateProjectMenu() {
    const bool project = ActiveTabIndex() == 1;
    for (QAction* a : {ui->MnNewProject, ui->MnOpenProject, ui->MnSaveProject, ui->MnSaveProjectAs,
                       ui->MnProject})
        a->setVisible(project);
}

void TFmMain::ShowMainWindow() {
    show();
    BringToForeground();
}

void TFmMain::HideMainWindow() {
    HideToTray();
}

void TFmMain::BringToForeground() {
    if (!isVisible())
        return;
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

TTrayRecordingItems TFmMain::TrayRecordingItems() {
    return {FMnStart, FMnPause, FMnResume, FMnStop};
}

void TFmMain::WMReadOptions() {
    ReadGeneralSettings();
    ReadVideoMakeSection();

    // A project whose changes an earlier run could not save is offered first; restored,
    // it takes the place of a project named on the command line.
    const bool restored = FVideoMakePage->OfferRecovery();
    if (restored) {
        SetActiveTabIndex(1);
        UpdateCaption();
        UpdateProjectMenu();
    }

    // One argument naming an existing file is a project to open.
    const QStringList& args = ProgramState().Arguments;
    if (!restored && args.size() == 1 && QFileInfo(args.at(0)).isFile()) {
        SetActiveTabIndex(1);
        UpdateCaption();
        UpdateProjectMenu();
        FVideoMakePage->OpenProjectFile(QFileInfo(args.at(0)).absoluteFilePath());
        ui->MnSaveProject->setEnabled(false);
    }

    FOptionsApplied = true;
    if (!ProgramState().ShowIntroduction)
        MnIntroductionClick();
}

void TFmMain::PageControl1Change() {
    UpdateCaption();
    // Changing tabs ends a recording.
    StopRecordingIfRunning();
    UpdateProjectMenu();
    if (ActiveTabIndex() != 0)
        FRecordingPage->HideAreaFrame();
    else
        FRecordingPage->ApplyAreaFrameRule();
}

void TFmMain::StopRecordingIfRunning() {
    QPushButton* stop = FRecordingPage->BtnStop();
    if (stop->isEnabled())
        stop->click();
}

void TFmMain::SetToolBarShowWindowHint(const QString& hint) {
    if (FWindows.ToolBar != nullptr)
        FWindows.ToolBar->SetShowWindowHint(hint);
}

bool TFmMain::FormCloseQuery() {
    const bool ending = !ui->MnHideWhenClose->isChecked();
    // An unsaved project is offered for saving before the program ends; cancelling the
    // prompt keeps the program as it was.
    if (ending && !FVideoMakePage->ConfirmDiscardProject())
        return false;
    WriteGeneralSettings();
    if (ending)
        hide();
    else
        HideToTray();
    SetToolBarShowWindowHint(QStringLiteral("显示主窗口"));
    // A recording is finished properly before the program ends, so its file is complete.
    if (ending)
        StopRecordingIfRunning();
    return ending;
}

void TFmMain::closeEvent(QCloseEvent* event) {
    // Ending the program closes its windows once more; the question was asked already.
    if (FEnding) {
        event->accept();
        return;
    }
    if (FormCloseQuery()) {
        FEnding = true;
        event->accept();
        emit TerminateRequested();
    } else {
        event->ignore();
    }
}

void TFmMain::MnExitClick() {
    if (!FVideoMakePage->ConfirmDiscardProject())
        return;
    StopRecordingIfRunning();
    WriteGeneralSettings();
    FEnding = true;
    emit TerminateRequested();
}

void TFmMain::MnMinToTrayClick() {
    HideToTray();
    SetToolBarShowWindowHint(QStringLiteral("显示主窗口"));
}

void TFmMain::MnShowMainWindowClick() {
    ShowMainWindow();
    SetToolBarShowWindowHint(QStringLiteral("隐藏主窗口"));
}

void TFmMain::PopupMenuTrayPopup() {
    const TTrayRecordingItems items = TrayRecordingItems();
    items.MnStart->setEnabled(FRecordingPage->BtnStart()->isEnabled());
    items.MnResume->setEnabled(FRecordingPage->BtnResume()->isEnabled());
    items.MnPause->setEnabled(FRecordingPage->BtnPause()->isEnabled());
    items.MnStop->setEnabled(FRecordingPage->BtnStop()->isEnabled());

    // The hotkey names are shown beside the items; the keys themselves act elsewhere.
    auto shown = [](const QString& name) {
        return (name.isEmpty() || name == kNoHotKey) ? QString() : u'\t' + name;
    };
    const TProgramState& state = ProgramState();
    items.MnStart->setText(QStringLiteral("开始录像") + shown(state.PauseHotKeyName));
    items.MnResume->setText(QStringLiteral("继续录像") + shown(state.PauseHotKeyName));
    items.MnPause->setText(QStringLiteral("暂停录像") + shown(state.PauseHotKeyName));
    items.MnStop->setText(QStringLiteral("停止录像") + shown(state.StopHotKeyName));
}

namespace {

// The icon of the entries: the theme's icon of an installed program, else a copy of the
// program icon in the user's icon folder.
QString EntryIcon() {
    const QString name = InstalledIconNameOf(QCoreApplication::applicationFilePath());
    return name.isEmpty() ? AppIconFile() : name;
}

} // namespace

void TFmMain::MnDesktopLinkClick() {
    Shell::CreateDesktopEntry(Xdg::DesktopFolder(), QCoreApplication::applicationFilePath(),
                              EntryIcon());
}

void TFmMain::MnStartMenuLinkClick() {
    const QString entry = Shell::CreateDesktopEntry(
        Xdg::ApplicationsFolder(), QCoreApplication::applicationFilePath(), EntryIcon());
    if (!entry.isEmpty())
        setWindowTitle(entry);
}

void TFmMain::MnHelpClick() {
    const QString help = HelpFileOf(QCoreApplication::applicationFilePath());
    if (!help.isEmpty())
        OpenWithDesktop(this, help);
}

void TFmMain::MnAboutClick() {
    TFmAbout about(this);
    about.exec();
}

void TFmMain::MnIntroductionClick() {
    TFmIntroduction intro(this);
    intro.SetDoNotShowAgain(ProgramState().ShowIntroduction);
    intro.exec();
    ProgramState().ShowIntroduction = intro.DoNotShowAgain();
    WriteGeneralSettings();
}

void TFmMain::ReadGeneralSettings() {
    TProgramState& state = ProgramState();
    const TProfile profile = state.Settings();
    const QString g = GeneralSection();

    FRecordingPage->SpinEditLeftChange();
    FRecordingPage->RBtnScreenCapture()->setChecked(true);

    SetActiveTabIndex(profile.ReadInteger(g, QStringLiteral("PageIndex"), 0));
    UpdateCaption();
    UpdateProjectMenu();

    ui->MnHideWhenClose->setChecked(profile.ReadBool(g, QStringLiteral("HideWhenClose"), false));
    state.ShowIntroduction = profile.ReadBool(g, QStringLiteral("ShowIntroduction"), false);

    FRecordingPage->ReadGeneralSettings(profile);

    const QString pictures = profile.ReadString(g, QStringLiteral("PictureDir"), QString());
    state.PictureDir =
        (!pictures.isEmpty() && QFileInfo(pictures).isDir()) ? pictures : Xdg::PicturesFolder();
    FScreenshotPage->ShowPictureDir(state.PictureDir);
}

void TFmMain::WriteGeneralSettings() {
    const TProgramState& state = ProgramState();
    const TProfile profile = state.Settings();
    const QString g = GeneralSection();
    profile.WriteInteger(g, QStringLiteral("PageIndex"), ActiveTabIndex());
    profile.WriteBool(g, QStringLiteral("HideWhenClose"), ui->MnHideWhenClose->isChecked());
    profile.WriteBool(g, QStringLiteral("ShowIntroduction"), state.ShowIntroduction);
    FRecordingPage->WriteGeneralSettings(profile);
    profile.WriteString(g, QStringLiteral("PictureDir"), state.PictureDir);
    FRecordingPage->WriteSoundSourceSetting(profile);
}
