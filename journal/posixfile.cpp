#include "posixfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace PosixFile {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

int createNew(const QString &path)
{
    return ::open(
        encoded(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

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

bool cutTo(int fd, qint64 length)
{
    return ::ftruncate(fd, off_t(length)) == 0;
}

QByteArray randomToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

}   // namespace PosixFile
