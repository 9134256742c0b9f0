#include "logjournal.h"

#include "guardedfile.h"
#include "journalnames.h"
#include "posixfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PosixFile;
using JournalNames::liveLengths;
using JournalNames::piecePath;

namespace {

constexpr qint64 kCopyStep = 4 * kChunk;   // bytes of an unlinked journal copied per step
constexpr int kRetryMs = 1000;

}   // namespace

LogJournal::LogJournal(const QString &dir, TokenSource tokens)
    : m_dir(QDir(dir).absolutePath())
    , m_fallback(LogFile::fallbackDirectory())
    , m_tokens(tokens ? std::move(tokens) : TokenSource(randomToken))
{
    m_retry.setInterval(kRetryMs);
    // The connection ends with the timer, that is with this journal.
    QObject::connect(&m_retry, &QTimer::timeout, &m_retry, [this] { retry(); });
    m_retry.start();
    if (!startPiece(0, {m_dir, m_fallback}))
        warn(m_reason);
}

LogJournal::~LogJournal()
{
    dropMove();
    for (const Piece &piece : m_pieces) {
        ::close(piece.fd);
        if (piece.shadowFd >= 0)
            ::close(piece.shadowFd);
    }
}

void LogJournal::onUnprotected(std::function<void(const QString &)> warn)
{
    m_warn = std::move(warn);
    if (m_warned && m_warn)
        m_warn(notice());
}

QString LogJournal::notice() const
{
    return QCoreApplication::translate("LogJournal",
        "工作记录无法写入日志文件（%1），此时程序若崩溃，工作记录将丢失；正常关闭窗口时仍会导出")
        .arg(m_warnedReason);
}

void LogJournal::warn(const QString &reason)
{
    if (m_warned)
        return;
    m_warned = true;
    m_warnedReason = reason;
    if (m_warn)
        m_warn(notice());
}

qint64 LogJournal::diskEnd() const
{
    return m_pieces.empty() ? 0 : m_pieces.back().start + m_pieces.back().length;
}

bool LogJournal::openPiece(const QString &folder, qint64 start, int number, Piece *piece)
{
    const int attempts = number > 0 ? 1 : kNameAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const QByteArray run = m_run.isEmpty()
            ? QByteArray::number(QCoreApplication::applicationPid()) + '-' + m_tokens()
            : m_run;
        // A name taken by someone else is passed over: the run's pieces need not be consecutive.
        const int n = number > 0 ? number : m_nextNumber + (m_run.isEmpty() ? 0 : attempt);
        const QString path = piecePath(folder, m_dir, run, n, start);
        const int fd = createLocked(path);
        if (fd < 0) {
            m_reason = errnoText(errno);
            if (errno == EEXIST || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        m_run = run;
        m_nextNumber = qMax(m_nextNumber, n + 1);
        *piece = Piece {};
        piece->fd = fd;
        piece->path = path;
        piece->number = n;
        piece->start = start;
        return true;
    }
    return false;
}

bool LogJournal::startPiece(qint64 start, const QStringList &folders)
{
    for (const QString &folder : folders) {
        Piece piece;
        if (!openPiece(folder, start, 0, &piece))
            continue;
        // Pieces that start at or behind it hold nothing of the record any more.
        for (size_t i = m_pieces.size(); i-- > 0;) {
            if (m_pieces[i].start >= start)
                dropPiece(i);
        }
        m_pieces.push_back(piece);
        return true;
    }
    return false;
}

void LogJournal::dropPiece(size_t index)
{
    const Piece &piece = m_pieces[index];
    ::unlink(encoded(piece.path).constData());
    ::close(piece.fd);
    if (piece.shadowFd >= 0) {
        ::unlink(encoded(piece.shadowPath).constData());
        ::close(piece.shadowFd);
    }
    m_pieces.erase(m_pieces.begin() + qsizetype(index));
}

bool LogJournal::writeToCurrent(const QByteArray &bytes)
{
    if (m_pieces.empty())
        return false;
    Piece &piece = m_pieces.back();
    if (writeAll(piece.fd, bytes.constData(), bytes.size(), piece.length, &m_reason)) {
        piece.length += bytes.size();
        return true;
    }
    cutTo(piece.fd, piece.length);   // the torn entry goes whole to the next piece
    return false;
}

void LogJournal::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_pending.isEmpty() && writeToCurrent(bytes))
        return;
    const bool first = m_pending.isEmpty();
    m_pending += bytes;
    if (first)
        retry();   // the fallback folder at once; later attempts are timed
}

void LogJournal::retry()
{
    checkLinks();
    copyShadows();
    if (m_move.fd >= 0) {
        if (!stepMove(kChunk))
            finishMove();   // the move failed: done at once, the old way
        if (m_move.fd >= 0)
            m_retry.setInterval(0);
    }
    if (m_pending.isEmpty())
        return;
    if (writeToCurrent(m_pending)) {
        m_pending.clear();
        return;
    }
    // The record goes on in the fallback folder; a folder already failed once is not tried again.
    QStringList folders;
    if (m_pieces.empty())
        folders = QStringList {m_dir, m_fallback};
    else if (!m_pieces.back().path.startsWith(m_fallback + u'/'))
        folders = QStringList {m_fallback};
    if (!folders.isEmpty() && startPiece(diskEnd(), folders) && writeToCurrent(m_pending)) {
        m_pending.clear();
        return;
    }
    warn(m_reason);
}

void LogJournal::checkLinks()
{
    for (Piece &piece : m_pieces) {
        struct stat info = {};
        if (piece.shadowFd >= 0 || ::fstat(piece.fd, &info) != 0 || info.st_nlink > 0)
            continue;
        // The file was removed (its folder too, perhaps): its bytes live on only in this
        // process until a copy of them is on disk again.
        m_fallback = LogFile::fallbackDirectory();
        const bool inFallback = piece.path.startsWith(m_fallback + u'/');
        Piece shadow;
        if (!openPiece(inFallback ? m_dir : m_fallback, piece.start, piece.number, &shadow)) {
            warn(m_reason);
            continue;
        }
        piece.shadowFd = shadow.fd;
        piece.shadowPath = shadow.path;
        piece.copied = 0;
    }
}

void LogJournal::copyShadows()
{
    bool copying = false;
    for (Piece &piece : m_pieces) {
        if (piece.shadowFd < 0)
            continue;
        const qint64 n = qMin(kCopyStep, piece.length - piece.copied);
        if (!copyRange(piece.fd, piece.copied, n, piece.shadowFd, piece.copied, &m_reason)) {
            warn(m_reason);
            ::unlink(encoded(piece.shadowPath).constData());
            ::close(piece.shadowFd);
            piece.shadowFd = -1;
            continue;
        }
        piece.copied += n;
        if (piece.copied < piece.length) {
            copying = true;
            continue;
        }
        ::close(piece.fd);
        piece.fd = piece.shadowFd;
        piece.path = piece.shadowPath;
        piece.shadowFd = -1;
    }
    m_retry.setInterval(copying ? 0 : kRetryMs);
}

void LogJournal::rewriteFrom(qint64 offset, const QByteArray &bytes)
{
    if (m_move.fd >= 0 && offset <= m_move.from)
        dropMove();   // everything it holds goes
    finishMove();
    const qint64 disk = diskEnd();
    if (offset >= disk) {
        m_pending.truncate(offset - disk);
        append(bytes);
        return;
    }
    m_pending.clear();
    // The piece that holds offset is cut there and the pieces after it go; where the file
    // system refuses the cut, a new piece starts at offset instead. Failing both, the cut is
    // only remembered: a recovery after a crash would show the lines as they were before.
    size_t holder = m_pieces.size() - 1;
    while (holder > 0 && m_pieces[holder].start > offset)
        --holder;
    Piece &piece = m_pieces[holder];
    if (cutTo(piece.fd, offset - piece.start) || !startPiece(offset, {m_fallback, m_dir})) {
        while (m_pieces.size() > holder + 1)
            dropPiece(m_pieces.size() - 1);
        piece.length = offset - piece.start;
        if (piece.shadowFd >= 0 && piece.copied > piece.length) {
            piece.copied = piece.length;
            cutTo(piece.shadowFd, piece.copied);
        }
    }
    append(bytes);
}

QByteArray LogJournal::read(qint64 from, qint64 to)
{
    finishMove();
    return readOld(from, to);
}

QByteArray LogJournal::readOld(qint64 from, qint64 to) const
{
    QByteArray bytes;
    const std::vector<qint64> lengths = liveLengths(m_pieces, &Piece::length);
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        const qint64 begin = qMax(from, m_pieces[i].start);
        const qint64 end = qMin(to, m_pieces[i].start + lengths[i]);
        if (begin >= end)
            continue;
        const qsizetype at = bytes.size();
        bytes.resize(at + (end - begin));
        QString ignored;
        if (!readAll(m_pieces[i].fd, bytes.data() + at, end - begin, begin - m_pieces[i].start,
                &ignored))
            bytes.truncate(at);
    }
    const qint64 disk = diskEnd();
    if (to > disk)
        bytes += m_pending.mid(qMax<qint64>(0, from - disk), to - qMax(from, disk));
    return bytes;
}

bool LogJournal::writeTo(int fd, QString *reason)
{
    finishMove();
    const std::vector<qint64> lengths = liveLengths(m_pieces, &Piece::length);
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        if (!copyRange(m_pieces[i].fd, 0, lengths[i], fd, -1, reason))
            return false;
    }
    return writeAll(fd, m_pending.constData(), m_pending.size(), -1, reason);
}

LogFile::ExportResult LogJournal::exportTo(const QString &dir)
{
    return LogFile::appendExport(
        dir, [this](int fd, QString *reason) { return writeTo(fd, reason); });
}

QStringList LogJournal::paths() const
{
    QStringList paths;
    for (const Piece &piece : m_pieces)
        paths << piece.path;
    return paths;
}

void LogJournal::remove()
{
    dropMove();
    while (!m_pieces.empty())
        dropPiece(m_pieces.size() - 1);
    m_pending.clear();
    m_retry.stop();
}
