#pragma once

#include "platform/X11Connection.h"

#include <QRect>
#include <QString>

#include <atomic>
#include <thread>

// The thin flashing frame shown around the rectangle the screen source grabs.
//
//     std::atomic<bool> started{false};
//     TX11FrameWindow frame;
//     if (!frame.Show({window, client, offset, size}, &started))
//         log(frame.LastError());
//     ... started = true;  // from now on the frame alternates blue and red
//     frame.Hide();        // or let the destructor do it
//
// An override-redirect window of its own X connection, shaped to a ring of Border
// pixels lying entirely outside the grabbed rectangle (it never shows in the pictures and
// never takes input). Its thread, every 10 ms, moves it after the grabbed window and
// puts it on top again; every 50th time, once grabbing has started, it changes the
// colour: blue and red in turn, the choice shared by every frame of the process. Before
// grabbing starts it stays red.
//
// Show and Hide are called from one thread (the one that opens the source); the started
// flag may be set from any thread and must outlive the shown frame.

struct TFrameTarget {
    unsigned long Window = 0; // 0: the screen
    bool Client = false;      // the window's client area instead of the whole window
    QPoint Offset;            // the grabbed rectangle's corner inside the window or screen
    QSize Size;               // the grabbed rectangle's size
};

enum TFrameColor { fcRed, fcBlue };

class TX11FrameWindow {
public:
    static constexpr int Border = 2;

    TX11FrameWindow() = default;
    ~TX11FrameWindow() { Hide(); }
    TX11FrameWindow(const TX11FrameWindow&) = delete;
    TX11FrameWindow& operator=(const TX11FrameWindow&) = delete;

    // Creates, shows and starts the frame. False with LastError() when it cannot be shown
    // (nothing is left behind).
    bool Show(const TFrameTarget& target, const std::atomic<bool>* started);
    // Stops the thread and destroys the window. Nothing happens when not shown.
    void Hide();
    bool IsShown() const { return FWindow != 0; }

    // The X window (0 when not shown) and its current colour. Thread-safe.
    unsigned long WindowId() const { return FWindow; }
    TFrameColor Color() const { return FColor.load(); }
    // The screen position of the grabbed rectangle's corner for `target`, as the frame
    // computes it; false when the window is gone.
    static bool CaptureOrigin(TX11Connection& connection, const TFrameTarget& target,
                              QPoint* origin);

    QString LastError() const { return FLastError; }

private:
    void Run();
    void Flash();
    void AdjustPosition();
    void SetColor(TFrameColor color);

    TX11Connection FConnection;
    TFrameTarget FTarget;
    const std::atomic<bool>* FStarted = nullptr;
    unsigned long FWindow = 0;
    unsigned long FPixels[2] = {0, 0}; // red, blue
    QPoint FPosition;
    std::atomic<TFrameColor> FColor{fcRed};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FLock{false};
    std::thread FThread;
    QString FLastError;
};
