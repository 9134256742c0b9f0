#include "logfile.h"

#include "codepage.h"
#include "logshape.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace LogFile {

QByteArray exportBytes(const QString &logText)
{
    return toGbk(kExportHeading + kCrLf + logText + kCrLf);
}

QString fallbackDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dir.isEmpty())
        dir += QStringLiteral("/orv4120-demo");
    if (dir.isEmpty() || !QDir().mkpath(dir))
        dir = QDir::tempPath();
    return dir;
}

static bool appendBytes(const QString &path, const QByteArray &bytes, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *reason = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *reason = file.errorString();
        // a partial export is cut back so that the fallback holds the whole one
        file.close();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

ExportResult appendToLog(const QString &dir, const QByteArray &bytes)
{
    ExportResult result;
    const QString path = QDir(dir).absoluteFilePath(kFileName);
    const qint64 sizeBefore = QFileInfo(path).exists() ? QFileInfo(path).size() : -1;
    if (appendBytes(path, bytes, &result.reason)) {
        result.written = true;
        result.path = path;
        return result;
    }
    if (sizeBefore >= 0 && QFileInfo(path).size() > sizeBefore)
        QFile::resize(path, sizeBefore);   // drop the torn part; the whole export goes below
    result.fallback = true;
    const QString name =
        QStringLiteral("LOG-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (const QString &folder : {fallbackDirectory(), QDir::tempPath()}) {
        QString ignored;
        const QString fallbackPath = QDir(folder).absoluteFilePath(name);
        if (appendBytes(fallbackPath, bytes, &ignored)) {
            result.written = true;
            result.path = fallbackPath;
            return result;
        }
    }
    return result;
}

}   // namespace LogFile

static QString dirKey(const QString &dir)
{
    const QByteArray absolute = QDir(dir).absolutePath().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(absolute, QCryptographicHash::Sha1).toHex().left(12));
}

// Journal names: "LOG.txt.<pid>.journal" in the working directory, or
// "<key>.LOG.txt.<pid>.journal" in the fallback folder, where key names the working directory.
static QString journalName(const QString &prefix, qint64 pid)
{
    return prefix + LogFile::kFileName + u'.' + QString::number(pid) + QStringLiteral(".journal");
}

static bool processAlive(qint64 pid)
{
    if (pid == QCoreApplication::applicationPid())
        return true;
#ifdef Q_OS_UNIX
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#else
    Q_UNUSED(pid);
    return false;
#endif
}

LogJournal::LogJournal(const QString &dir)
{
    const qint64 pid = QCoreApplication::applicationPid();
    m_file.setFileName(QDir(dir).absoluteFilePath(journalName(QString(), pid)));
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    m_file.setFileName(
        QDir(LogFile::fallbackDirectory()).absoluteFilePath(journalName(dirKey(dir) + u'.', pid)));
    m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

LogJournal::~LogJournal()
{
    if (m_file.isOpen())
        m_file.close();
}

void LogJournal::append(const QString &entry)
{
    if (!m_file.isOpen())
        return;
    m_file.write(toGbk(entry));
    m_file.flush();
}

void LogJournal::clear()
{
    if (!m_file.isOpen())
        return;
    m_file.resize(0);
    m_file.seek(0);
}

void LogJournal::rewrite(const QString &log)
{
    if (!m_file.isOpen())
        return;
    m_file.resize(0);
    m_file.seek(0);
    m_file.write(toGbk(log));
    m_file.flush();
}

void LogJournal::remove()
{
    if (!m_file.isOpen())
        return;
    m_file.close();
    m_file.remove();
}

QList<LogFile::ExportResult> LogJournal::recoverOrphans(const QString &dir)
{
    struct Orphan
    {
        QString path;
        QDateTime modified;
    };
    QList<Orphan> orphans;
    const auto collect = [&](const QString &folder, const QString &prefix) {
        const QString pattern = prefix + LogFile::kFileName + QStringLiteral(".*.journal");
        const QFileInfoList found = QDir(folder).entryInfoList({pattern}, QDir::Files);
        for (const QFileInfo &info : found) {
            const QString middle =
                info.fileName().mid(prefix.size() + LogFile::kFileName.size() + 1);
            bool ok = false;
            const qint64 pid = middle.left(middle.indexOf(u'.')).toLongLong(&ok);
            if (ok && !processAlive(pid))
                orphans << Orphan {info.absoluteFilePath(), info.lastModified()};
        }
    };
    collect(dir, QString());
    collect(LogFile::fallbackDirectory(), dirKey(dir) + u'.');
    std::sort(orphans.begin(), orphans.end(),
        [](const Orphan &a, const Orphan &b) { return a.modified < b.modified; });

    QList<LogFile::ExportResult> results;
    for (const Orphan &orphan : orphans) {
        QFile file(orphan.path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray entries = file.readAll();
        file.close();
        const QByteArray bytes = toGbk(kExportHeading + kCrLf) + entries + toGbk(kCrLf);
        const LogFile::ExportResult result = LogFile::appendToLog(dir, bytes);
        if (result.written)
            QFile::remove(orphan.path);
        results << result;
    }
    return results;
}
