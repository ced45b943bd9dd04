#pragma once

#include "media/FFPlay.h"

#include <QDialog>
#include <QMenu>
#include <QTimer>

#include <memory>

class QAction;
class QTreeWidget;
namespace Ui {
class TFmAdjustTime;
}

// The time adjuster ("调整时间"): plays the song and stamps the playing time on the
// lyric rows one after the other as the user presses "捕捉时间" in time with the music.
// It works on its own copy of the rows; OK writes the tags back (StoreTags). The player
// is stopped when the window closes. Main thread only.
class TFmAdjustTime : public QDialog {
    Q_OBJECT
public:
    // Copies the column captions and the rows of `lyrics` (order, tag, text and the
    // selection; the first row is selected when none is) and opens `audioFile` paused.
    TFmAdjustTime(QWidget* parent, const QTreeWidget* lyrics, const QString& audioFile);
    ~TFmAdjustTime() override;

    // The adjuster of the 视频制作 page over the current project and the page's list. On
    // OK the tags go into the project's rows, RowTimes and LyricText are rebuilt and the
    // project is modified. True on OK.
    static bool AdjustProjectTimes(QWidget* parent, const QTreeWidget* lyrics);

    // Puts the tags of the own rows into the project's rows by index, rebuilds RowTimes
    // and LyricText (each row's tag and text, lines ending in CR LF) and marks the
    // project modified. The rows are not laid out again.
    void StoreTags() const;

    void MnBeginningClick();
    void MnCurrentClick();
    void BtnCaptureClick();
    void BtnPauseClick();
    void BtnResumeClick();
    void BtnStopClick();
    void Timer1Timer();

    int AdjustIndex() const { return FAdjustIndex; }
    int64_t InputAudioDuration() const { return AInputAudioDuration; }
    TFFPlayer& Player() { return FFPlayer1; }
    QAction* MnBeginning() const { return FMnBeginning; }
    QAction* MnCurrent() const { return FMnCurrent; }
    QMenu& PMLyrics() { return FPMLyrics; }

protected:
    void done(int result) override;

private:
    std::unique_ptr<Ui::TFmAdjustTime> ui;
    TFFPlayer FFPlayer1;
    QTimer Timer1;
    QMenu FPMLyrics;
    QAction* FMnBeginning;
    QAction* FMnCurrent;
    int FAdjustIndex = 0;
    int64_t AInputAudioDuration = 0;
    // Without an open song there is no clock to take times from.
    bool FSongOpen = false;

    void SetButtons(bool start, bool pause, bool resume, bool stop, bool capture);
    void PlayingState();
    void ShowRow(int index);
};
