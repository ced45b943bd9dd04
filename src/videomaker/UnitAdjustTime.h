#pragma once

#include "media/FFPlay.h"

#include <QDialog>
#include <QMenu>
#include <QTimer>

#include <memory>
#include <vector>

class QAction;
class QTreeWidget;
namespace Ui {
class TFmAdjustTime;
}

// The time adjuster ("调整时间"): plays the song and stamps the playing time on the
// lyric rows one after the other as the user presses "捕捉时间" in time with the music.
// It works on its own copy of the rows; OK writes the tags back (StoreTags). The player
// is stopped when the window closes. Main thread only.
//
// Mistakes can be mended while timing: "撤销捕捉" (or Backspace) takes back the last stamp
// and plays again from shortly before the row above, any row can be replayed (double
// click or "从选中行重放"), the song can play slower with its pitch kept, and a reaction
// offset is subtracted from every stamp. Stamps are always in the song's own time.
class TFmAdjustTime : public QDialog {
    Q_OBJECT
public:
    // Copies the column captions and the rows of `lyrics` (order, tag, text and the
    // selection; the first row is selected when none is) and opens `audioFile` paused.
    TFmAdjustTime(QWidget* parent, const QTreeWidget* lyrics, const QString& audioFile);
    ~TFmAdjustTime() override;

    // The adjuster of the 视频制作 page over the current project and the page's list. On
    // OK the tags go into the project's rows, RowTimes and LyricText are rebuilt, the
    // project is modified and the reaction offset is remembered. True on OK.
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

    // How far before a row's time the song starts when a row is replayed or a stamp
    // taken back, in microseconds.
    static constexpr int64_t ReplayLead = 2000000;
    // Takes back the last stamp still standing: its row gets its previous tag back and
    // is the next row to stamp, and the song plays on from ReplayLead before the time of
    // the row above it. Repeated, it walks further back. Nothing when no stamp stands.
    void BtnUndoClick();
    // Replays from the selected row (ReplayFromRow).
    void BtnReplayClick();
    // Plays from ReplayLead before the time of the row `index` (its own tag, else the
    // nearest tag above it, else the start) and makes it the next row to stamp.
    void ReplayFromRow(int index);
    // The playing speed chosen in ComboBoxSpeed (1, 0.75 or 0.5).
    void ComboBoxSpeedChange();
    // Remembers the reaction offset of the window in the settings and the settings file.
    void StoreReactionOffset() const;

    // How many stamps can be taken back.
    int UndoCount() const { return int(FStamps.size()); }

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

    // One stamp as it can be taken back: the row it changed and the tag it replaced.
    struct TStamp {
        int Row;
        QString OldTag;
    };
    std::vector<TStamp> FStamps;

    void SetButtons(bool start, bool pause, bool resume, bool stop, bool capture);
    void PlayingState();
    void ShowRow(int index);
    void SelectRow(int index);
    // The time of the row's tag, else of the nearest tagged row above it, else 0 (µs).
    int64_t ReferenceTime(int index) const;
    // Seeks to ReplayLead before `time` (not before the start) and plays.
    void PlayFrom(int64_t time);
    void UpdateTimingButtons();
};
