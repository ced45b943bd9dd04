#include "videomaker/SongPlayer.h"

#include "media/FFPlay.h"
#include "platform/Prompts.h"
#include "state/ProgramState.h"

#include <QWidget>

bool OpenSongPaused(TFFPlayer& player, QWidget* screen, const QString& song, QWidget* parent) {
    player.SetDisableVideo(true);
    player.SetDisableDisplay(true);
    const QString folder = ProgramState().LibraryPath();
    // Each player holds SDL itself, so a new player needs it even when another component
    // has loaded the media libraries already.
    if ((!player.AVLibLoaded() && !player.LoadAVLib(folder, true)) ||
        (!player.SDLLibLoaded() && !player.LoadSDLLib(folder))) {
        Prompts().MessageBox(parent,
                             QStringLiteral("无法载入媒体库，不能播放音频文件 %1：%2")
                                 .arg(song, player.LastErrMsg()),
                             QStringLiteral("Vexmira"), miWarning, mbOk);
        return false;
    }
    if (!player.Open(song, screen ? uintptr_t(screen->winId()) : 0, true)) {
        ShowMessage(parent,
                    QStringLiteral("无法打开音频文件 %1：%2").arg(song, player.LastErrMsg()),
                    miWarning);
        return false;
    }
    player.Seek(0);
    return true;
}

QString PlayTimeText(int64_t us) {
    const int64_t seconds = us / 1000000;
    return QString::asprintf("%.2d:%.2d.%.2d", int(seconds / 60), int(seconds % 60),
                             int((us % 1000000) / 10000));
}
