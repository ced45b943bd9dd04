// The recording page's hotkey boxes: the lists, the choice rules and the dispatch of a
// pressed hotkey to the recording buttons.
#include "recording/RecordingPage.h"

#include "platform/GlobalHotKeys.h"
#include "platform/Prompts.h"
#include "recording/HotKeys.h"
#include "state/ProgramState.h"
#include "ui_RecordingPage.h"

#include <QApplication>

void TRecordingPage::SetUpHotKeys() {
    // The lists drop down with 20 entries and a scroll bar: the desktop styles that open
    // a list as tall as all its entries are told to use a scrolling list view instead.
    for (QComboBox* box : {ui->ComboBoxPause, ui->ComboBoxStop}) {
        box->setMaxVisibleItems(20);
        box->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    }
    connect(ui->ComboBoxPause, &QComboBox::activated, this, &TRecordingPage::ComboBoxPauseSelect);
    connect(ui->ComboBoxStop, &QComboBox::activated, this, &TRecordingPage::ComboBoxStopSelect);
    connect(
        &TGlobalHotKeys::Instance(), &TGlobalHotKeys::HotKeyPressed, this,
        [this](int, unsigned modifiers, unsigned virtualKey) { MyHotKey(modifiers, virtualKey); });
}

void TRecordingPage::ReleaseHotKeys() {
    // The program's keys go with its main window, as they would at the end of the run.
    if (QCoreApplication::instance() == nullptr)
        return;
    HotKeys::Unregister(ProgramState().PauseHotKeyName);
    HotKeys::Unregister(ProgramState().StopHotKeyName);
}

void TRecordingPage::FillHotKeyBoxes() {
    for (QComboBox* box : {ui->ComboBoxPause, ui->ComboBoxStop})
        HotKeys::FillList(box);
    ui->ComboBoxPause->setCurrentIndex(0);
    ui->ComboBoxStop->setCurrentIndex(0);
    ProgramState().PauseHotKeyName = HotKeys::NoHotKeyName();
    ProgramState().StopHotKeyName = HotKeys::NoHotKeyName();
}

void TRecordingPage::ComboBoxPauseSelect() {
    ComboBoxHotKeySelect(ui->ComboBoxPause, ui->ComboBoxStop, ProgramState().PauseHotKeyName,
                         QStringLiteral("停止录像"));
}

void TRecordingPage::ComboBoxStopSelect() {
    ComboBoxHotKeySelect(ui->ComboBoxStop, ui->ComboBoxPause, ProgramState().StopHotKeyName,
                         QStringLiteral("暂停/继续录像"));
}

void TRecordingPage::ComboBoxHotKeySelect(QComboBox* box, QComboBox* other, QString& name,
                                          const QString& otherCommand) {
    if (box->currentIndex() == 0) {
        HotKeys::Unregister(name);
        name.clear();
        return;
    }
    const QString chosen = box->currentText();
    if (chosen == other->currentText()) {
        const QString text = QStringLiteral("热键<") + chosen + QStringLiteral(">已经指定给“") +
                             otherCommand + QStringLiteral("”，请选择另外一个热键。");
        // Back to the key held before; none when that was "禁用热键" chosen by the user.
        box->setCurrentIndex(name.isEmpty() ? -1 : box->findText(name, Qt::MatchExactly));
        ShowMessage(window(), text, miWarning);
        return;
    }
    if (chosen == name)
        return;
    HotKeys::Unregister(name);
    name = chosen;
    if (!HotKeys::Register(name))
        ShowMessage(window(),
                    QStringLiteral("注册热键<") + name +
                        QStringLiteral(">失败，请选择另外一个热键。"),
                    miQuestion);
}

void TRecordingPage::MyHotKey(unsigned modifiers, unsigned virtualKey) {
    // While a modal window is open (the save dialog of a start, a message) a second
    // command would run inside it; the key is dropped.
    if (!RecordingTabActive() || QApplication::activeModalWidget() != nullptr)
        return;
    const QString name = HotKeys::NameOf(modifiers, virtualKey);
    if (name.compare(ui->ComboBoxPause->currentText(), Qt::CaseInsensitive) == 0) {
        if (ui->BtnStart->isEnabled())
            ui->BtnStart->click();
        else if (ui->BtnPause->isEnabled())
            ui->BtnPause->click();
        else if (ui->BtnResume->isEnabled())
            ui->BtnResume->click();
    }
    // A disabled stop button means there is nothing to stop.
    if (name.compare(ui->ComboBoxStop->currentText(), Qt::CaseInsensitive) == 0 &&
        ui->BtnStop->isEnabled())
        ui->BtnStop->click();
}
