#include "cli/InfoCommand.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!arguments.isEmpty() && arguments.first() == QStringLiteral("info"))
        return InfoCommand(arguments.mid(1));
    std::fprintf(stderr, "usage: vexmira-cli <command> ...\n"
                         "  info <media file>   what the file holds\n");
    return 2;
}
