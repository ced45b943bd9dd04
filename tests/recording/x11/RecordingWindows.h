#pragma once

// The program's start-up windows for the recording window tests, with a private home,
// scripted prompts and input synthesised on the test's X server.

#include "app/Startup.h"
#include "platform/testinput/WindowManagerProbe.h"
#include "platform/testinput/XTestInput.h"
#include "recording/RecordingPage.h"
#include "recording/UnitRect.h"
#include "recording/UnitSetRect.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "support/Sandbox.h"
#include "support/ScriptedPrompts.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <gtest/gtest.h>

#include <memory>

class RecordingWindowsTest : public ::testing::Test {
protected:
    TSandbox Box;
    TScriptedPrompts Prompts;
    TXTestInput Input;
    TWindowManagerProbe Manager;
    std::unique_ptr<TApplicationWindows> Windows;

    // Where another program's window is once a running window manager has framed it
    // (the manager may move it to make room for its frame), with the frame.
    QRect Managed(unsigned long window) {
        const bool managed = !Manager.ManagerName().isEmpty();
        EXPECT_TRUE(PumpUntil(
            [&] {
                return Manager.IsVisible(window) &&
                       (!managed || Manager.FrameExtents(window).has_value());
            },
            5000));
        PumpEvents(50);
        return Manager.OuterGeometry(window);
    }

    // Writes the General section (the introduction never opens) and starts the windows;
    // the main window is shown and has the focus.
    void Start(const QByteArray& general = {}) {
        Windows.reset();
        ASSERT_TRUE(Input.IsOpen()) << "no XTEST on the display";
        QDir().mkpath(Box.ConfigHome() + QStringLiteral("/Vexmira"));
        QFile f(Box.ConfigHome() + QStringLiteral("/Vexmira/Vexmira20.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nShowIntroduction=1\n" + general);
        f.close();
        ProgramState().Arguments.clear();
        Windows = std::make_unique<TApplicationWindows>();
        Main()->show();
        ASSERT_TRUE(PumpUntil([this] { return Main()->OptionsApplied(); }, 5000));
        Main()->activateWindow();
        ASSERT_TRUE(PumpUntil(
            [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, 5000));
        PumpEvents(30);
    }
    void TearDown() override {
        Windows.reset();
        // No button or key is left held for the next test.
        Input.ButtonUp(1);
    }

    TFmMain* Main() const { return Windows->FmMain.get(); }
    TRecordingPage* Page() const { return Main()->RecordingPage(); }
    TFmRect* Frame() const { return Windows->FmRect.get(); }
    TFmSetRect* SetRect() const { return Windows->FmSetRect.get(); }
    QRect SpinRect() const {
        return QRect(Page()->SpinEditLeft()->value(), Page()->SpinEditTop()->value(),
                     Page()->SpinEditWidth()->value(), Page()->SpinEditHeight()->value());
    }
    // Moves the pointer and lets the program's timers see it.
    void MoveTo(int x, int y) {
        Input.MoveTo(QPoint(x, y));
        PumpEvents(25);
    }
    void Down() {
        Input.ButtonDown(1);
        PumpEvents(25);
    }
    void Up() {
        Input.ButtonUp(1);
        PumpEvents(40);
    }
    // Waits for the program to see that it became active or inactive. A window manager
    // answers the program's own requests to raise and activate its window a moment later;
    // they are let through before the test goes on, or they would take the focus back
    // from the next window the test focuses.
    static bool WaitForState(Qt::ApplicationState state) {
        const bool reached =
            PumpUntil([state] { return QGuiApplication::applicationState() == state; }, 3000);
        PumpEvents(150);
        return reached && QGuiApplication::applicationState() == state;
    }
};
