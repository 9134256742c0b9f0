// orv4120: the command line on the session, links and frames of orv4120-demo.
#include "boards.h"
#include "commands.h"
#include "options.h"
#include "output.h"
#include "ports.h"
#include "product.h"
#include "soak.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP reach the event loop as a call of interrupt.
void interruptOnSignals(std::function<void()> interrupt)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [interrupt] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        interrupt();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

}   // namespace

int main(int argc, char *argv[])
{
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    if (isProductCommand(arguments))
        return runProductCommand(arguments, argc, argv);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (parsed.exitNow) {
        const QByteArray text = parsed.output.toUtf8();
        std::fputs(text.constData(), parsed.exitCode == ExitDone ? stdout : stderr);
        return parsed.exitCode;
    }
    const CliOptions &options = parsed.options;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orv4120"));
    Output output(options.json, options.quiet);
    if (options.command == u"ports")
        return listPorts(output);

    // The opener owns the virtual boards: it goes after every board it opened.
    BoardOpener opener(options);
    int code = ExitDone;
    if (QString error; !opener.prepareVirtual(&error, &code)) {
        output.error(error);
        return code;
    }
    if (options.command == u"soak") {
        SoakRun run(options, output);
        if (!run.prepare(&code) || !run.start(opener, &code))
            return code;
        QObject::connect(&run, &SoakRun::finished, &app, &QCoreApplication::exit);
        interruptOnSignals([&run] { run.interrupt(); });
        return app.exec();
    }

    std::unique_ptr<OpenedBoard> board;   // outlives the run that talks to it
    CommandRun run(options, output);
    if (!run.prepare(&code))
        return code;
    QString error;
    board = opener.open(options.boards.first(), &error);
    if (!board) {
        output.error(error);
        return ExitUnavailable;
    }
    if (!run.start(*board, &code))
        return code;
    QObject::connect(&run, &CommandRun::finished, &app, &QCoreApplication::exit);
    interruptOnSignals([&run] { run.interrupt(); });
    return app.exec();
}
