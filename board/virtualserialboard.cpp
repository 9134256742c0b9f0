#include "virtualserialboard.h"

#include <QSocketNotifier>
#include <QThread>

#include <utility>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How often bytes on the line are handed on while there are any.
constexpr int kLineTickMs = 2;
// Bytes read off the pseudo-terminal that the line has not carried yet: one whole frame. The
// board reads no more until the line has carried some, so a host that writes faster than the
// line waits in its own write, as it would on a real line.
constexpr qsizetype kLineBufferBytes = 4096;
// Answers the host has not read yet. On a real line they would be lost in the host's full
// buffer; so are answers beyond these.
constexpr qsizetype kAnswerBufferBytes = 4096;

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(
        QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

}   // namespace

VirtualSerialBoard::VirtualSerialBoard(const BoardOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{ }

VirtualSerialBoard::~VirtualSerialBoard()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool VirtualSerialBoard::open()
{
    if (m_master >= 0)
        return true;
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0) {
        m_error = systemError("posix_openpt");
        return false;
    }
    const char *name = nullptr;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || !(name = ptsname(m_master))) {
        m_error = systemError("grantpt/unlockpt");
        ::close(m_master);
        m_master = -1;
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // The board keeps the slave open itself: the line stays raw, and the master reads no
    // hang-up when the host closes its port.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio {};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0) {
        m_error = systemError("open pty slave");
        ::close(m_master);
        m_master = -1;
        m_slavePath.clear();
        return false;
    }
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    if (tcgetattr(m_master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
    return true;
}

void VirtualSerialBoard::start()
{
    if (m_master < 0 && !open()) {
        emit failed(m_error);
        return;
    }
    m_chip = createChip(m_options, this, &m_warning);
    m_clock.start();
    m_lineTimer = new QTimer(this);
    m_lineTimer->setTimerType(Qt::PreciseTimer);
    m_lineTimer->setInterval(kLineTickMs);
    connect(m_lineTimer, &QTimer::timeout, this, &VirtualSerialBoard::deliverFromLine);
    connect(m_chip, &ChipModel::answered, this, &VirtualSerialBoard::send);
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &VirtualSerialBoard::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &VirtualSerialBoard::writePending);
    m_chip->powerUp(m_options.powerUpDelayMs);
}

void VirtualSerialBoard::readMaster()
{
    char buffer[kLineBufferBytes];
    for (;;) {
        const qsizetype room =
            m_options.baud <= 0 ? kLineBufferBytes : kLineBufferBytes - m_onLine.size();
        if (room <= 0) {
            m_lineFull = true;   // deliverFromLine() reads on
            m_readNotifier->setEnabled(false);
            return;
        }
        const ssize_t got = ::read(m_master, buffer, size_t(room));
        if (got > 0) {
            if (m_options.baud <= 0) {
                m_chip->receiveBytes(QByteArray(buffer, got));
                continue;
            }
            // A pty carries bytes at once; the line they stand for takes its time.
            if (m_onLine.isEmpty()) {
                m_lineStartMs = m_clock.elapsed();
                m_lineCarried = 0;
                m_lineTimer->start();
            }
            m_onLine.append(buffer, got);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // EOF or EIO cannot happen while the board holds the slave; anything else is fatal.
        m_readNotifier->setEnabled(false);
        emit failed(got < 0 ? systemError("read pty") : QStringLiteral("pty closed"));
        return;
    }
}

// Hands the chip what the line has carried since the last tick, at baud / 10 bytes a second.
void VirtualSerialBoard::deliverFromLine()
{
    const qint64 due = (m_clock.elapsed() - m_lineStartMs) * m_options.baud / 10 / 1000;
    const qint64 now = qMin<qint64>(due - m_lineCarried, m_onLine.size());
    if (now > 0) {
        const QByteArray bytes = m_onLine.left(now);
        m_onLine.remove(0, now);
        m_lineCarried += now;
        m_chip->receiveBytes(bytes);
        if (std::exchange(m_lineFull, false)) {
            m_readNotifier->setEnabled(true);
            readMaster();
        }
    }
    if (m_onLine.isEmpty())
        m_lineTimer->stop();
}

void VirtualSerialBoard::send(const QByteArray &bytes)
{
    m_pending += bytes.left(qMax<qsizetype>(0, kAnswerBufferBytes - m_pending.size()));
    writePending();
}

void VirtualSerialBoard::writePending()
{
    while (!m_pending.isEmpty()) {
        const ssize_t put = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (put > 0) {
            m_pending.remove(0, put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            m_pending.clear();
            emit failed(systemError("write pty"));
            return;
        }
        break;   // the line is full: go on when it takes more
    }
    m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

VirtualBoardRunner::VirtualBoardRunner(const BoardOptions &options)
    : m_options(options)
{ }

VirtualBoardRunner::~VirtualBoardRunner()
{
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();   // the board deletes itself as its thread finishes
        delete m_thread;
    } else {
        delete m_board;
    }
}

bool VirtualBoardRunner::start()
{
    if (m_thread)
        return true;
    m_board = new VirtualSerialBoard(m_options);
    if (!m_board->open()) {
        m_error = m_board->errorString();
        delete m_board;
        m_board = nullptr;
        return false;
    }
    m_slavePath = m_board->slavePath();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("virtual board"));
    m_board->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::started, m_board, &VirtualSerialBoard::start);
    QObject::connect(m_thread, &QThread::finished, m_board, &QObject::deleteLater);
    m_thread->start();
    return true;
}
