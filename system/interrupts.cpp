#include "interrupts.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pair[2] = {-1, -1};
volatile sig_atomic_t g_first = 0;

void onSignalCaught(int signal)
{
    if (g_first == 0)
        g_first = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pair[1], &byte, 1);   // full: the loop knows
}

}   // namespace

namespace Interrupts {

void install()
{
    if (g_pair[0] >= 0
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignalCaught;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int descriptor()
{
    return g_pair[0];
}

int first()
{
    return g_first;
}

void onSignal(QObject *context, std::function<void()> call)
{
    if (g_pair[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_pair[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [call] {
        char byte;
        if (::read(g_pair[0], &byte, 1) == 1)
            call();
    });
}

void endBySignal()
{
    if (g_first == 0)
        return;
    ::signal(g_first, SIG_DFL);
    ::raise(g_first);
}

}   // namespace Interrupts
