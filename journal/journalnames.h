#pragma once

#include <QByteArray>
#include <QString>

#include <QtGlobal>

#include <limits>
#include <optional>
#include <vector>

// The names and layout of journal pieces: what a live run writes and a later start reads back.
//
// A piece is "<prefix>LOG.txt.<pid>-<token>.<piece>.<start>.journal": the run ("<pid>-<token>",
// the token random), the piece's number in the run and the record offset of its first byte. The
// prefix is empty in the working directory and "<key>." in the fallback folder, where key names
// the working directory. A piece holds the record from its start up to the start of any later
// piece that starts before its end. Both sides use only these functions for names and lengths.
namespace JournalNames {

// The prefix of journal names for the working directory dir in folder.
QString prefix(const QString &folder, const QString &dir);

// The absolute path of a piece.
QString piecePath(
    const QString &folder, const QString &dir, const QByteArray &run, int number, qint64 start);

// A file name read back: the run, the piece's number and its start.
struct Piece
{
    QByteArray run;
    int number = 0;
    qint64 start = 0;
};

// The piece a file name of folder names (prefix from prefix()); nothing for any other name.
std::optional<Piece> parse(const QString &name, const QString &prefix);

// How much of each piece (in record order) belongs to the record: a piece ends where a later
// piece starts before its end. length names the member with the bytes the piece holds.
template <typename P>
std::vector<qint64> liveLengths(const std::vector<P> &pieces, qint64 P::*length)
{
    std::vector<qint64> lengths(pieces.size());
    qint64 limit = std::numeric_limits<qint64>::max();
    for (size_t i = pieces.size(); i-- > 0;) {
        lengths[i] = qBound<qint64>(0, limit - pieces[i].start, pieces[i].*length);
        limit = qMin(limit, pieces[i].start);
    }
    return lengths;
}

}   // namespace JournalNames
