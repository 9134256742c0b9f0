// orv4120-board: the virtual ORV4120 chip board on a pseudo-terminal.
#include "version.h"
#include "virtualserialboard.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>

namespace {

void quitOnSignal(int)
{
    QCoreApplication::quit();   // posts an event; safe enough for a console program's exit
}

}   // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orv4120-board"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Virtual ORV4120 chip board. Prints the path of its serial port (a pseudo-terminal) on\n"
        "stdout and answers frames on it as the chip does, speaking the text."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption wav(QStringLiteral("wav"),
        QStringLiteral("Also write the speech to <file> (WAV)."), QStringLiteral("file"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No sound output."));
    // One default for the board and the command line: the line speed the host starts with.
    static const QStringList kRates = {QStringLiteral("4800"), QStringLiteral("9600"),
        QStringLiteral("57600"), QStringLiteral("115200")};
    const QString defaultBaud = QString::number(BoardOptions().baud);
    QStringList shown = kRates;
    shown.replaceInStrings(QRegularExpression(QStringLiteral("^%1$").arg(defaultBaud)),
        defaultBaud + QStringLiteral(" (default)"));
    const QString rates =
        shown.mid(0, 3).join(QStringLiteral(", ")) + QStringLiteral(" or ") + shown.last();
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral("Line speed the host uses: %1. The board takes bytes off its "
                       "pseudo-terminal no faster than this line carries them.")
            .arg(rates),
        QStringLiteral("rate"), defaultBaud);
    const QCommandLineOption acceptMs(QStringLiteral("accept-ms"),
        QStringLiteral("Time from a frame's arrival to its 0x41, 0 to %1 (default %2).")
            .arg(kMaxAcceptDelayMs)
            .arg(ChipModel::kDefaultAcceptDelayMs),
        QStringLiteral("ms"), QString::number(ChipModel::kDefaultAcceptDelayMs));
    const QCommandLineOption speechScale(QStringLiteral("speech-scale"),
        QStringLiteral("Playing time per second of speech, 0 to %1: 1 real time (default), 0.01 "
                       "a hundred times faster, 0 ends at once. Sound is played at 1 only.")
            .arg(kMaxSpeechScale),
        QStringLiteral("factor"), QStringLiteral("1"));
    parser.addOptions({wav, quiet, baud, acceptMs, speechScale});
    parser.process(app);
    qSetMessagePattern(QStringLiteral("orv4120-board: %{message}"));

    if (!kRates.contains(parser.value(baud))) {
        std::fprintf(stderr, "orv4120-board: --baud must be one of 4800, 9600, 57600, 115200\n");
        return 2;
    }

    BoardOptions options;
    options.baud = parser.value(baud).toInt();
    options.wavPath = parser.value(wav);
    options.playback = !parser.isSet(quiet);
    for (const QString &error :
        {setAcceptDelay(&options, QStringLiteral("--accept-ms"), parser.value(acceptMs)),
            setSpeechScale(
                &options, QStringLiteral("--speech-scale"), parser.value(speechScale))}) {
        if (!error.isEmpty()) {
            std::fprintf(stderr, "orv4120-board: %s\n", qPrintable(error));
            return 2;
        }
    }

    // The program's only work is the board, so it is served on the main thread.
    VirtualSerialBoard board(options);
    if (!board.open()) {
        std::fprintf(stderr, "orv4120-board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    QObject::connect(&board, &VirtualSerialBoard::failed, &app, [](const QString &reason) {
        std::fprintf(stderr, "orv4120-board: %s\n", qPrintable(reason));
        QCoreApplication::exit(1);
    });
    board.start();
    if (!board.warning().isEmpty())
        std::fprintf(stderr, "orv4120-board: %s\n", qPrintable(board.warning()));
    if (!options.wavPath.isEmpty() && board.warning().contains(options.wavPath))
        return 1;   // asked for a file that cannot be written: nothing would be kept

    std::printf("%s\n", qPrintable(board.slavePath()));
    std::fflush(stdout);

    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGTERM, quitOnSignal);
    return app.exec();
}
