#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

// The option strings of the program's own input formats: key and value pairs joined by
// "=" and separated by ";", passed where a file name would go ("r=44100;c=2;f=16").
//
// Cutting, left to right: the text up to the first ";" is a piece, the rest is cut the
// same way; a piece is cut at its first "=" into key and value (further "=" belong to
// the value; no "=" gives an empty value). Keys match without regard to ASCII letter
// case; nothing is trimmed, so " cursor" matches no key. Unknown keys and empty pieces
// are ignored; a key given twice takes the later value. A key declared to run to the end
// (the screen source's "title") takes the whole remaining text after its "=", later ";"
// included, and ends the string.
//
// Numbers are whole decimal numbers, converted strictly (malformed or empty: an
// EConvertError that fails the open) or leniently (malformed or empty: the key's
// fallback, silently):
//
//     int rate = 44100, device = -1, num = 0, den = 0;
//     QString title;
//     TOptionReader reader;
//     reader.Lenient({"r"}, rate, 44100)
//         .Lenient({"i"}, device, -1)
//         .StrictPair({"framerate", "r"}, u'/', num, den, u':') // "25:1" counts as "25/1"
//         .RunToEnd({"title"}, title);
//     reader.Parse(SourceOptionString(s));                       // may throw EConvertError
//
// All functions are thread-safe; a reader is used by one thread at a time.

// One piece of an option string.
struct TOptionPiece {
    QString Key;
    QString Value;
    bool HasValue = false; // the piece had an "="
    bool operator==(const TOptionPiece&) const = default;
};

// Cuts `text` into pieces; a piece whose key is one of `runToEndKeys` and has an "="
// takes the rest of the text as its value and is the last. Empty pieces are dropped.
QList<TOptionPiece> SplitOptionString(const QString& text,
                                      std::initializer_list<const char*> runToEndKeys = {});

// Whether `key` equals `name` without regard to ASCII letter case (other characters
// compare exactly).
bool SameOptionKey(const QString& key, const char* name);

// Strict conversion: EConvertError "'<text>' is not a valid integer value" unless `text`
// is a whole decimal number.
int StrictInt(const QString& text);
// Lenient conversion: `fallback` unless `text` is a whole decimal number.
int LenientInt(const QString& text, int fallback);
// A pair of numbers cut at the first `separator`; after `alternative` (when not 0) has
// been turned into `separator` at its first occurrence. A missing separator leaves the
// second number empty, which fails like any malformed number (EConvertError).
std::pair<int, int> StrictIntPair(QString text, char16_t separator, char16_t alternative = 0);

// Applies the pieces of an option string to the targets declared for their keys.
class TOptionReader {
public:
    using TKeys = std::initializer_list<const char*>;
    using TApply = std::function<void(const QString& value)>;

    // Any handling of a key's value; `value` is the text after "=", possibly empty.
    TOptionReader& Custom(TKeys keys, TApply apply);
    TOptionReader& Strict(TKeys keys, int& target);
    TOptionReader& Lenient(TKeys keys, int& target, int fallback);
    TOptionReader& StrictPair(TKeys keys, char16_t separator, int& first, int& second,
                              char16_t alternative = 0);
    TOptionReader& Text(TKeys keys, QString& target);
    // The key's value runs to the end of the option string; `given` (when not null) is
    // set when the key occurs.
    TOptionReader& RunToEnd(TKeys keys, QString& target, bool* given = nullptr);

    // Applies every piece of `text` in order. A strict conversion that fails throws
    // EConvertError; what was applied before it stays applied.
    void Parse(const QString& text) const;

private:
    struct TBinding {
        std::vector<const char*> Keys;
        TApply Apply;
        bool RunsToEnd = false;
    };
    const TBinding* Find(const QString& key) const;
    std::vector<TBinding> FBindings;
};
