#include "recording/HotKeys.h"

#include "platform/GlobalHotKeys.h"

#include <QComboBox>

namespace HotKeys {

namespace {

struct TPrefix {
    const char* Text;
    unsigned Modifiers;
    int IdOffset;
};
constexpr TPrefix kPrefixes[] = {
    {"F", 0, 0},
    {"Ctrl+F", TGlobalHotKeys::hmControl, 0x4000},
    {"Alt+F", TGlobalHotKeys::hmAlt, 0x8000},
    {"Shift+F", TGlobalHotKeys::hmShift, 0x2000},
};
constexpr unsigned kVkF1 = TGlobalHotKeys::vkF1;

} // namespace

QString NoHotKeyName() {
    return QStringLiteral("禁用热键");
}

QStringList AllNames() {
    QStringList names;
    for (const TPrefix& p : kPrefixes)
        for (int n = 1; n <= 12; ++n)
            names << QString::fromLatin1(p.Text) + QString::number(n);
    return names;
}

THotKey HotKeyOf(const QString& name) {
    for (const TPrefix& p : kPrefixes) {
        const QString prefix = QString::fromLatin1(p.Text);
        if (!name.startsWith(prefix))
            continue;
        const QString number = name.mid(prefix.size());
        for (int n = 1; n <= 12; ++n) {
            if (number == QString::number(n)) {
                const unsigned vk = kVkF1 + static_cast<unsigned>(n - 1);
                return {p.Modifiers, vk, static_cast<int>(vk) + p.IdOffset};
            }
        }
    }
    return {};
}

QString NameOf(unsigned modifiers, unsigned virtualKey) {
    const QString number = QString::number(static_cast<int>(virtualKey) - 111);
    switch (modifiers) {
    case TGlobalHotKeys::hmControl:
        return QStringLiteral("Ctrl+F") + number;
    case TGlobalHotKeys::hmAlt:
        return QStringLiteral("Alt+F") + number;
    case TGlobalHotKeys::hmShift:
        return QStringLiteral("Shift+F") + number;
    default:
        return QStringLiteral("F") + number;
    }
}

bool Register(const QString& name) {
    const THotKey key = HotKeyOf(name);
    if (key.Id == 0)
        return false;
    return TGlobalHotKeys::Instance().Register(key.Id, key.Modifiers, key.VirtualKey);
}

bool TestRegister(const QString& name) {
    const THotKey key = HotKeyOf(name);
    if (key.Id == 0)
        return false;
    TGlobalHotKeys& keys = TGlobalHotKeys::Instance();
    // A combination this program already uses is offered again; testing it must not
    // release it.
    if (keys.IsRegistered(key.Id))
        return true;
    const bool accepted = keys.Register(key.Id, key.Modifiers, key.VirtualKey);
    keys.Unregister(key.Id);
    return accepted;
}

void Unregister(const QString& name) {
    const THotKey key = HotKeyOf(name);
    if (key.Id != 0)
        TGlobalHotKeys::Instance().Unregister(key.Id);
}

void FillList(QComboBox* box) {
    box->clear();
    box->addItem(NoHotKeyName());
    for (const QString& name : AllNames())
        if (TestRegister(name))
            box->addItem(name);
}

} // namespace HotKeys
