#include "guardedfile.h"

#include "posixfile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using PosixFile::encoded;
using PosixFile::errnoText;

namespace {

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
