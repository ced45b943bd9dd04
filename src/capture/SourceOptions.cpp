#include "capture/SourceOptions.h"

#include "media/FFErrors.h"

bool SameOptionKey(const QString& key, const char* name) {
    const qsizetype length = qsizetype(std::char_traits<char>::length(name));
    if (key.size() != length)
        return false;
    for (qsizetype i = 0; i < length; ++i) {
        char16_t a = key[i].unicode();
        char16_t b = uchar(name[i]);
        if (a >= u'A' && a <= u'Z')
            a += u'a' - u'A';
        if (b >= u'A' && b <= u'Z')
            b += u'a' - u'A';
        if (a != b)
            return false;
    }
    return true;
}

namespace {

bool IsOneOf(const QString& key, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (SameOptionKey(key, name))
            return true;
    return false;
}

// Walks the pieces; `runsToEnd(key)` says whether a key takes the rest of the text.
template <class RunsToEnd, class Visit>
void ForEachPiece(const QString& text, RunsToEnd runsToEnd, Visit visit) {
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u';', start);
        if (end < 0)
            end = text.size();
        const QStringView piece = QStringView(text).mid(start, end - start);
        TOptionPiece result;
        const qsizetype equals = piece.indexOf(u'=');
        result.HasValue = equals >= 0;
        result.Key = (equals >= 0 ? piece.left(equals) : piece).toString();
        if (result.HasValue && runsToEnd(result.Key)) {
            result.Value = text.mid(start + equals + 1);
            visit(result);
            return;
        }
        if (result.HasValue)
            result.Value = piece.mid(equals + 1).toString();
        if (!piece.isEmpty())
            visit(result);
        start = end + 1;
    }
}

} // namespace

QList<TOptionPiece> SplitOptionString(const QString& text,
                                      std::initializer_list<const char*> runToEndKeys) {
    QList<TOptionPiece> pieces;
    ForEachPiece(
        text, [&](const QString& key) { return IsOneOf(key, runToEndKeys); },
        [&](const TOptionPiece& piece) { pieces << piece; });
    return pieces;
}

int StrictInt(const QString& text) {
    return StrToInt(text);
}

int LenientInt(const QString& text, int fallback) {
    int value = fallback;
    return TryStrToInt(text, value) ? value : fallback;
}

std::pair<int, int> StrictIntPair(QString text, char16_t separator, char16_t alternative) {
    if (alternative) {
        const qsizetype at = text.indexOf(QChar(alternative));
        if (at >= 0)
            text[at] = QChar(separator);
    }
    const qsizetype at = text.indexOf(QChar(separator));
    const QString first = at >= 0 ? text.left(at) : text;
    const QString second = at >= 0 ? text.mid(at + 1) : QString();
    return {StrToInt(first), StrToInt(second)};
}

TOptionReader& TOptionReader::Custom(TKeys keys, TApply apply) {
    FBindings.push_back({std::vector<const char*>(keys), std::move(apply), false});
    return *this;
}

TOptionReader& TOptionReader::Strict(TKeys keys, int& target) {
    return Custom(keys, [&target](const QString& value) { target = StrictInt(value); });
}

TOptionReader& TOptionReader::Lenient(TKeys keys, int& target, int fallback) {
    return Custom(
        keys, [&target, fallback](const QString& value) { target = LenientInt(value, fallback); });
}

TOptionReader& TOptionReader::StrictPair(TKeys keys, char16_t separator, int& first, int& second,
                                         char16_t alternative) {
    return Custom(keys, [&first, &second, separator, alternative](const QString& value) {
        std::tie(first, second) = StrictIntPair(value, separator, alternative);
    });
}

TOptionReader& TOptionReader::Text(TKeys keys, QString& target) {
    return Custom(keys, [&target](const QString& value) { target = value; });
}

TOptionReader& TOptionReader::RunToEnd(TKeys keys, QString& target, bool* given) {
    Custom(keys, [&target, given](const QString& value) {
        target = value;
        if (given)
            *given = true;
    });
    FBindings.back().RunsToEnd = true;
    return *this;
}

const TOptionReader::TBinding* TOptionReader::Find(const QString& key) const {
    for (const TBinding& binding : FBindings)
        for (const char* name : binding.Keys)
            if (SameOptionKey(key, name))
                return &binding;
    return nullptr;
}

void TOptionReader::Parse(const QString& text) const {
    ForEachPiece(
        text,
        [this](const QString& key) {
            const TBinding* binding = Find(key);
            return binding && binding->RunsToEnd;
        },
        [this](const TOptionPiece& piece) {
            if (const TBinding* binding = Find(piece.Key))
                binding->Apply(piece.Value);
        });
}
