#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

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
    const QCommandLineOption virtualAcceptMs(QStringLiteral("virtual-accept-ms"),
        QStringLiteral("With --virtual: time from a frame's arrival to the board's answer, 0 to "
                       "%1 ms (default %2).")
            .arg(kMaxAcceptDelayMs)
            .arg(VirtualBoardOptions().acceptDelayMs),
        QStringLiteral("ms"));
    const QCommandLineOption virtualSpeechScale(QStringLiteral("virtual-speech-scale"),
        QStringLiteral("With --virtual: playing time per second of speech, 0 to %1: 1 real time "
                       "(default), 0.01 a hundred times faster, 0 ends at once. Sound is played "
                       "at 1 only.")
            .arg(kMaxSpeechScale),
        QStringLiteral("factor"));
    const QCommandLineOption virtualUsbAcks(QStringLiteral("virtual-usb-acks"),
        QStringLiteral("With --virtual: which USB reports the board answers with 0x5E: full (each "
                       "0xFC report only), all (every report at once), ready (each 0xFC report "
                       "at once, the closing one once the chip can take the next text; default)."),
        QStringLiteral("full|all|ready"));
    const QCommandLineOption workDir(QStringLiteral("workdir"),
        QStringLiteral("Keep the start-up text 初始默认文本.txt and LOG.txt in DIR instead of the "
                       "working directory; DIR is created when missing. A leading ~ stands for "
                       "the home folder."),
        QStringLiteral("DIR"));
    const QCommandLineOption language(QStringLiteral("lang"),
        QStringLiteral("The window's language: zh (Chinese) or en (English). Without it an English "
                       "locale (LC_ALL, LC_MESSAGES or LANG starting with en) gives English, "
                       "any other Chinese. The work log and LOG.txt are Chinese in both."),
        QStringLiteral("zh|en"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(com);
    parser.addOption(internal);
    parser.addOption(virtualBoard);
    parser.addOption(virtualAcceptMs);
    parser.addOption(virtualSpeechScale);
    parser.addOption(virtualUsbAcks);
    parser.addOption(workDir);
    parser.addOption(language);

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
            result.output =
                QStringLiteral("--com expects COMn=PATH with n from 1 to %1, not \"%2\"\n")
                    .arg(kComPorts)
                    .arg(mapping);
            return result;
        }
        result.options.ports.setOverride(number, path);
    }
    if (parser.isSet(workDir)) {
        QString error;
        result.options.workDir = prepareWorkDir(parser.value(workDir), &error);
        if (result.options.workDir.isEmpty()) {
            result.exitNow = true;
            result.exitCode = 1;
            result.output = QStringLiteral("orv4120-demo: ") + error + QLatin1Char('\n');
            return result;
        }
    }
    if (parser.isSet(language)) {
        bool known = false;
        result.language = languageFromOption(parser.value(language), &known);
        if (!known) {
            result.exitNow = true;
            result.exitCode = 2;
            result.output = QStringLiteral("--lang expects zh or en, not \"")
                + parser.value(language) + QStringLiteral("\"\n");
            return result;
        }
        result.languageGiven = true;
    }
    result.options.internal = parser.isSet(internal);
    result.virtualBoard = parser.isSet(virtualBoard);
    QString boardError;
    if (!result.virtualBoard
        && (parser.isSet(virtualAcceptMs) || parser.isSet(virtualSpeechScale)
            || parser.isSet(virtualUsbAcks)))
        boardError = QStringLiteral(
            "--virtual-accept-ms, --virtual-speech-scale and --virtual-usb-acks need --virtual");
    if (boardError.isEmpty() && parser.isSet(virtualAcceptMs))
        boardError = setAcceptDelay(
            &result.board, QStringLiteral("--virtual-accept-ms"), parser.value(virtualAcceptMs));
    if (boardError.isEmpty() && parser.isSet(virtualSpeechScale))
        boardError = setSpeechScale(&result.board, QStringLiteral("--virtual-speech-scale"),
            parser.value(virtualSpeechScale));
    if (boardError.isEmpty() && parser.isSet(virtualUsbAcks))
        boardError = setUsbAcks(
            &result.board, QStringLiteral("--virtual-usb-acks"), parser.value(virtualUsbAcks));
    if (!boardError.isEmpty()) {
        result.exitNow = true;
        result.exitCode = 2;
        result.output = boardError + QStringLiteral("\n");
    }
    return result;
}

QString prepareWorkDir(const QString &dir, QString *error)
{
    QString path = dir;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path.replace(0, 1, QDir::homePath());
    if (path.isEmpty()) {
        *error = QStringLiteral("--workdir needs a folder");
        return {};
    }
    path = QDir(path).absolutePath();
    const auto cannotUse = [&](const QString &reason) {
        *error = QStringLiteral("the folder %1 cannot be used: %2").arg(path, reason);
        return QString();
    };
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return cannotUse(QStringLiteral("it is a file, not a folder"));
    if (!info.exists()) {
        std::error_code code;
        std::filesystem::create_directories(QFile::encodeName(path).constData(), code);
        if (code)
            return cannotUse(QStringLiteral("it cannot be created (%1)")
                                 .arg(QString::fromLocal8Bit(code.message())));
    }
    const QFileInfo made(path);
    if (!made.isReadable() || !made.isWritable() || !made.isExecutable())
        return cannotUse(QStringLiteral("no permission to read and write files in it"));
    // Permissions tell nothing of /proc, /sys or a read-only mount: a file is written and removed.
    const QString probe = QDir(path).filePath(
        QStringLiteral(".orv4120-demo-probe-%1")
            .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0')));
    const QByteArray probeName = QFile::encodeName(probe);
    const int fd =
        ::open(probeName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return cannotUse(QStringLiteral("no file can be written in it (%1)")
                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    const bool written = ::write(fd, "\n", 1) == 1;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (::unlink(probeName.constData()) != 0)
        return cannotUse(QStringLiteral("a file written in it cannot be removed (%1)")
                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (!written || !closed)
        return cannotUse(
            QStringLiteral("no file can be written in it (%1)")
                .arg(QString::fromLocal8Bit(std::strerror(written ? closeError : writeError))));
    return path;
}
