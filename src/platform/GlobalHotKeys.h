#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <map>
#include <vector>

// System-wide hotkeys: a function key with at most one of Ctrl, Alt and Shift, grabbed on
// the X server's root window so that it reaches the program whichever window has the
// focus, also while all of the program's windows are hidden. Num Lock and Caps Lock do not
// matter. A combination that another client holds is refused. Main thread only.
class TGlobalHotKeys final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Modifier codes of Register and HotKeyPressed.
    enum : unsigned { hmAlt = 1, hmControl = 2, hmShift = 4 };
    // Function keys are given by their virtual-key number: F1 = 112 ... F12 = 123.
    enum : unsigned { vkF1 = 112, vkF12 = 123 };

    // The one instance; it lives until the application object ends.
    static TGlobalHotKeys& Instance();

    // Grabs the combination under `id`, replacing what `id` held before. Returns whether
    // the server accepted it: false for a combination another client holds, for a key
    // outside F1 ... F12, an unknown modifier, or when there is no X server.
    bool Register(int id, unsigned modifiers, unsigned virtualKey);
    // Releases the combination held under `id`; an id holding nothing changes nothing.
    void Unregister(int id);
    bool IsRegistered(int id) const { return FGrabs.count(id) != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // A registered combination was pressed (auto-repeat included).
    void HotKeyPressed(int id, unsigned modifiers, unsigned virtualKey);

private:
    TGlobalHotKeys();
    ~TGlobalHotKeys() override;

    struct TGrab {
        unsigned Modifiers = 0;
        unsigned VirtualKey = 0;
        uint8_t Keycode = 0;
        uint16_t Mask = 0; // the X modifier mask of `Modifiers`
    };
    // The X modifier mask of a modifier code; false for an unknown code.
    bool MaskOf(unsigned modifiers, uint16_t& mask) const;
    // The mask combined with every state of Num Lock and Caps Lock.
    std::vector<uint16_t> LockVariants(uint16_t mask) const;
    void Ungrab(const TGrab& grab);

    std::map<int, TGrab> FGrabs;
    bool FMasksRead = false;
    uint16_t FAltMask = 0;
    uint16_t FNumLockMask = 0;
    void ReadMasks();
};
