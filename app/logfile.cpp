#include "logfile.h"

#include "codepage.h"
#include "logshape.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = qint64(1) << 20;   // bytes per read when streaming or copying
constexpr qint64 kCopyStep = 4 * kChunk;   // bytes of an unlinked journal copied per step
constexpr int kRetryMs = 1000;
constexpr int kNameAttempts = 16;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// A file of a new, private name: fails when anything, a link included, has the name already.
int createNew(const QString &path)
{
    return ::open(
        encoded(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// A new file of a private name, locked before it has its name where the system allows (an
// unnamed file, locked, then linked in), so that a recovery never takes a journal being made for
// a dead run's. Elsewhere the lock follows the creation at once. Fails with EEXIST when anything
// has the name already, with EWOULDBLOCK when someone locked the new file first.
int createLocked(const QString &path)
{
#ifdef O_TMPFILE
    const int unnamed = ::open(
        encoded(QFileInfo(path).absolutePath()).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(unnamed);
        if (::flock(unnamed, LOCK_EX | LOCK_NB) == 0
            && ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, encoded(path).constData(),
                   AT_SYMLINK_FOLLOW)
                == 0)
            return unnamed;
        const int error = errno;
        ::close(unnamed);
        if (error == EEXIST) {
            errno = error;
            return -1;
        }
        // no /proc, or a file system that links no unnamed file: a named file below
    }
#endif
    const int fd = createNew(path);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {   // someone opened it already: not ours alone
        ::close(fd);
        ::unlink(encoded(path).constData());
        errno = EWOULDBLOCK;
        return -1;
    }
    return fd;
}

// Writes at offset, or at the file's position when offset < 0.
bool writeAll(int fd, const char *data, qint64 size, qint64 offset, QString *reason)
{
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, size_t(size))
                                     : ::pwrite(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *reason = n < 0 ? errnoText(errno) : QStringLiteral("no byte written");
            return false;
        }
        data += n;
        size -= n;
        if (offset >= 0)
            offset += n;
    }
    return true;
}

bool readAll(int fd, char *data, qint64 size, qint64 offset, QString *reason)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *reason = n < 0 ? errnoText(errno) : QStringLiteral("journal shorter than written");
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// Copies bytes [from, from + size) of in to out, at outOffset (< 0: at out's position).
bool copyRange(int in, qint64 from, qint64 size, int out, qint64 outOffset, QString *reason)
{
    QByteArray buffer(int(qMin(size, kChunk)), Qt::Uninitialized);
    while (size > 0) {
        const qint64 n = qMin(size, kChunk);
        if (!readAll(in, buffer.data(), n, from, reason)
            || !writeAll(out, buffer.constData(), n, outOffset, reason))
            return false;
        from += n;
        size -= n;
        if (outOffset >= 0)
            outOffset += n;
    }
    return true;
}

// Cuts a file to length; false when the file system refuses.
bool cutTo(int fd, qint64 length)
{
    return ::ftruncate(fd, off_t(length)) == 0;
}

QByteArray randomToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

// How much of each piece (in record order) belongs to the record: a piece ends where a later
// piece starts before its end.
template <typename Piece>
std::vector<qint64> liveLengths(const std::vector<Piece> &pieces, qint64 Piece::*length)
{
    std::vector<qint64> lengths(pieces.size());
    qint64 limit = std::numeric_limits<qint64>::max();
    for (size_t i = pieces.size(); i-- > 0;) {
        lengths[i] = qBound<qint64>(0, limit - pieces[i].start, pieces[i].*length);
        limit = qMin(limit, pieces[i].start);
    }
    return lengths;
}

// The working directory's part of journal names in the fallback folder.
QString dirKey(const QString &dir)
{
    const QByteArray absolute = QDir(dir).absolutePath().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(absolute, QCryptographicHash::Sha1).toHex().left(12));
}

QString namePrefix(const QString &folder, const QString &dir)
{
    return QDir(folder) == QDir(dir) ? QString() : dirKey(dir) + u'.';
}

QString pieceName(
    const QString &folder, const QString &dir, const QByteArray &run, int number, qint64 start)
{
    return QDir(folder).absoluteFilePath(namePrefix(folder, dir) + LogFile::kFileName + u'.'
        + QString::fromLatin1(run) + QStringLiteral(".%1.%2.journal").arg(number).arg(start));
}

bool writeExport(int fd, const LogFile::ExportBody &body, QString *reason)
{
    const QByteArray heading = toGbk(kExportHeading + kCrLf);
    const QByteArray end = toGbk(kCrLf);
    return writeAll(fd, heading.constData(), heading.size(), -1, reason) && body(fd, reason)
        && writeAll(fd, end.constData(), end.size(), -1, reason);
}

// A name in a folder that anybody may write to and whose sticky bit keeps each user's names
// their own, put there by neither this user nor the folder's owner: it may lead anywhere.
bool plantedByOther(const QString &path, const struct stat &entry)
{
    struct stat folder = {};
    if (::stat(encoded(QFileInfo(path).absolutePath()).constData(), &folder) != 0)
        return true;   // a folder that cannot be looked at is taken at its worst
    const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return shared && entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
}

const QString kForeignLink = QStringLiteral("是其他用户在共享文件夹中放置的链接");
const QString kForeignFile = QStringLiteral("是其他用户在共享文件夹中的文件");

}   // namespace

namespace LogFile {

QString refusedLink(const QString &path)
{
    struct stat entry = {};
    if (::lstat(encoded(path).constData(), &entry) != 0 || !S_ISLNK(entry.st_mode))
        return {};
    return plantedByOther(path, entry) ? kForeignLink : QString();
}

int openGuarded(const QString &path, int flags, mode_t mode, QString *reason)
{
    const QByteArray name = encoded(path);
    int fd = ::open(name.constData(), flags | O_NOFOLLOW, mode);
    struct stat entry = {};
    // A link (ELOOP, or EACCES where O_CREAT meets a link): its owner cannot change while it is
    // there, and in a sticky folder only its owner or the folder's owner can put another in its
    // place.
    if (fd < 0 && (errno == ELOOP || errno == EACCES) && ::lstat(name.constData(), &entry) == 0
        && S_ISLNK(entry.st_mode)) {
        if (plantedByOther(path, entry)) {
            *reason = kForeignLink;
            return -1;
        }
        fd = ::open(name.constData(), flags, mode);
    } else if (fd >= 0 && (flags & O_CREAT) && !(flags & O_EXCL)) {
        struct stat opened = {};
        if (::fstat(fd, &opened) == 0 && opened.st_uid != ::geteuid()
            && plantedByOther(path, opened)) {
            ::close(fd);
            *reason = kForeignFile;
            return -1;
        }
    }
    if (fd < 0)
        *reason = errnoText(errno);
    return fd;
}

bool readStartText(const QString &path, QByteArray *bytes, QString *problem)
{
    bytes->clear();
    const QString refused = refusedLink(path);
    if (!refused.isEmpty()) {
        *problem = refused + QStringLiteral("，未读取，发送框为空");
        return false;
    }
    // A FIFO would block the start for good, a device or a folder has no text.
    const QString kind = nonRegularFileKind(path);
    if (!kind.isEmpty()) {
        *problem = QStringLiteral("不是普通文件（%1），未读取，发送框为空").arg(kind);
        return false;
    }
    // A read-only folder still gives the text of a file that is there.
    QString reason;
    int fd = openGuarded(path, O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666, &reason);
    if (fd < 0 && reason != kForeignLink && reason != kForeignFile)
        fd = openGuarded(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0, &reason);
    if (fd < 0) {
        if (reason == errnoText(ENOENT))
            return true;   // missing, and the folder takes no new file: an empty box
        *problem = QStringLiteral("无法读取（%1），发送框为空").arg(reason);
        return false;
    }
    struct stat info = {};
    const auto tooLarge = [&](qint64 size) {
        *problem = QStringLiteral("过大（%1 字节，上限 %2 字节），未读取，发送框为空")
                       .arg(size)
                       .arg(kMaxStartTextBytes);
        bytes->clear();
        ::close(fd);
        return false;
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *problem = QStringLiteral("不是普通文件，未读取，发送框为空");
        return false;
    }
    if (info.st_size > kMaxStartTextBytes)
        return tooLarge(info.st_size);
    // The file may grow while it is read: one byte past the limit tells.
    bytes->resize(qsizetype(kMaxStartTextBytes + 1));
    qint64 got = 0;
    while (got < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *problem = QStringLiteral("无法读取（%1），发送框为空").arg(errnoText(errno));
            bytes->clear();
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > kMaxStartTextBytes)
        return tooLarge(got);
    bytes->truncate(got);
    bytes->squeeze();
    ::close(fd);
    return true;
}

QString fallbackDirectory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!base.isEmpty() && QDir().mkpath(base)) {
        const QString dir = base + QStringLiteral("/orv4120-demo");
        ::mkdir(encoded(dir).constData(), 0700);
        struct stat info = {};
        if (::stat(encoded(dir).constData(), &info) == 0 && S_ISDIR(info.st_mode)
            && info.st_uid == ::geteuid())
            return dir;
    }
    return QDir::tempPath();   // shared: every name the program makes there is random
}

ExportResult appendExport(const QString &dir, const ExportBody &body)
{
    ExportResult result;
    const QString path = QDir(dir).absoluteFilePath(kFileName);
    // A FIFO or a device at the name would block the close or swallow the log.
    const int fd = openGuarded(
        path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666, &result.reason);
    if (fd >= 0) {
        struct stat info = {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            result.reason = QStringLiteral("不是普通文件");
        } else {
            // One export at a time: another program's export into the same file ends first.
            ::flock(fd, LOCK_EX);
            ::fstat(fd, &info);
            if (writeExport(fd, body, &result.reason)) {
                result.written = true;
                result.path = path;
            } else {
                cutTo(fd, info.st_size);   // the whole export goes to the fallback below
            }
        }
        if (::close(fd) != 0 && result.written) {
            result.written = false;
            result.reason = errnoText(errno);
        }
    }
    if (result.written)
        return result;

    result.fallback = true;
    const QString name =
        QStringLiteral("LOG-%1-%2.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                QString::fromLatin1(randomToken().left(8)));
    QStringList folders {fallbackDirectory(), QDir::tempPath()};
    folders.removeDuplicates();
    for (const QString &folder : folders) {
        const QString fallbackPath = QDir(folder).absoluteFilePath(name);
        const int out = createNew(fallbackPath);
        if (out < 0)
            continue;
        QString ignored;
        const bool ok = writeExport(out, body, &ignored);
        if (::close(out) == 0 && ok) {
            result.written = true;
            result.path = fallbackPath;
            return result;
        }
        ::unlink(encoded(fallbackPath).constData());
    }
    return result;
}

}   // namespace LogFile

QString nonRegularFileKind(const QString &path)
{
    struct stat info = {};
    if (::stat(encoded(path).constData(), &info) != 0 || S_ISREG(info.st_mode))
        return {};
    if (S_ISFIFO(info.st_mode))
        return QStringLiteral("命名管道");
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return QStringLiteral("设备");
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("文件夹");
    return QStringLiteral("套接字");
}

// ---- the journal of this run ----

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
        const QString path = pieceName(folder, m_dir, run, n, start);
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

qint64 LogJournal::size() const
{
    if (m_move.fd < 0)
        return oldSize();
    return oldSize() - (m_move.source - m_move.from) + m_move.head;
}

void LogJournal::replace(qint64 from, qint64 to, const QByteArray &bytes)
{
    finishMove();   // its rest is what follows to
    if (oldSize() - to > kChunk && startMove(from, to, bytes))
        return;
    rewriteFrom(from, bytes + readOld(to, oldSize()));
}

bool LogJournal::startMove(qint64 from, qint64 to, const QByteArray &bytes)
{
#ifdef O_TMPFILE
    if (m_pieces.empty() || m_run.isEmpty())
        return false;
    const QString folder = QFileInfo(m_pieces.back().path).absolutePath();
    const int fd = ::open(encoded(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QString ignored;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0
        || !writeAll(fd, bytes.constData(), bytes.size(), 0, &ignored)) {
        ::close(fd);
        return false;
    }
    m_move = Move {fd, folder, from, bytes.size(), to, 0};
    m_retry.setInterval(0);
    return true;
#else
    Q_UNUSED(from);
    Q_UNUSED(to);
    Q_UNUSED(bytes);
    return false;   // no unnamed files: the rest is moved at once
#endif
}

bool LogJournal::stepMove(qint64 limit)
{
    Move &move = m_move;
    const qint64 end = oldSize();
    QString ignored;
    while (move.source + move.copied < end && limit > 0) {
        const qint64 at = move.source + move.copied;
        const qint64 n = qMin(qMin(kChunk, limit), end - at);
        const QByteArray chunk = readOld(at, at + n);
        if (chunk.size() != n
            || !writeAll(move.fd, chunk.constData(), n, move.head + move.copied, &ignored))
            return false;
        move.copied += n;
        limit -= n;
    }
    if (move.source + move.copied < end)
        return true;   // more at the next step

    // The file holds the whole new rest: it takes its name, and with it the place of the old.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(move.fd);
    Piece piece;
    for (int attempt = 0; attempt < kNameAttempts && piece.fd < 0; ++attempt) {
        const int number = m_nextNumber + attempt;
        const QString path = pieceName(move.folder, m_dir, m_run, number, move.from);
        if (::linkat(
                AT_FDCWD, self.constData(), AT_FDCWD, encoded(path).constData(), AT_SYMLINK_FOLLOW)
            == 0) {
            piece.fd = move.fd;
            piece.path = path;
            piece.number = number;
            piece.start = move.from;
            piece.length = move.head + move.copied;
        } else if (errno != EEXIST) {
            return false;
        }
    }
    if (piece.fd < 0)
        return false;
    m_nextNumber = piece.number + 1;
    for (size_t i = m_pieces.size(); i-- > 0;) {
        if (m_pieces[i].start >= move.from)
            dropPiece(i);
    }
    if (!m_pieces.empty()) {
        // The bytes of the piece it starts in are its no longer; where the cut is refused, the
        // new piece hides them all the same.
        Piece &holder = m_pieces.back();
        if (cutTo(holder.fd, move.from - holder.start))
            holder.length = move.from - holder.start;
        if (holder.shadowFd >= 0 && holder.copied > move.from - holder.start) {
            holder.copied = move.from - holder.start;
            cutTo(holder.shadowFd, holder.copied);
        }
    }
    m_pieces.push_back(piece);
    m_pending.clear();   // it was the end of the rest
    m_move = Move {};
    return true;
}

void LogJournal::finishMove()
{
    if (m_move.fd < 0 || stepMove(std::numeric_limits<qint64>::max()))
        return;
    // No step can be taken: the replace is done at once, through the usual rewrite.
    QByteArray head(qsizetype(m_move.head), Qt::Uninitialized);
    QString ignored;
    const bool read = readAll(m_move.fd, head.data(), m_move.head, 0, &ignored);
    const Move move = m_move;
    dropMove();
    if (read)
        rewriteFrom(move.from, head + readOld(move.source, oldSize()));
}

void LogJournal::dropMove()
{
    if (m_move.fd >= 0)
        ::close(m_move.fd);   // unnamed: nothing is left on disk
    m_move = Move {};
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

// ---- journals of runs that did not end cleanly ----

namespace {

struct Orphan
{
    QString path;
    int number = 0;
    qint64 start = 0;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 modified = 0;
    int fd = -1;
    qint64 size = 0;
};

// "<prefix>LOG.txt.<pid>-<token>.<piece>.<start>.journal": the run and the piece. The pid only
// keeps names of runs apart; whether a run is alive is told by the locks of its files.
std::optional<QByteArray> parseName(const QString &name, const QString &prefix, Orphan *orphan)
{
    const QString head = prefix + LogFile::kFileName + u'.';
    const QString tail = QStringLiteral(".journal");
    if (!name.startsWith(head) || !name.endsWith(tail))
        return std::nullopt;
    const QStringList parts =
        name.mid(head.size(), name.size() - head.size() - tail.size()).split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    bool pidOk = false, numberOk = false, startOk = false;
    parts[0].section(u'-', 0, 0).toLongLong(&pidOk);
    orphan->number = parts[1].toInt(&numberOk);
    orphan->start = parts[2].toLongLong(&startOk);
    if (!pidOk || !numberOk || !startOk || !parts[0].contains(u'-') || orphan->start < 0)
        return std::nullopt;
    return parts[0].toLatin1();
}

// Opens and locks every piece of a run. Fails, holding nothing, when the run's program or
// another recovery holds a piece, or a piece is no longer the file that was listed.
bool claim(std::vector<Orphan> &pieces)
{
    for (Orphan &piece : pieces) {
        const QByteArray path = encoded(piece.path);
        piece.fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat opened = {}, named = {};
        const bool ok = piece.fd >= 0 && ::fstat(piece.fd, &opened) == 0 && S_ISREG(opened.st_mode)
            && opened.st_dev == piece.device && opened.st_ino == piece.inode
            && ::flock(piece.fd, LOCK_EX | LOCK_NB) == 0
            // still under its name: no other recovery exported and removed it meanwhile
            && ::lstat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev
            && named.st_ino == opened.st_ino;
        if (!ok) {
            for (Orphan &held : pieces) {
                if (held.fd >= 0)
                    ::close(held.fd);
                held.fd = -1;
            }
            return false;
        }
        piece.size = opened.st_size;
    }
    return true;
}

}   // namespace

QList<LogFile::ExportResult> LogJournal::recoverOrphans(const QString &dir)
{
    const uid_t me = ::geteuid();
    std::map<QByteArray, std::vector<Orphan>> runs;
    const auto collect = [&](const QString &folder, const QString &prefix) {
        const QStringList names =
            QDir(folder).entryList({prefix + LogFile::kFileName + QStringLiteral(".*.journal")},
                QDir::AllEntries | QDir::System | QDir::Hidden);
        for (const QString &name : names) {
            Orphan orphan;
            const auto run = parseName(name, prefix, &orphan);
            if (!run)
                continue;
            orphan.path = QDir(folder).absoluteFilePath(name);
            struct stat info = {};
            // Links, other users' files and files with a second name are never read.
            if (::lstat(encoded(orphan.path).constData(), &info) != 0 || !S_ISREG(info.st_mode)
                || info.st_uid != me || info.st_nlink != 1)
                continue;
            orphan.device = info.st_dev;
            orphan.inode = info.st_ino;
            orphan.modified = qint64(info.st_mtime);
            runs[*run].push_back(orphan);
        }
    };
    collect(dir, QString());
    const QString fallback = LogFile::fallbackDirectory();
    if (QDir(fallback) != QDir(dir))
        collect(fallback, namePrefix(fallback, dir));

    std::vector<std::vector<Orphan>> ordered;
    for (auto &[run, pieces] : runs) {
        std::sort(pieces.begin(), pieces.end(),
            [](const Orphan &a, const Orphan &b) { return a.number < b.number; });
        ordered.push_back(std::move(pieces));
    }
    const auto lastWrite = [](const std::vector<Orphan> &pieces) {
        qint64 latest = 0;
        for (const Orphan &piece : pieces)
            latest = qMax(latest, piece.modified);
        return latest;
    };
    std::stable_sort(ordered.begin(), ordered.end(),
        [&](const auto &a, const auto &b) { return lastWrite(a) < lastWrite(b); });

    QList<LogFile::ExportResult> results;
    for (std::vector<Orphan> &pieces : ordered) {
        if (!claim(pieces))
            continue;
        const std::vector<qint64> lengths = liveLengths(pieces, &Orphan::size);
        const LogFile::ExportResult result =
            LogFile::appendExport(dir, [&](int fd, QString *reason) {
                for (size_t i = 0; i < pieces.size(); ++i) {
                    if (!copyRange(pieces[i].fd, 0, lengths[i], fd, -1, reason))
                        return false;
                }
                return true;
            });
        // Every name goes before any lock is let go.
        for (const Orphan &piece : pieces) {
            if (result.written)
                ::unlink(encoded(piece.path).constData());
        }
        for (const Orphan &piece : pieces)
            ::close(piece.fd);
        results << result;
    }
    return results;
}
