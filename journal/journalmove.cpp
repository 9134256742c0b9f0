// How LogJournal replaces bytes in the middle of its record (replace()).
//
// Promises: the bytes after the replaced range keep their place in the record, and the files
// hold the record as it was until the new one is whole. A rest longer than a chunk is copied into
// an unnamed, locked file in steps of the retry timer, one chunk a step, and that file takes its
// name as a new piece only when it holds all of it; the pieces from the replaced offset on go at
// that moment. Any other call that needs the record as it is now (read, rewrite, export) first
// finishes a move that is under way. Where no unnamed file can be made, or a step fails, the
// replace is done at once through rewriteFrom().
#include "logjournal.h"

#include "journalnames.h"
#include "posixfile.h"

#include <QFileInfo>

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace PosixFile;

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
        const QString path = JournalNames::piecePath(move.folder, m_dir, m_run, number, move.from);
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
