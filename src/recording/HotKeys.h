#pragma once

#include <QString>
#include <QStringList>

class QComboBox;

// The recording hotkeys by name: "禁用热键" (none) and the function keys F1 ... F12 alone
// or with Ctrl, Alt or Shift ("F5", "Ctrl+F5", "Alt+F5", "Shift+F5"). Each name has an id,
// the code that also names the combination as a menu shortcut: the virtual key (F1 = 112)
// plus 0x4000 for Ctrl, 0x8000 for Alt, 0x2000 for Shift. Main thread only.
namespace HotKeys {

QString NoHotKeyName(); // "禁用热键"

// Every function-key name, in the order the hotkey lists offer them.
QStringList AllNames();

struct THotKey {
    unsigned Modifiers = 0;  // TGlobalHotKeys::hmAlt, hmControl, hmShift or 0
    unsigned VirtualKey = 0; // 112 ... 123
    int Id = 0;              // 0 for "禁用热键" and for names that are not hotkeys
};
// The combination of a name; Id 0 when the name is empty, "禁用热键" or unknown.
THotKey HotKeyOf(const QString& name);
// The name of a pressed combination: the modifier code picks the prefix (anything but
// Ctrl, Alt or Shift means none), the key its number.
QString NameOf(unsigned modifiers, unsigned virtualKey);

// Registers the name's combination system-wide under its id; false when refused or when
// the name is no hotkey.
bool Register(const QString& name);
// Registers and at once releases; true when the registration was accepted.
bool TestRegister(const QString& name);
// Releases what the name's id holds.
void Unregister(const QString& name);

// Fills a hotkey list: "禁用热键", then every name whose test registration succeeds.
void FillList(QComboBox* box);

} // namespace HotKeys
