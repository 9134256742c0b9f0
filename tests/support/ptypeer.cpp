#include "ptypeer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer(QObject *parent)
    : QObject(parent)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    // Programs the test starts do not inherit the master: closing it must hang the line up.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    m_slaveKeeper = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slaveKeeper >= 0) {
        termios raw {};
        ::tcgetattr(m_slaveKeeper, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slaveKeeper, TCSANOW, &raw);
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyPeer::readMaster);
}

PtyPeer::~PtyPeer()
{
    unplug();
}

void PtyPeer::readMaster()
{
    char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_received.append(buffer, n);
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;   // EAGAIN, or EIO while no slave is open
    }
    if (any)
        emit bytesReceived();
}

void PtyPeer::answer(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
}

void PtyPeer::setReading(bool reading)
{
    if (m_notifier)
        m_notifier->setEnabled(reading);
}

void PtyPeer::unplug()
{
    m_notifier.reset();
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveKeeper = -1;
    m_master = -1;
}
