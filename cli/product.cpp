#include "product.h"

#include "decode.h"
#include "framecmd.h"
#include "monitor.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const kProductCommands[] = {"frame", "decode", "monitor"};

bool isOurs(const QByteArray &word)
{
    for (const char *name : kProductCommands) {
        if (word == name)
            return true;
    }
    return false;
}

QString helpOf(const QByteArray &command)
{
    if (command == "frame")
        return frameCommandHelp();
    if (command == "decode")
        return decodeCommandHelp();
    if (command == "monitor")
        return monitorCommandHelp();
    return {};
}

}   // namespace

bool isProductCommand(const QList<QByteArray> &arguments)
{
    if (arguments.isEmpty())
        return false;
    if (arguments.first() == "help")
        return arguments.size() > 1 && isOurs(arguments.at(1));
    return isOurs(arguments.first());
}

int runProductCommand(const QList<QByteArray> &arguments, int argc, char *argv[])
{
    if (arguments.first() == "help") {
        const QByteArray text = helpOf(arguments.at(1)).toUtf8();
        std::fputs(text.constData(), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orv4120"));
    const QByteArray command = arguments.first();
    const QList<QByteArray> rest = arguments.mid(1);
    if (command == "frame")
        return runFrameCommand(rest);
    if (command == "decode")
        return runDecodeCommand(rest);
    if (command == "monitor")
        return runMonitorCommand(rest);
    return 2;
}
