#include "codetablecache.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

constexpr qint64 kNsPerMs = 1000 * 1000;
constexpr qint64 kSettleNs = 2000 * kNsPerMs;

}   // namespace

std::optional<CodeTableCache::Stamp> CodeTableCache::stampOf(const QString &path)
{
    Stamp stamp;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    stamp.device = quint64(info.st_dev);
    stamp.inode = quint64(info.st_ino);
    stamp.size = qint64(info.st_size);
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000 * kNsPerMs + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000 * kNsPerMs + info.st_ctim.tv_nsec;
#else
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * kNsPerMs;
    stamp.changedNs = info.metadataChangeTime().toMSecsSinceEpoch() * kNsPerMs;
#endif
    return stamp;
}

CodeTable::Load CodeTableCache::load(const QString &path)
{
    const std::optional<Stamp> stamp = stampOf(path);
    if (stamp && m_table && path == m_path && *stamp == m_stamp) {
        CodeTable::Load kept;
        kept.status = CodeTable::LoadStatus::Loaded;
        kept.table = m_table;
        return kept;
    }
    m_table.reset();
    CodeTable::Load load = CodeTable::load(path);
    // The stamp is taken before the read: a change during the read shows as a changed stamp next
    // time. A recent modification is not trusted to show at all.
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * kNsPerMs;
    if (load.table && stamp && stamp->modifiedNs < nowNs - kSettleNs) {
        m_path = path;
        m_stamp = *stamp;
        m_table = load.table;
    }
    return load;
}
