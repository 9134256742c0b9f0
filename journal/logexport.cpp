#include "logexport.h"

#include "codepage.h"
#include "guardedfile.h"
#include "logshape.h"
#include "posixfile.h"

#include <QDateTime>
#include <QDir>
#include <QStringList>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PosixFile;

namespace {

bool writeExport(int fd, const LogFile::ExportBody &body, QString *reason)
{
    const QByteArray heading = toGbk(kExportHeading + kCrLf);
    const QByteArray end = toGbk(kCrLf);
    return writeAll(fd, heading.constData(), heading.size(), -1, reason) && body(fd, reason)
        && writeAll(fd, end.constData(), end.size(), -1, reason);
}

}   // namespace

namespace LogFile {

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
