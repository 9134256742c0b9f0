#include "journalnames.h"

#include "logexport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStringList>

namespace JournalNames {

namespace {

// The working directory's part of journal names in the fallback folder.
QString dirKey(const QString &dir)
{
    const QByteArray absolute = QDir(dir).absolutePath().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(absolute, QCryptographicHash::Sha1).toHex().left(12));
}

}   // namespace

QString prefix(const QString &folder, const QString &dir)
{
    return QDir(folder) == QDir(dir) ? QString() : dirKey(dir) + u'.';
}

QString piecePath(
    const QString &folder, const QString &dir, const QByteArray &run, int number, qint64 start)
{
    return QDir(folder).absoluteFilePath(prefix(folder, dir) + LogFile::kFileName + u'.'
        + QString::fromLatin1(run) + QStringLiteral(".%1.%2.journal").arg(number).arg(start));
}

// The pid only keeps names of runs apart; whether a run is alive is told by the locks of its
// files.
std::optional<Piece> parse(const QString &name, const QString &prefix)
{
    const QString head = prefix + LogFile::kFileName + u'.';
    const QString tail = QStringLiteral(".journal");
    if (!name.startsWith(head) || !name.endsWith(tail))
        return std::nullopt;
    const QStringList parts =
        name.mid(head.size(), name.size() - head.size() - tail.size()).split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    Piece piece;
    bool pidOk = false, numberOk = false, startOk = false;
    parts[0].section(u'-', 0, 0).toLongLong(&pidOk);
    piece.number = parts[1].toInt(&numberOk);
    piece.start = parts[2].toLongLong(&startOk);
    if (!pidOk || !numberOk || !startOk || !parts[0].contains(u'-') || piece.start < 0)
        return std::nullopt;
    piece.run = parts[0].toLatin1();
    return piece;
}

}   // namespace JournalNames
