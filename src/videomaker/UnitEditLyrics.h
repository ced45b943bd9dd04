#pragma once

#include <QDialog>
#include <QTimer>

#include <memory>

namespace Ui {
class TFmEditLyrics;
}

// The lyric editor ("编辑歌词"): the lyric text as plain text, with clipboard buttons,
// sorting by time and merging lines of the same time. Every 20 ms the buttons are
// enabled for what they can do now. "确定" normalises the text (split, sorted,
// information tags dropped) and closes with OK. Main thread only.
class TFmEditLyrics : public QDialog {
    Q_OBJECT
public:
    explicit TFmEditLyrics(QWidget* parent = nullptr);
    ~TFmEditLyrics() override;

    // The editor of the 视频制作 page: starts from the rows of the current project (each
    // row's tag followed by its text); on OK the project's LyricText becomes the edited
    // text, the rows are laid out again and the project is modified. True on OK.
    static bool EditProjectLyrics(QWidget* parent);

    QString Text() const;
    void SetText(const QString& text);

    void SBtnCutClick();
    void SBtnCopyClick();
    void SBtnPasteClick();
    void SBtnSeleteAllClick();
    void SBtnDeleteClick();
    void BtnSortClick();
    void BtnMergerClick();
    void CheckBoxWordWarpClick();
    void BtnOkClick();
    void Timer1Timer(); // the enabling rules

private:
    std::unique_ptr<Ui::TFmEditLyrics> ui;
    QTimer Timer1;
};
