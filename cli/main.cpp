// orv4120: the command line on the session, links and frames of orv4120-demo.
#include "boards.h"
#include "commands.h"
#include "interrupts.h"
#include "options.h"
#include "output.h"
#include "ports.h"
#include "product.h"
#include "soak.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

// Whether --json was asked for, read from the arguments as given (for a command line that could
// not be read as a whole).
bool jsonAsked(const QList<QByteArray> &arguments)
{
    for (const QByteArray &argument : arguments) {
        if (argument == "--")
            return false;
        if (argument == "--json")
            return true;
    }
    return false;
}

// A run that ends before its event loop: the result event, when JSON was asked for, says so too.
int endEarly(Output &output, const QString &command, int code)
{
    QJsonObject result {
        {QStringLiteral("event"), QStringLiteral("result")}, {QStringLiteral("exit"), code}};
    if (!command.isEmpty())
        result.insert(QStringLiteral("command"), command);
    if (!output.lastError().isEmpty())
        result.insert(QStringLiteral("message"), output.lastError());
    output.event(result);
    return code;
}

}   // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGXFSZ, SIG_IGN);   // a write past the file size limit fails with EFBIG instead
    Interrupts::install();
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    if (isProductCommand(arguments))
        return runProductCommand(arguments, argc, argv);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (parsed.exitNow) {
        const QByteArray text = parsed.output.toUtf8();
        std::fputs(text.constData(), parsed.exitCode == ExitDone ? stdout : stderr);
        if (parsed.exitCode != ExitDone && jsonAsked(arguments)) {
            Output output(true, false);
            output.setLastError(parsed.output.trimmed().remove(QStringLiteral("orv4120: ")));
            return endEarly(output, {}, parsed.exitCode);
        }
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
        return endEarly(output, options.command, code);
    }
    if (options.command == u"soak") {
        SoakRun run(options, output);
        if (!run.prepare(&code) || !run.start(opener, &code))
            return endEarly(output, options.command, code);
        QObject::connect(&run, &SoakRun::finished, &app, &QCoreApplication::exit);
        Interrupts::onSignal(&run, [&run] { run.interrupt(); });
        return app.exec();
    }

    std::unique_ptr<OpenedBoard> board;   // outlives the run that talks to it
    CommandRun run(options, output);
    if (!run.prepare(&code))
        return endEarly(output, options.command, code);
    QString error;
    board = opener.open(options.boards.first(), &error);
    if (!board) {
        output.error(error);
        return endEarly(output, options.command, ExitUnavailable);
    }
    if (!run.start(*board, &code))
        return endEarly(output, options.command, code);
    QObject::connect(&run, &CommandRun::finished, &app, &QCoreApplication::exit);
    Interrupts::onSignal(&run, [&run] { run.interrupt(); });
    return app.exec();
}
