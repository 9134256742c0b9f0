#include "Form1.h"
#include "commandline.h"
#include "operatormessages.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

static int g_signalPipe[2] = {-1, -1};

static void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP close the window as its close button does, so the log is exported.
static void closeOnTerminate(QPointer<Form1> window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (window) {
            window->setQuietClose(true);   // no one may be there to read a message
            window->close();
        }
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif

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
    // The command line is read before any window system is touched, so --help and --version
    // work without a display.
    CommandLine commandLine;
    {
        QCoreApplication probe(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("orv4120-demo"));
        QCoreApplication::setApplicationVersion(QStringLiteral(ORV_VERSION));
        commandLine = parseCommandLine(QCoreApplication::arguments());
    }
    if (commandLine.exitNow) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
            commandLine.exitCode == 0 ? stdout : stderr);
        if (commandLine.exitCode == 0 || !startedFromDesktop())
            return commandLine.exitCode;
        QApplication app(argc, argv);
        MessageBoxes(nullptr).showAndWait(commandLine.output.trimmed());   // nothing else runs yet
        return commandLine.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orv4120-demo"));
    QApplication::setApplicationVersion(QStringLiteral(ORV_VERSION));
    // The desktop entry's name: the icon and the name a desktop shows for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orv4120.demo"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.orv4120.demo")));

    // The virtual board lives as long as the program; its speech runs on a thread of its own.
    std::unique_ptr<VirtualBoardRunner> serialBoard;
    std::unique_ptr<VirtualHidApi> usbBoard;
    if (commandLine.virtualBoard) {
        serialBoard = std::make_unique<VirtualBoardRunner>();
        if (serialBoard->start()) {
            commandLine.options.ports.setOverride(1, serialBoard->slavePath());
            std::fprintf(stderr, "virtual board on %s (COM1)\n",
                serialBoard->slavePath().toLocal8Bit().constData());
        } else {
            std::fprintf(stderr, "the virtual board could not start: %s\n",
                serialBoard->errorString().toLocal8Bit().constData());
        }
        usbBoard = std::make_unique<VirtualHidApi>();
        commandLine.options.hid = usbBoard.get();
    }

    MessageBoxes messages(nullptr);
    QPointer<Form1> window = new Form1(std::move(commandLine.options), &messages);
    window->setAttribute(Qt::WA_DeleteOnClose);
#ifdef Q_OS_UNIX
    closeOnTerminate(window);
#endif
    window->show();
    const int code = app.exec();
    delete window.data();   // closed but not yet deleted when the loop ends: the log is exported
    return code;
}
