#include "app/Startup.h"

#include "media/widgets/PreviewWindow.h"
#include "recording/RecordingPage.h"
#include "recording/UnitRect.h"
#include "recording/UnitSetRect.h"
#include "recording/UnitToolBar.h"
#include "recording/UnitToolHint.h"
#include "screenshot/ScreenshotPage.h"

#include <QCoreApplication>

TApplicationWindows::TApplicationWindows() {
    InstallPreviewWindows();
    FmMain = std::make_unique<TFmMain>();
    FmSetRect = std::make_unique<TFmSetRect>();
    FmRect = std::make_unique<TFmRect>();
    FmToolHint = std::make_unique<TFmToolHint>();
    FmToolBar = std::make_unique<TFmToolBar>(FmToolHint.get());
    FmScreenRect = std::make_unique<TFmScreenRect>();
    FmScreenWindowSet = std::make_unique<TFmScreenWindowSet>();
    FmToolBar->AttachRecordingPage(FmMain->RecordingPage());
    FmMain->AttachStartupWindows({FmSetRect.get(), FmRect.get(), FmToolHint.get(), FmToolBar.get(),
                                  FmScreenRect.get(), FmScreenWindowSet.get()});
    // The run ends once the main window has finished its exit (question, recording,
    // settings); ending closes the remaining windows without asking again.
    QObject::connect(FmMain.get(), &TFmMain::TerminateRequested, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
}

TApplicationWindows::~TApplicationWindows() {
    FmScreenWindowSet.reset();
    FmScreenRect.reset();
    FmToolBar.reset();
    FmToolHint.reset();
    FmRect.reset();
    FmSetRect.reset();
    FmMain.reset();
}
