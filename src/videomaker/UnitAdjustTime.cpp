#include "videomaker/UnitAdjustTime.h"

#include "media/MainThread.h"
#include "ui_UnitAdjustTime.h"
#include "videomaker/LyricText.h"
#include "videomaker/SongPlayer.h"
#include "videomaker/VideoMakeSettings.h"
#include "videomaker/VideoProject.h"

#include <QHeaderView>
#include <QTreeWidget>

#include <algorithm>

namespace {

// The playing speeds offered, slowest first; the last is the song's own speed.
const std::pair<const char16_t*, double> Speeds[] = {
    {u"0.5 倍", 0.5}, {u"0.75 倍", 0.75}, {u"1 倍", 1.0}};

} // namespace

TFmAdjustTime::TFmAdjustTime(QWidget* parent, const QTreeWidget* lyrics, const QString& audioFile)
    : QDialog(parent), ui(std::make_unique<Ui::TFmAdjustTime>()), FPMLyrics(this) {
    ui->setupUi(this);
    FMnBeginning = FPMLyrics.addAction(QStringLiteral("从开始位置进行调整"));
    FMnCurrent = FPMLyrics.addAction(QStringLiteral("从当前位置进行调整"));
    FMnBeginning->setObjectName(QStringLiteral("MnBeginning"));
    FMnCurrent->setObjectName(QStringLiteral("MnCurrent"));
    ui->BtnStart->setMenu(&FPMLyrics);
    connect(&FPMLyrics, &QMenu::aboutToShow, this,
            [this] { FMnCurrent->setEnabled(!ui->ListViewLyrics->selectedItems().isEmpty()); });
    connect(FMnBeginning, &QAction::triggered, this, &TFmAdjustTime::MnBeginningClick);
    connect(FMnCurrent, &QAction::triggered, this, &TFmAdjustTime::MnCurrentClick);
    connect(ui->BtnCapture, &QPushButton::clicked, this, &TFmAdjustTime::BtnCaptureClick);
    connect(ui->BtnPause, &QPushButton::clicked, this, &TFmAdjustTime::BtnPauseClick);
    connect(ui->BtnResume, &QPushButton::clicked, this, &TFmAdjustTime::BtnResumeClick);
    connect(ui->BtnStop, &QPushButton::clicked, this, &TFmAdjustTime::BtnStopClick);
    connect(ui->BtnUndo, &QPushButton::clicked, this, &TFmAdjustTime::BtnUndoClick);
    connect(ui->BtnReplay, &QPushButton::clicked, this, &TFmAdjustTime::BtnReplayClick);
    connect(ui->ListViewLyrics, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) {
                ReplayFromRow(ui->ListViewLyrics->indexOfTopLevelItem(item));
            });
    connect(ui->ListViewLyrics, &QTreeWidget::itemSelectionChanged, this,
            &TFmAdjustTime::UpdateTimingButtons);
    // Backspace takes back the last stamp wherever the focus is, except while a number is
    // being typed into the offset box.
    ui->BtnUndo->setShortcut(QKeySequence(Qt::Key_Backspace));
    for (const auto& [caption, speed] : Speeds)
        ui->ComboBoxSpeed->addItem(QString::fromUtf16(caption), speed);
    ui->ComboBoxSpeed->setCurrentIndex(ui->ComboBoxSpeed->count() - 1);
    connect(ui->ComboBoxSpeed, &QComboBox::currentIndexChanged, this,
            &TFmAdjustTime::ComboBoxSpeedChange);
    ui->SpinEditOffset->setRange(MinReactionOffset, MaxReactionOffset);
    ui->SpinEditOffset->setValue(VideoMakeSettings().ReactionOffset);
    connect(ui->BtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&Timer1, &QTimer::timeout, this, &TFmAdjustTime::Timer1Timer);
    Timer1.setInterval(30);

    // The own copy of the rows.
    QTreeWidget* list = ui->ListViewLyrics;
    if (lyrics) {
        const QTreeWidgetItem* header = lyrics->headerItem();
        for (int c = 0; c < 3 && c < header->columnCount(); ++c)
            list->headerItem()->setText(c, header->text(c));
        for (int i = 0; i < lyrics->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = lyrics->topLevelItem(i);
            auto* item = new QTreeWidgetItem(QStringList{row->text(0), row->text(1), row->text(2)});
            list->addTopLevelItem(item);
            if (row->isSelected())
                item->setSelected(true);
        }
    }
    list->header()->setStretchLastSection(false);
    list->header()->resizeSection(2, 400);
    if (list->selectedItems().isEmpty() && list->topLevelItemCount() > 0)
        list->topLevelItem(0)->setSelected(true);
    if (!list->selectedItems().isEmpty())
        list->setCurrentItem(list->selectedItems().first());

    FFPlayer1.SetOnFileOpen([this](QObject*, int64_t duration, int, int, int&, int&) {
        AInputAudioDuration = duration;
    });
    FSongOpen = OpenSongPaused(FFPlayer1, ui->PanelScreen, audioFile, this);
    if (!FSongOpen)
        ui->BtnStart->setEnabled(false);
    UpdateTimingButtons();
}

TFmAdjustTime::~TFmAdjustTime() = default;

bool TFmAdjustTime::AdjustProjectTimes(QWidget* parent, const QTreeWidget* lyrics) {
    TFmAdjustTime dialog(parent, lyrics, VideoProject().AudioFile);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.StoreTags();
    dialog.StoreReactionOffset();
    return true;
}

void TFmAdjustTime::StoreReactionOffset() const {
    VideoMakeSettings().ReactionOffset = ui->SpinEditOffset->value();
    WriteReactionOffset();
}

void TFmAdjustTime::StoreTags() const {
    TVideoProject& project = VideoProject();
    QList<TLyricRow> rows = project.Rows;
    const QTreeWidget* list = ui->ListViewLyrics;
    for (int i = 0; i < rows.size() && i < list->topLevelItemCount(); ++i)
        rows[i].Tag = list->topLevelItem(i)->text(1);
    QString text;
    for (const TLyricRow& row : rows) {
        text += row.Tag + row.Text;
        text += LyricLineBreak;
    }
    project.LyricText = text;
    project.SetRows(rows); // rebuilds RowTimes and shows the tags on the page
    project.SetModified(true);
}

void TFmAdjustTime::done(int result) {
    Timer1.stop();
    FFPlayer1.Stop(false);
    FFPlayer1.SetOnPosition(nullptr);
    FFPlayer1.SetOnState(nullptr);
    FFPlayer1.SetOnFileOpen(nullptr);
    QDialog::done(result);
}

void TFmAdjustTime::ShowRow(int index) {
    if (QTreeWidgetItem* item = ui->ListViewLyrics->topLevelItem(index))
        ui->ListViewLyrics->scrollToItem(item);
}

void TFmAdjustTime::SetButtons(bool start, bool pause, bool resume, bool stop, bool capture) {
    ui->BtnStart->setEnabled(start);
    ui->BtnPause->setEnabled(pause);
    ui->BtnResume->setEnabled(resume);
    ui->BtnStop->setEnabled(stop);
    ui->BtnCapture->setEnabled(capture);
}

void TFmAdjustTime::PlayingState() {
    SetButtons(false, true, false, true, true);
    Timer1.start();
    ui->BtnCapture->setFocus();
}

void TFmAdjustTime::MnBeginningClick() {
    if (!FSongOpen)
        return;
    FAdjustIndex = 0;
    ui->ListViewLyrics->clearSelection();
    ShowRow(0);
    FFPlayer1.Seek(0);
    FFPlayer1.Resume();
    PlayingState();
}

void TFmAdjustTime::MnCurrentClick() {
    if (!FSongOpen)
        return;
    FAdjustIndex = 0;
    int64_t start = 0;
    QTreeWidget* list = ui->ListViewLyrics;
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    const int from = selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
    for (int i = from; i >= 0; --i) {
        const QString tag = list->topLevelItem(i)->text(1);
        if (!tag.isEmpty()) {
            start = int64_t(TimeTagMilliseconds(tag)) * 1000;
            FAdjustIndex = i + 1;
            break;
        }
    }
    ShowRow(FAdjustIndex > 0 ? FAdjustIndex - 1 : 0);
    FFPlayer1.Seek(start, sfAny);
    FFPlayer1.Resume();
    PlayingState();
}

void TFmAdjustTime::BtnCaptureClick() {
    if (!FSongOpen)
        return;
    QTreeWidget* list = ui->ListViewLyrics;
    const int count = list->topLevelItemCount();
    if (count == 0)
        return;
    if (FAdjustIndex >= count)
        FAdjustIndex = count - 1;
    QTreeWidgetItem* item = list->topLevelItem(FAdjustIndex);
    list->clearSelection();
    item->setSelected(true);
    list->setCurrentItem(item);
    ShowRow(FAdjustIndex + 3 < count ? FAdjustIndex + 3 : count - 1);
    // The user's usual lateness comes off the time heard; a stamp never goes before the
    // start of the song.
    const int64_t heard = FFPlayer1.CurrentPTS() - int64_t(ui->SpinEditOffset->value()) * 1000;
    FStamps.push_back({FAdjustIndex, item->text(1)});
    item->setText(1, u'[' + PlayTimeText(std::max<int64_t>(heard, 0)) + u']');
    ++FAdjustIndex;
    if (FAdjustIndex > 0 && FAdjustIndex < count)
        ShowRow(FAdjustIndex - 1);
    UpdateTimingButtons();
}

void TFmAdjustTime::SelectRow(int index) {
    QTreeWidget* list = ui->ListViewLyrics;
    QTreeWidgetItem* item = list->topLevelItem(index);
    if (!item)
        return;
    list->clearSelection();
    item->setSelected(true);
    list->setCurrentItem(item);
    ShowRow(index);
}

int64_t TFmAdjustTime::ReferenceTime(int index) const {
    const QTreeWidget* list = ui->ListViewLyrics;
    for (int i = std::min(index, list->topLevelItemCount() - 1); i >= 0; --i) {
        const QString tag = list->topLevelItem(i)->text(1);
        if (!tag.isEmpty())
            return int64_t(TimeTagMilliseconds(tag)) * 1000;
    }
    return 0;
}

void TFmAdjustTime::PlayFrom(int64_t time) {
    // Without a song there is nothing to play; the rows still change.
    if (FFPlayer1.FileName().isEmpty())
        return;
    // A seek asked for while another is pending would be dropped: the pending one (the
    // rewind on opening, a change of speed) is let finish first.
    WaitServingMainThreadCalls([this] { return !FFPlayer1.Seeking(); }, 1000);
    FFPlayer1.Seek(std::max<int64_t>(time - ReplayLead, 0), 0, true);
    FFPlayer1.Resume();
    PlayingState();
}

void TFmAdjustTime::BtnUndoClick() {
    if (FStamps.empty())
        return;
    const TStamp stamp = FStamps.back();
    FStamps.pop_back();
    if (QTreeWidgetItem* item = ui->ListViewLyrics->topLevelItem(stamp.Row))
        item->setText(1, stamp.OldTag);
    FAdjustIndex = stamp.Row;
    SelectRow(stamp.Row);
    UpdateTimingButtons();
    PlayFrom(stamp.Row > 0 ? ReferenceTime(stamp.Row - 1) : 0);
}

void TFmAdjustTime::BtnReplayClick() {
    const QList<QTreeWidgetItem*> selected = ui->ListViewLyrics->selectedItems();
    if (!selected.isEmpty())
        ReplayFromRow(ui->ListViewLyrics->indexOfTopLevelItem(selected.first()));
}

void TFmAdjustTime::ReplayFromRow(int index) {
    if (!FSongOpen || index < 0 || index >= ui->ListViewLyrics->topLevelItemCount())
        return;
    FAdjustIndex = index;
    SelectRow(index);
    PlayFrom(ReferenceTime(index));
}

void TFmAdjustTime::ComboBoxSpeedChange() {
    FFPlayer1.SetTempo(ui->ComboBoxSpeed->currentData().toDouble());
}

void TFmAdjustTime::UpdateTimingButtons() {
    ui->BtnUndo->setEnabled(!FStamps.empty());
    ui->BtnReplay->setEnabled(FSongOpen && !ui->ListViewLyrics->selectedItems().isEmpty());
}

void TFmAdjustTime::BtnPauseClick() {
    FFPlayer1.Pause();
    SetButtons(false, false, true, true, false);
    Timer1.stop();
}

void TFmAdjustTime::BtnResumeClick() {
    if (!FSongOpen)
        return;
    FFPlayer1.Resume();
    PlayingState();
}

void TFmAdjustTime::BtnStopClick() {
    FFPlayer1.Pause(); // the song stays open at its position
    SetButtons(true, false, false, false, false);
    Timer1.stop();
}

void TFmAdjustTime::Timer1Timer() {
    const int64_t p = FFPlayer1.CurrentPTS();
    ui->LabelTime->setText(PlayTimeText(p));
    if (AInputAudioDuration > 0 && p >= AInputAudioDuration)
        BtnStopClick();
}
