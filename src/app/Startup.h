#pragma once

#include "app/UnitMain.h"

#include <memory>

// The long-lived windows of a run, created in their fixed order: the main window, the
// drag-selection window, the area frame, the toolbar tooltip, the recording toolbar and
// the two screenshot windows. Destroyed in the reverse order. Main thread only.
struct TApplicationWindows {
    TApplicationWindows();
    ~TApplicationWindows();
    TApplicationWindows(const TApplicationWindows&) = delete;
    TApplicationWindows& operator=(const TApplicationWindows&) = delete;

    std::unique_ptr<TFmMain> FmMain;
    std::unique_ptr<TFmSetRect> FmSetRect;
    std::unique_ptr<TFmRect> FmRect;
    std::unique_ptr<TFmToolHint> FmToolHint;
    std::unique_ptr<TFmToolBar> FmToolBar;
    std::unique_ptr<TFmScreenRect> FmScreenRect;
    std::unique_ptr<TFmScreenWindowSet> FmScreenWindowSet;
};
