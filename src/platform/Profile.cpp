#include "platform/Profile.h"

#include "platform/SafeFile.h"

#include <QFile>
// Values are UTF-8 throughout, so the library needs no wide-character converter.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <climits>
#include <optional>

namespace {

// Loads the file into `ini`; a missing or unreadable file is an empty profile.
void LoadProfile(const QString& fileName, CSimpleIniA& ini) {
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetSpaces(false);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    ini.LoadData(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::optional<QString> ReadValue(const QString& fileName, const QString& section,
                                 const QString& key) {
    CSimpleIniA ini;
    LoadProfile(fileName, ini);
    const QByteArray s = section.toUtf8();
    const QByteArray k = key.toUtf8();
    const char* value = ini.GetValue(s.constData(), k.constData(), nullptr);
    if (value == nullptr)
        return std::nullopt;
    return QString::fromUtf8(value);
}

} // namespace

QString TProfile::ReadString(const QString& section, const QString& key, const QString& def) const {
    return ReadValue(FFileName, section, key).value_or(def);
}

bool TProfile::ParseInteger(const QString& text, int& value) {
    const QString t = text.trimmed();
    QString digits;
    if (t.startsWith(u'$'))
        digits = t.mid(1);
    else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = t.mid(2);
    const bool hex = !digits.isNull();
    if (hex && (digits.isEmpty() || digits.startsWith(u'-') || digits.startsWith(u'+')))
        return false;
    bool ok = false;
    const qlonglong v = hex ? digits.toLongLong(&ok, 16) : t.toLongLong(&ok, 10);
    if (!ok)
        return false;
    if (hex) {
        // Hexadecimal text names the 32-bit pattern, so $FFFFFFFF reads as -1.
        if (v > 0xFFFFFFFFLL)
            return false;
        value = static_cast<int>(static_cast<quint32>(v));
        return true;
    }
    if (v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int TProfile::ReadInteger(const QString& section, const QString& key, int def) const {
    const auto text = ReadValue(FFileName, section, key);
    int value = 0;
    if (text && ParseInteger(*text, value))
        return value;
    return def;
}

bool TProfile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TProfile::WriteString(const QString& section, const QString& key, const QString& value) const {
    CSimpleIniA ini;
    LoadProfile(FFileName, ini);
    const QByteArray s = section.toUtf8();
    const QByteArray k = key.toUtf8();
    // Line breaks would end the value early on the next read.
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray v = flat.toUtf8();
    if (ini.SetValue(s.constData(), k.constData(), v.constData()) < 0)
        return false;
    std::string data;
    if (ini.Save(data) < 0)
        return false;
    // A byte-order mark at the start of a file is skipped on reading. When the first
    // key written begins with those bytes itself (a key of a damaged file, read from the
    // middle of it), one more mark in front keeps it a key: otherwise it would be taken
    // for the mark, and what follows it for a section of its own.
    static constexpr char Utf8Mark[] = "\xEF\xBB\xBF";
    if (data.compare(0, 3, Utf8Mark) == 0)
        data.insert(0, Utf8Mark);
    return WriteFileReplacing(FFileName, QByteArray::fromStdString(data));
}

bool TProfile::WriteInteger(const QString& section, const QString& key, int value) const {
    return WriteString(section, key, QString::number(value));
}

bool TProfile::WriteBool(const QString& section, const QString& key, bool value) const {
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
