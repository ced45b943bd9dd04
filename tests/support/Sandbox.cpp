#include "support/Sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <functional>

TSandbox::TSandbox() {
    Set("HOME", Home());
    Set("XDG_CONFIG_HOME", ConfigHome());
    Set("XDG_DATA_HOME", Home() + QStringLiteral("/.local/share"));
    QDir().mkpath(Home());
}

TSandbox::~TSandbox() {
    for (const auto& [name, value] : FSaved) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QStringList TSandbox::DamagedCopies(const QString& good, qsizetype keep) const {
    QFile file(good);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QByteArray scrambled = bytes;
    for (qsizetype i = keep; i < scrambled.size(); ++i)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    const QString suffix = u'.' + QFileInfo(good).suffix();
    return {Write(QStringLiteral("damaged/cut") + suffix, bytes.left(keep)),
            Write(QStringLiteral("damaged/scrambled") + suffix, scrambled),
            Write(QStringLiteral("damaged/text") + suffix,
                  QByteArray("[00:01.00]these are words, not media\r\n")),
            Write(QStringLiteral("damaged/empty") + suffix, QByteArray())};
}

void TSandbox::Set(const char* name, const QString& value) {
    FSaved.emplace(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
    qputenv(name, value.toUtf8());
}

QString TSandbox::File(const QString& relative) const {
    const QString path = FDir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}

QString TSandbox::Write(const QString& relative, const QByteArray& data) const {
    const QString path = File(relative);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
    return path;
}

void PumpEvents(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    } while (t.elapsed() < ms);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

struct TModalHandler::TImpl {
    QTimer Timer;
    QPointer<QWidget> Last;
};

TModalHandler::TModalHandler(std::function<void(QWidget*)> handler)
    : FImpl(std::make_unique<TImpl>()) {
    FImpl->Timer.setInterval(10);
    QObject::connect(&FImpl->Timer, &QTimer::timeout, [this, handler] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == FImpl->Last || !modal->isVisible())
            return;
        FImpl->Last = modal;
        ++FHandled;
        handler(modal);
    });
    FImpl->Timer.start();
}

TModalHandler::~TModalHandler() = default;
