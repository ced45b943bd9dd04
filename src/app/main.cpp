#include "app/Startup.h"
#include "platform/PortalScreenCast.h"
#include "platform/Prompts.h"
#include "state/Icons.h"
#include "state/ProgramState.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char** argv) {
    // In a Wayland session the windows are native Wayland windows (XWayland only when Qt's
    // Wayland plugin is missing): the screen comes from the desktop's screen-cast portal
    // either way, an XWayland window could place itself over X11 windows only, and native
    // windows stay sharp when the desktop scales.
    if (TPortalScreenCast::IsWaylandSession() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexmira"));
    QApplication::setWindowIcon(AppIcon());
    InstallChineseQtTexts();
    // The program lives in the tray while its main window is hidden; it ends only
    // through the exit command or the close box.
    QApplication::setQuitOnLastWindowClosed(false);

    ProgramState().Arguments = QApplication::arguments().mid(1);
    TApplicationWindows windows;
    // However the session ends, a running recording is finished first so that its file
    // is complete.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, windows.FmMain.get(),
                     [&windows](QSessionManager&) { windows.FmMain->StopRecordingIfRunning(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, windows.FmMain.get(),
                     [&windows] { windows.FmMain->StopRecordingIfRunning(); });
    windows.FmMain->show();
    return app.exec();
}
