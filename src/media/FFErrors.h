#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>

// Exceptions of the media engine and the text of FFmpeg error codes.
//
// Components report failures by result and `LastErrMsg`; exceptions are kept for
// programming errors (EAssertionFailed), refusals and missing libraries (EFFError) and
// malformed numbers (EConvertError). Their what() is the UTF-8 message.

// An engine error whose message is meant for the user or the log.
class EFFError : public std::runtime_error {
public:
    explicit EFFError(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// A number in a text that is not a whole decimal number.
class EConvertError : public EFFError {
public:
    using EFFError::EFFError;
};

// A programming error: a call the engine's contract does not allow.
class EAssertionFailed : public std::logic_error {
public:
    explicit EAssertionFailed(const QString& message);
};

// Throws EAssertionFailed with `message` unless `condition` holds.
inline void FFAssert(bool condition, const char* message) {
    if (!condition)
        throw EAssertionFailed(QString::fromUtf8(message));
}

// Strict conversion of a whole decimal number: an optional sign and digits, nothing
// else (no spaces); anything malformed, empty or out of range throws EConvertError
// "'<text>' is not a valid integer value". Thread-safe.
int StrToInt(const QString& text);
int64_t StrToInt64(const QString& text);
// The same test without the exception: false leaves `value` unchanged.
bool TryStrToInt(const QString& text, int& value);
bool TryStrToInt64(const QString& text, int64_t& value);

// FFmpeg's text for an error code (av_strerror; the system's text for a code it does not
// know). Needs libavutil loaded; without it the text is "error <code>". Thread-safe.
QString AVErrorText(int code);
// The error printer used wherever an FFmpeg error is reported for a file:
// "<fileName>: <AVErrorText(code)>".
QString FFErrorText(const QString& fileName, int code);
