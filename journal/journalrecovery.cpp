// The recovery of dead runs' journals (LogJournal::recoverOrphans).
//
// Promises: every run whose program is gone is appended to LOG.txt as one export, its pieces in
// order, runs oldest first, and its files are removed once the export is written; a run that
// cannot be exported keeps its files for the next start. A run is alive while its program holds
// the locks of its files (the kernel lets them go when it dies, even by kill -9); the process id
// in the names is not looked at, since another program may have it by now. A dead run is claimed
// by locking its files, so two programs starting together export it once. Only regular files of
// this user with one link are read. The caller tells the operator where each export went.
#include "logjournal.h"

#include "guardedfile.h"
#include "journalnames.h"
#include "posixfile.h"

#include <QDir>

#include <algorithm>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PosixFile;

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
            const auto piece = JournalNames::parse(name, prefix);
            if (!piece)
                continue;
            Orphan orphan;
            orphan.number = piece->number;
            orphan.start = piece->start;
            orphan.path = QDir(folder).absoluteFilePath(name);
            struct stat info = {};
            // Links, other users' files and files with a second name are never read.
            if (::lstat(encoded(orphan.path).constData(), &info) != 0 || !S_ISREG(info.st_mode)
                || info.st_uid != me || info.st_nlink != 1)
                continue;
            orphan.device = info.st_dev;
            orphan.inode = info.st_ino;
            orphan.modified = qint64(info.st_mtime);
            runs[piece->run].push_back(orphan);
        }
    };
    collect(dir, QString());
    const QString fallback = LogFile::fallbackDirectory();
    if (QDir(fallback) != QDir(dir))
        collect(fallback, JournalNames::prefix(fallback, dir));

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
        const std::vector<qint64> lengths = JournalNames::liveLengths(pieces, &Orphan::size);
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
