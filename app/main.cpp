#include "Form1.h"
#include "commandline.h"
#include "language.h"
#include "operatormessages.h"
#include "version.h"
#include "virtualboards.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

static int g_signalPipe[2] = {-1, -1};
static volatile sig_atomic_t g_signal = 0;   // the first terminating signal, 0 while none came

static void onTerminate(int signal)
{
    if (g_signal == 0)
        g_signal = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP are caught from the first moment; they take effect once the event
// loop runs, so one that comes while the window is being built still ends with an export.
static void catchTerminate()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);   // a burst of signals never blocks the handler
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// The window closes as its close button does, so the log is exported (a notice of the export goes
// to standard error, no one may be there to read a box), and then the program ends, whatever
// message box is open.
static void endOnTerminate(QPointer<Form1> window)
{
    if (g_signalPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (window) {
            window->setQuietClose(true);
            window->close();
        }
        QCoreApplication::exit(128 + g_signal);   // leaves every event loop, a box's too
    });
}
#endif

static int run(int argc, char *argv[]);

// Started from a menu there is no terminal to read an error: it is shown in a box as well.
// Headless runs (no display, or a platform nobody sees) get no box, which would wait forever.
static bool startedFromDesktop()
{
#ifdef Q_OS_UNIX
    if (::isatty(STDERR_FILENO))
        return false;
#endif
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.startsWith(QLatin1String("offscreen"))
        || platform.startsWith(QLatin1String("minimal")))
        return false;
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    catchTerminate();
    const int code = run(argc, argv);
    if (g_signal != 0) {
        // ended by the signal, as its sender expects to see
        ::signal(g_signal, SIG_DFL);
        ::raise(g_signal);
    }
    return code;
#else
    return run(argc, argv);
#endif
}

static int run(int argc, char *argv[])
{
    // The command line is read before any window system is touched, so --help and --version
    // work without a display.
    CommandLine commandLine;
    {
        QCoreApplication probe(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("orv4120-demo"));
        QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
        commandLine = parseCommandLine(QCoreApplication::arguments());
    }
    if (commandLine.exitNow) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
            commandLine.exitCode == 0 ? stdout : stderr);
        if (commandLine.exitCode == 0 || !startedFromDesktop())
            return commandLine.exitCode;
        QApplication app(argc, argv);
#ifdef Q_OS_UNIX
        endOnTerminate(nullptr);   // a box nobody reads must not outlive a kill request
#endif
        MessageBoxes(nullptr).showAndWait(commandLine.output.trimmed());   // nothing else runs yet
        return commandLine.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orv4120-demo"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // The desktop entry's name: the icon and the name a desktop shows for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orv4120.demo"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.orv4120.demo")));
    if (!installLanguage(
            &app, commandLine.languageGiven ? commandLine.language : languageFromEnvironment()))
        std::fputs(
            "the English translation could not be loaded; the window stays Chinese\n", stderr);

    // The virtual boards live as long as the program; their speech runs on threads of their own.
    std::unique_ptr<VirtualBoards> boards;
    if (commandLine.virtualBoard) {
        QString error;
        boards = loadVirtualBoards(commandLine.board, &error);
        const QString path = boards ? boards->serialPath(&error) : QString();
        if (!path.isEmpty()) {
            commandLine.options.ports.setOverride(
                1, path, QCoreApplication::translate("main", "虚拟板"));
            std::fprintf(stderr, "virtual board on %s (COM1)\n", path.toLocal8Bit().constData());
        } else {
            std::fprintf(
                stderr, "the virtual board could not start: %s\n", error.toLocal8Bit().constData());
        }
        if (boards)
            commandLine.options.hid = &boards->usb();
    }

    MessageBoxes messages;
    QPointer<Form1> window = new Form1(std::move(commandLine.options), &messages);
    messages.setWindow(window);   // the start-up's messages open once the window is on screen
    window->setAttribute(Qt::WA_DeleteOnClose);
#ifdef Q_OS_UNIX
    endOnTerminate(window);
#endif
    window->show();
    const int code = app.exec();
    delete window.data();   // closed but not yet deleted when the loop ends: the log is exported
    return code;
}
