#include "media/FFErrors.h"

#include "media/FFApi.h"

#include <cerrno>
#include <cstring>
#include <limits>

EFFError::EFFError(const QString& message) : std::runtime_error(message.toStdString()) {}

EAssertionFailed::EAssertionFailed(const QString& message)
    : std::logic_error(message.toStdString()) {}

bool TryStrToInt64(const QString& text, int64_t& value) {
    int i = 0;
    const int n = text.size();
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n)
        return false;
    // Accumulate negatively so that the most negative value fits.
    int64_t result = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        const int digit = c - u'0';
        if (result < (lowest + digit) / 10)
            return false;
        result = result * 10 - digit;
    }
    if (!negative) {
        if (result == lowest)
            return false;
        result = -result;
    }
    value = result;
    return true;
}

bool TryStrToInt(const QString& text, int& value) {
    int64_t wide = 0;
    if (!TryStrToInt64(text, wide) || wide < std::numeric_limits<int>::min() ||
        wide > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(wide);
    return true;
}

static EConvertError NotAnInteger(const QString& text) {
    return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

int StrToInt(const QString& text) {
    int value = 0;
    if (!TryStrToInt(text, value))
        throw NotAnInteger(text);
    return value;
}

int64_t StrToInt64(const QString& text) {
    int64_t value = 0;
    if (!TryStrToInt64(text, value))
        throw NotAnInteger(text);
    return value;
}

QString AVErrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE + 64] = {};
    if (FF.av_strerror && FF.av_strerror(code, buffer, sizeof buffer) == 0)
        return QString::fromUtf8(buffer);
    if (code < 0 && code > -4096) // a negated errno value
        return QString::fromLocal8Bit(strerror_r(-code, buffer, sizeof buffer));
    return QStringLiteral("error %1").arg(code);
}

QString FFErrorText(const QString& fileName, int code) {
    return fileName + QStringLiteral(": ") + AVErrorText(code);
}
