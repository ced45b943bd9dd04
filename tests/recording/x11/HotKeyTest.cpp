#include "RecordingWindows.h"

#include "recording/HotKeys.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

namespace {

class HotKeyTest : public RecordingWindowsTest {
protected:
    // Picks an entry the way the user does: the box's selection handler runs.
    static void Choose(QComboBox* box, const QString& text) {
        const int index = box->findText(text, Qt::MatchExactly);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    static QStringList Entries(const QComboBox* box) {
        QStringList entries;
        for (int i = 0; i < box->count(); ++i)
            entries << box->itemText(i);
        return entries;
    }
    void Press(std::initializer_list<const char*> keys) {
        Input.Chord(keys);
        PumpEvents(60);
    }
    // Click counts of the four recording buttons.
    struct TClicks {
        explicit TClicks(TRecordingPage* page)
            : Start(page->BtnStart(), &QPushButton::clicked),
              Pause(page->BtnPause(), &QPushButton::clicked),
              Resume(page->BtnResume(), &QPushButton::clicked),
              Stop(page->BtnStop(), &QPushButton::clicked) {}
        QSignalSpy Start, Pause, Resume, Stop;
        std::vector<int> Counts() const {
            return {int(Start.count()), int(Pause.count()), int(Resume.count()), int(Stop.count())};
        }
    };
    // Puts the page buttons into a recording state, as the recording controller does.
    void SetButtons(bool start, bool pause, bool resume, bool stop) {
        Page()->BtnStart()->setEnabled(start);
        Page()->BtnPause()->setEnabled(pause);
        Page()->BtnResume()->setEnabled(resume);
        Page()->BtnStop()->setEnabled(stop);
    }
};

using TCounts = std::vector<int>;

} // namespace

TEST_F(HotKeyTest, ACombinationAnotherProgramHoldsIsNotOffered) {
    // The desktop's own programs (the window manager closes windows with Alt+F4) hold
    // some combinations already.
    QStringList expected = {HotKeys::NoHotKeyName()};
    {
        TForeignClient probe;
        for (const QString& name : HotKeys::AllNames()) {
            const QString modifier = name.contains(u'+') ? name.section(u'+', 0, 0) : QString();
            if (probe.GrabKey(name.section(u'+', -1).toLatin1().constData(), modifier))
                expected << name;
        }
    }
    TForeignClient other;
    ASSERT_TRUE(other.GrabKey("F5", QStringLiteral("Ctrl")));
    Start();
    expected.removeOne(QStringLiteral("Ctrl+F5"));
    EXPECT_EQ(Entries(Page()->ComboBoxPause()), expected);
    EXPECT_EQ(Entries(Page()->ComboBoxStop()), expected);
    EXPECT_EQ(Page()->ComboBoxPause()->currentText(), HotKeys::NoHotKeyName());
    EXPECT_EQ(Page()->ComboBoxStop()->currentText(), HotKeys::NoHotKeyName());
    // Testing the list held nothing back: the other combinations are free again.
    TForeignClient third;
    EXPECT_TRUE(third.GrabKey("F5", QString()));
    EXPECT_TRUE(third.GrabKey("F12", QStringLiteral("Shift")));
}

TEST_F(HotKeyTest, ThePauseKeyStartsPausesAndResumesAndTheStopKeyStops) {
    Start();
    Choose(Page()->ComboBoxPause(), QStringLiteral("F5"));
    Choose(Page()->ComboBoxStop(), QStringLiteral("F6"));
    EXPECT_TRUE(Prompts.Messages.isEmpty());
    EXPECT_EQ(ProgramState().PauseHotKeyName, QStringLiteral("F5"));
    EXPECT_EQ(ProgramState().StopHotKeyName, QStringLiteral("F6"));
    TClicks clicks(Page());

    // Idle: start; the stop key has nothing to stop.
    SetButtons(true, false, false, false);
    Press({"F6"});
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 0, 0, 0}));

    // Recording, with the main window hidden as it is then: pause.
    SetButtons(false, true, false, true);
    Main()->hide();
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 1, 0, 0}));
    // Paused: resume, then stop.
    SetButtons(false, false, true, true);
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 1, 1, 0}));
    Press({"F6"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 1, 1, 1}));
    // The keys do not depend on Num Lock. (Stopping disabled the stop button.)
    SetButtons(false, false, true, true);
    Input.Chord({"Num_Lock"});
    Press({"F6"});
    Input.Chord({"Num_Lock"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 1, 1, 2}));
    // The other modifiers make another combination.
    Press({"Control_L", "F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 1, 1, 2}));
}

TEST_F(HotKeyTest, AltF3WorksLikeAnyOtherEntry) {
    Start();
    Choose(Page()->ComboBoxPause(), QStringLiteral("Alt+F3"));
    TClicks clicks(Page());
    Press({"F3"});
    Press({"Shift_L", "F3"});
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    Press({"Alt_L", "F3"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 0, 0, 0}));
    // Another choice releases it.
    Choose(Page()->ComboBoxPause(), QStringLiteral("Ctrl+F3"));
    Press({"Alt_L", "F3"});
    Press({"Control_R", "F3"});
    EXPECT_EQ(clicks.Counts(), (TCounts{2, 0, 0, 0}));
    TForeignClient other;
    EXPECT_TRUE(other.GrabKey("F3", QStringLiteral("Alt")));
    EXPECT_FALSE(other.GrabKey("F3", QStringLiteral("Ctrl")));
}

TEST_F(HotKeyTest, TheSameKeyForBothCommandsIsRefusedWithAWarning) {
    Start();
    QComboBox* pause = Page()->ComboBoxPause();
    QComboBox* stop = Page()->ComboBoxStop();
    Choose(pause, QStringLiteral("F5"));
    Choose(stop, QStringLiteral("F6"));

    Choose(pause, QStringLiteral("F6"));
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_EQ(Prompts.Messages[0].Text,
              QStringLiteral("热键<F6>已经指定给“停止录像”，请选择另外一个热键。"));
    EXPECT_EQ(Prompts.Messages[0].Caption, QStringLiteral("Vexmira"));
    EXPECT_EQ(Prompts.Messages[0].Icon, miWarning);
    EXPECT_EQ(pause->currentText(), QStringLiteral("F5"));
    EXPECT_EQ(ProgramState().PauseHotKeyName, QStringLiteral("F5"));

    Choose(stop, QStringLiteral("F5"));
    ASSERT_EQ(Prompts.Messages.size(), 2);
    EXPECT_EQ(Prompts.Messages[1].Text,
              QStringLiteral("热键<F5>已经指定给“暂停/继续录像”，请选择另外一个热键。"));
    EXPECT_EQ(stop->currentText(), QStringLiteral("F6"));

    // After "禁用热键" the box is left without a selection, and the key stays free.
    Choose(pause, HotKeys::NoHotKeyName());
    EXPECT_TRUE(ProgramState().PauseHotKeyName.isEmpty());
    Choose(pause, QStringLiteral("F6"));
    ASSERT_EQ(Prompts.Messages.size(), 3);
    EXPECT_EQ(pause->currentIndex(), -1);
    TClicks clicks(Page());
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    TForeignClient other;
    EXPECT_TRUE(other.GrabKey("F5", QString()));
}

TEST_F(HotKeyTest, AKeyTakenAfterStartUpIsReportedAndStaysChosen) {
    Start();
    TForeignClient other;
    ASSERT_TRUE(other.GrabKey("F7", QString()));
    Choose(Page()->ComboBoxPause(), QStringLiteral("F7"));
    ASSERT_EQ(Prompts.Messages.size(), 1);
    EXPECT_EQ(Prompts.Messages[0].Text, QStringLiteral("注册热键<F7>失败，请选择另外一个热键。"));
    EXPECT_EQ(Prompts.Messages[0].Icon, miQuestion);
    EXPECT_EQ(Page()->ComboBoxPause()->currentText(), QStringLiteral("F7"));
    EXPECT_EQ(ProgramState().PauseHotKeyName, QStringLiteral("F7"));
    // Choosing again leaves the other program's key alone.
    Choose(Page()->ComboBoxPause(), QStringLiteral("F8"));
    EXPECT_EQ(Prompts.Messages.size(), 1);
    other.Close();
    TForeignClient third;
    EXPECT_FALSE(third.GrabKey("F8", QString()));
}

TEST_F(HotKeyTest, TheKeysDoNothingOnTheVideoMakingTab) {
    Start();
    Choose(Page()->ComboBoxPause(), QStringLiteral("F5"));
    Choose(Page()->ComboBoxStop(), QStringLiteral("F6"));
    TClicks clicks(Page());
    SetButtons(true, false, false, true);
    Main()->SetActiveTabIndex(1);
    Press({"F5"});
    Press({"F6"});
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    Main()->SetActiveTabIndex(0);
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 0, 0, 0}));
}

TEST_F(HotKeyTest, ARestartBeginsWithBothKeysDisabled) {
    Start();
    Choose(Page()->ComboBoxPause(), QStringLiteral("F5"));
    Choose(Page()->ComboBoxStop(), QStringLiteral("Shift+F6"));
    Start();
    EXPECT_EQ(Page()->ComboBoxPause()->currentText(), HotKeys::NoHotKeyName());
    EXPECT_EQ(Page()->ComboBoxStop()->currentText(), HotKeys::NoHotKeyName());
    EXPECT_EQ(ProgramState().PauseHotKeyName, HotKeys::NoHotKeyName());
    EXPECT_EQ(ProgramState().StopHotKeyName, HotKeys::NoHotKeyName());
    // The earlier run's keys were released, and are offered again.
    EXPECT_TRUE(Page()->ComboBoxPause()->findText(QStringLiteral("F5")) > 0);
    TClicks clicks(Page());
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    TForeignClient other;
    EXPECT_TRUE(other.GrabKey("F5", QString()));
    EXPECT_TRUE(other.GrabKey("F6", QStringLiteral("Shift")));
}

TEST_F(HotKeyTest, TheKeysWaitWhileAModalWindowIsOpen) {
    Start();
    Choose(Page()->ComboBoxPause(), QStringLiteral("F5"));
    TClicks clicks(Page());
    // A start opens the save dialog; pressing the key again must not start a second one.
    TModalHandler handler([this](QWidget* w) {
        Press({"F5"});
        w->close();
    });
    QDialog dialog(Main());
    dialog.exec();
    EXPECT_EQ(handler.Handled(), 1);
    EXPECT_EQ(clicks.Counts(), (TCounts{0, 0, 0, 0}));
    Press({"F5"});
    EXPECT_EQ(clicks.Counts(), (TCounts{1, 0, 0, 0}));
}

TEST_F(HotKeyTest, TheListsDropDownTwentyEntries) {
    Start();
    for (QComboBox* box : {Page()->ComboBoxPause(), Page()->ComboBoxStop()}) {
        ASSERT_GT(box->count(), 20);
        box->showPopup();
        QAbstractItemView* list = box->view();
        ASSERT_TRUE(PumpUntil([&] { return list->isVisible(); }, 3000));
        PumpEvents(50);
        // Twenty rows show, the rest scroll.
        const int first = list->indexAt(QPoint(2, 1)).row();
        const int last = list->indexAt(QPoint(2, list->viewport()->height() - 2)).row();
        EXPECT_EQ(first, 0);
        EXPECT_EQ(last - first + 1, 20);
        EXPECT_TRUE(list->verticalScrollBar()->isVisible());
        box->hidePopup();
        PumpEvents(20);
    }
}
