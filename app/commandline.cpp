#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine result;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Demonstration and test tool for the ORV4120 text-to-speech chip."));
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("Show the program version and exit."));
    const QCommandLineOption com(QStringLiteral("com"),
        QStringLiteral("Map the port COMn (1-20) to a serial device, for example "
                       "--com COM1=/dev/ttyUSB0. May be given several times. Without it COMn is "
                       "the n-th present serial device, USB adapters first."),
        QStringLiteral("COMn=PATH"));
    const QCommandLineOption internal(QStringLiteral("internal"),
        QStringLiteral("Show the internal controls: the USB link, the version query, continuous "
                       "replay and the internal test."));
    const QCommandLineOption virtualBoard(QStringLiteral("virtual"),
        QStringLiteral("Start the built-in virtual chip board and attach it as COM1 (and as the "
                       "USB board), so the tool works without hardware."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(com);
    parser.addOption(internal);
    parser.addOption(virtualBoard);

    if (!parser.parse(arguments)) {
        result.exitNow = true;
        result.exitCode = 2;
        result.output = parser.errorText() + QStringLiteral("\n\n") + parser.helpText();
        return result;
    }
    if (parser.isSet(help)) {
        result.exitNow = true;
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.exitNow = true;
        result.output =
            QStringLiteral("orv4120-demo %1\n").arg(QCoreApplication::applicationVersion());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.exitNow = true;
        result.exitCode = 2;
        result.output = QStringLiteral("Unexpected argument: ")
            + parser.positionalArguments().first() + QStringLiteral("\n\n") + parser.helpText();
        return result;
    }
    for (const QString &mapping : parser.values(com)) {
        int number = 0;
        QString path;
        if (!parseComMapping(mapping, &number, &path)) {
            result.exitNow = true;
            result.exitCode = 2;
            result.output = QStringLiteral("--com expects COMn=PATH with n from 1 to 20, not \"")
                + mapping + QStringLiteral("\"\n");
            return result;
        }
        result.options.ports.setOverride(number, path);
    }
    result.options.internal = parser.isSet(internal);
    result.virtualBoard = parser.isSet(virtualBoard);
    return result;
}
