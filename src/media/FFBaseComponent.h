#pragma once

#include <QObject>
#include <QString>

// The common base of the engine's non-visual components (logger, decoder, encoder,
// player, frame input). The owner, when given, deletes the component with itself.
// Components are used from the main thread unless their header says otherwise.
class TFFBaseComponent : public QObject {
public:
    explicit TFFBaseComponent(QObject* owner = nullptr) : QObject(owner) {}

    QString About() const { return QStringLiteral("Vexmira media engine over FFmpeg"); }
    QString Version() const { return QStringLiteral("2.0"); }
};
