#pragma once

#include "logexport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

// The journal that keeps the work log safe while the program runs.
//
// While the program runs, the whole record of the log lives in a journal of GBK bytes, written as
// entries arrive, so a run that is killed loses nothing: its journal is appended to "LOG.txt" as
// an export at the next start (recoverOrphans). A clean close exports the record and removes the
// journal. Promises: every byte handed to it reaches a file or waits in memory until a folder
// takes it again, and the operator is warned once when a crash would lose the log. The caller
// runs an event loop on the journal's thread (its retry timer does the delayed work), exports
// before remove(), and calls recoverOrphans() at start.
//
// The record of one run: GBK bytes, in order, in one or more journal files ("pieces") that the
// run holds open and locked. A piece starts at a byte offset of the record and runs to the start
// of any later piece that starts before its end. A write that fails is cut back to the last whole
// entry and the record goes on in a new piece in the fallback folder; a rewrite cuts the piece
// that holds its offset (a new piece starts there where the cut is refused); a piece whose file
// is removed is copied to the other folder step by step. Bytes that no folder takes wait in
// memory and are written once a folder takes them again.
//
// Names are journalnames.h's. Files are created new (mode 0600), never opened through a link, and
// locked before they have their name where the file system takes an unnamed file (O_TMPFILE), so
// that no recovery ever sees a piece of a live run unlocked.
class LogJournal
{
public:
    // The random part of journal names; tests replace it.
    using TokenSource = std::function<QByteArray()>;

    explicit LogJournal(const QString &dir, TokenSource tokens = {});
    ~LogJournal();
    LogJournal(const LogJournal &) = delete;
    LogJournal &operator=(const LogJournal &) = delete;

    // Called once, the first time bytes of the record reach no file (no folder takes them):
    // a crash from then on would lose the log. The text says why, for the operator, in the
    // program's language (the window's translation holds it under "LogJournal").
    void onUnprotected(std::function<void(const QString &notice)> warn);

    // Length of the record in bytes.
    qint64 size() const;
    // Bytes [from, to) of the record.
    QByteArray read(qint64 from, qint64 to);
    void append(const QByteArray &bytes);
    // The record becomes its first offset bytes followed by bytes.
    void rewriteFrom(qint64 offset, const QByteArray &bytes);
    // Bytes [from, to) of the record become bytes; what follows them stays as it is. A long
    // rest is moved in steps of the retry timer into a new piece that gets its name once it
    // holds all of it, so no step costs more than one chunk and the files hold the record as it
    // was until then.
    void replace(qint64 from, qint64 to, const QByteArray &bytes);
    // The record becomes empty.
    void clear() { rewriteFrom(0, {}); }
    // Streams the whole record to fd (an export body).
    bool writeTo(int fd, QString *reason);
    // Appends the whole record to LOG.txt in dir as one export, streamed from the files.
    LogFile::ExportResult exportTo(const QString &dir);
    // Files holding the record now.
    QStringList paths() const;
    // A clean close: the export is written, the journal files go.
    void remove();

    // Journals of dead runs in dir (and in the fallback folder, for dir), each run appended to
    // LOG.txt as one export, oldest first, and removed; a run is dead once nobody holds the locks
    // of its files (journalrecovery.cpp states the rules). Returns where each export went.
    static QList<LogFile::ExportResult> recoverOrphans(const QString &dir);

private:
    static constexpr int kNameAttempts = 16;   // numbers a new piece tries past taken names

    struct Piece
    {
        int fd = -1;
        QString path;
        int number = 0;
        qint64 start = 0;   // offset of its first byte in the record
        qint64 length = 0;   // bytes written
        int shadowFd = -1;   // a copy being made after the file was unlinked
        QString shadowPath;
        qint64 copied = 0;
    };

    // The bytes of a replace still being moved: an unnamed file holding the new bytes, then the
    // old record's rest from source on.
    struct Move
    {
        int fd = -1;
        QString folder;
        qint64 from = 0;   // where the new piece starts in the record
        qint64 head = 0;   // the replacing bytes at the file's start
        qint64 source = 0;   // old record offset of the rest's first byte
        qint64 copied = 0;   // bytes of the rest in the file
    };

    qint64 diskEnd() const;
    qint64 oldSize() const { return diskEnd() + m_pending.size(); }
    QByteArray readOld(qint64 from, qint64 to) const;
    bool startMove(qint64 from, qint64 to, const QByteArray &bytes);
    bool stepMove(qint64 limit);
    void finishMove();
    void dropMove();
    bool openPiece(const QString &folder, qint64 start, int number, Piece *piece);
    bool startPiece(qint64 start, const QStringList &folders);
    bool writeToCurrent(const QByteArray &bytes);
    void retry();
    void checkLinks();
    void copyShadows();
    void dropPiece(size_t index);
    void warn(const QString &reason);
    QString notice() const;

    QString m_dir;
    QString m_fallback;
    QByteArray m_run;   // "<pid>-<token>"
    TokenSource m_tokens;
    std::vector<Piece> m_pieces;   // by number; the last one takes new bytes
    int m_nextNumber = 1;
    QByteArray m_pending;   // the record's tail that no file holds
    QString m_reason;   // of the last failure
    QString m_warnedReason;
    bool m_warned = false;
    std::function<void(const QString &)> m_warn;
    QTimer m_retry;   // writes held in memory, unlinked files, a move: looked at again
    Move m_move;   // fd < 0: none
};
