#pragma once

#include <QMargins>
#include <QRect>
#include <QString>

#include <optional>

// What the window manager of $DISPLAY has done with a window, read through a connection
// of its own: whether a manager runs, whether the window is mapped, the frame the manager
// put around it. For the window tests; not part of the program. Main thread only.
class TWindowManagerProbe {
public:
    TWindowManagerProbe();
    ~TWindowManagerProbe();
    TWindowManagerProbe(const TWindowManagerProbe&) = delete;
    TWindowManagerProbe& operator=(const TWindowManagerProbe&) = delete;

    bool IsOpen() const { return FDisplay != nullptr; }

    // The name the running manager gives itself ("Openbox"); empty when none runs.
    QString ManagerName() const;
    // True when a program holds the system tray selection of the first screen.
    bool TrayAvailable() const;
    // True when `window` is mapped and all its ancestors are, so it can be seen.
    bool IsVisible(unsigned long window) const;
    // The frame the manager drew around `window` (its _NET_FRAME_EXTENTS); none while
    // the manager has not framed it.
    std::optional<QMargins> FrameExtents(unsigned long window) const;
    // Where `window` is on the root window, without the manager's frame.
    QRect RootGeometry(unsigned long window) const;
    // The same with the manager's frame, as the user sees the window.
    QRect OuterGeometry(unsigned long window) const;

private:
    void* FDisplay = nullptr;
};
