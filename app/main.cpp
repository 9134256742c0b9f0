#include "Form1.h"
#include "commandline.h"
#include "interrupts.h"
#include "language.h"
#include "operatormessages.h"
#include "version.h"
#include "virtualboards.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>

// The window closes as its close button does, so the log is exported (a notice of the export goes
// to standard error, no one may be there to read a box), and then the program ends, whatever
// message box is open. A signal that came while the window was being built takes effect here.
static void endOnTerminate(QPointer<Form1> window)
{
    Interrupts::onSignal(qApp, [window] {
        if (window) {
            window->setQuietClose(true);
            window->close();
        }
        QCoreApplication::exit(128 + Interrupts::first());   // leaves every event loop, a box's too
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
    Interrupts::install();   // from the first moment, so a signal during start-up is not lost
    const int code = run(argc, argv);
    Interrupts::endBySignal();
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
