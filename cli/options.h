#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Exit codes of orv4120.
enum ExitCode {
    ExitDone = 0,
    // something else went wrong: a code table, a report file, an interruption (any command)
    ExitFailed = 1,
    ExitBadInput = 2,   // nothing was sent
    ExitUnavailable = 3,   // the port or USB board cannot be opened, or was lost
    ExitNoAnswer = 4,   // an answer did not come in time
    ExitErrorAnswer = 5,   // the chip answered 0x45
    ExitNotCarried = 6,   // the link cannot carry the command; nothing was sent
};

// One board named on the command line.
struct BoardSpec
{
    enum class Kind { Serial, Usb, VirtualSerial, VirtualUsb };
    Kind kind = Kind::Serial;
    QString path;   // a device path or "COMn"; for Usb empty means the first board found
};

struct CliOptions
{
    QString command;   // "say", "cache store", "tag volume", ...
    QList<QByteArray> arguments;   // what follows the command words, as given
    QList<BoardSpec> boards;
    int baud = 9600;
    // --virtual-accept-ms, --virtual-speech-scale and --virtual-usb-acks with their values, for
    // the virtual board
    QList<QPair<QString, QString>> virtualOptions;
    int encoding = 1;   // index of the encoding list: GBK
    bool inputGbk = false;   // text arguments and files are GBK, not UTF-8
    QString file;   // say -f FILE
    bool fromStdin = false;   // say -
    bool strict = false;
    bool noWait = false;
    bool noStop = false;   // an interrupted speech goes on
    bool json = false;
    bool quiet = false;
    bool header = false;   // raw: put the synthesis header in front
    double timeoutS = 2.0;   // each answer
    double speechTimeoutS = 3600.0;   // the end of speech
    double durationS = 0.0;   // soak
    QString textsFile;   // soak: texts instead of the internal test script
    QString reportDir = QStringLiteral(".");
    double waitScale = 1.0;   // soak: the internal test script's waits
};

// What the command line asks for, or what to print and the exit code when it asks for nothing
// more (help, version, a mistake).
struct ParsedCommandLine
{
    CliOptions options;
    bool exitNow = false;
    int exitCode = ExitDone;
    QString output;   // stdout when exitCode is 0, else stderr
};

// Reads the arguments (argv[1] on) as given: text arguments stay bytes until the input
// encoding is known.
ParsedCommandLine parseCommandLine(const QList<QByteArray> &arguments);

// Text of command-line or file bytes in the input encoding; none when they are not valid.
std::optional<QString> decodeInput(const QByteArray &bytes, bool gbk);
