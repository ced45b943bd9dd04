#include "videomaker/UnitEditLyrics.h"

#include "ui_UnitEditLyrics.h"
#include "videomaker/LyricText.h"
#include "videomaker/VideoProject.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

TFmEditLyrics::TFmEditLyrics(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TFmEditLyrics>()) {
    ui->setupUi(this);
    connect(ui->SBtnCut, &QToolButton::clicked, this, &TFmEditLyrics::SBtnCutClick);
    connect(ui->SBtnCopy, &QToolButton::clicked, this, &TFmEditLyrics::SBtnCopyClick);
    connect(ui->SBtnPaste, &QToolButton::clicked, this, &TFmEditLyrics::SBtnPasteClick);
    connect(ui->SBtnSeleteAll, &QToolButton::clicked, this, &TFmEditLyrics::SBtnSeleteAllClick);
    connect(ui->SBtnDelete, &QToolButton::clicked, this, &TFmEditLyrics::SBtnDeleteClick);
    connect(ui->BtnSort, &QPushButton::clicked, this, &TFmEditLyrics::BtnSortClick);
    connect(ui->BtnMerger, &QPushButton::clicked, this, &TFmEditLyrics::BtnMergerClick);
    connect(ui->CheckBoxWordWarp, &QCheckBox::clicked, this, &TFmEditLyrics::CheckBoxWordWarpClick);
    connect(ui->BtnOk, &QPushButton::clicked, this, &TFmEditLyrics::BtnOkClick);
    connect(ui->BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&Timer1, &QTimer::timeout, this, &TFmEditLyrics::Timer1Timer);
    CheckBoxWordWarpClick();
    Timer1Timer();
    Timer1.start(20);
}

TFmEditLyrics::~TFmEditLyrics() = default;

bool TFmEditLyrics::EditProjectLyrics(QWidget* parent) {
    TVideoProject& project = VideoProject();
    QStringList lines;
    for (const TLyricRow& row : project.Rows)
        lines << row.Tag + row.Text;
    TFmEditLyrics dialog(parent);
    dialog.SetText(lines.join(LyricLineBreak));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    project.LyricText = dialog.Text();
    LayoutLyricRows();
    project.SetModified(true);
    return true;
}

// The memo's lines are separated by CR LF, as the project's lyric text is.
QString TFmEditLyrics::Text() const {
    return ui->Memo1->toPlainText().replace(u'\n', LyricLineBreak.toString());
}

void TFmEditLyrics::SetText(const QString& text) {
    QString shown = text;
    shown.replace(LyricLineBreak.toString(), QStringLiteral("\n")).replace(u'\r', u'\n');
    ui->Memo1->setPlainText(shown);
}

void TFmEditLyrics::SBtnCutClick() {
    ui->Memo1->cut();
}

void TFmEditLyrics::SBtnCopyClick() {
    ui->Memo1->copy();
}

void TFmEditLyrics::SBtnPasteClick() {
    ui->Memo1->paste();
}

void TFmEditLyrics::SBtnSeleteAllClick() {
    ui->Memo1->selectAll();
}

void TFmEditLyrics::SBtnDeleteClick() {
    ui->Memo1->textCursor().removeSelectedText();
}

void TFmEditLyrics::BtnSortClick() {
    SetText(NormalizeLyricText(Text()));
}

void TFmEditLyrics::BtnMergerClick() {
    SetText(MergeLyricLines(Text()));
}

// Ticked: long lines wrap, with a vertical scroll bar only; not ticked: no wrapping,
// with both scroll bars.
void TFmEditLyrics::CheckBoxWordWarpClick() {
    const bool wrap = ui->CheckBoxWordWarp->isChecked();
    ui->Memo1->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    ui->Memo1->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    ui->Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TFmEditLyrics::BtnOkClick() {
    SetText(NormalizeLyricText(Text()));
    accept();
}

void TFmEditLyrics::Timer1Timer() {
    const bool selected = ui->Memo1->textCursor().hasSelection();
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ui->SBtnCut->setEnabled(selected);
    ui->SBtnCopy->setEnabled(selected);
    ui->SBtnDelete->setEnabled(selected);
    ui->SBtnPaste->setEnabled(clip && clip->hasText());
    ui->SBtnSeleteAll->setEnabled(!selected && !ui->Memo1->document()->isEmpty());
    const bool lines = SplitTextLines(Text()).size() > 1;
    ui->BtnSort->setEnabled(lines);
    ui->BtnMerger->setEnabled(lines);
}
