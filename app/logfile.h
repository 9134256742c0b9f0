#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <sys/types.h>
#include <vector>

// The log file and the journal that keeps the work log safe while the program runs.
//
// At every close the log is appended to "LOG.txt" in the working directory as one export:
// "导出数据" CR LF, the log, CR LF, in GBK. While the program runs, the whole record of the log
// lives in a journal of GBK bytes, written as entries arrive, so a run that is killed loses
// nothing: its journal is appended to "LOG.txt" as an export at the next start. A clean close
// removes the journal.
namespace LogFile {
inline const QString kFileName = QStringLiteral("LOG.txt");

// Where an export went.
struct ExportResult
{
    bool written = false;   // false: even the fallback failed
    bool fallback = false;   // LOG.txt could not be appended to; the export is in path instead
    QString path;
    QString reason;   // why LOG.txt (and, when nothing was written, the fallback) failed
};

// Writes the body of an export (the log, GBK) to a file descriptor; false, with the reason, when
// it cannot. It may run twice: for LOG.txt and again for the fallback file.
using ExportBody = std::function<bool(int fd, QString *reason)>;

// Appends one export to LOG.txt in dir, following a link the operator made there. When that
// fails, the torn part is cut off and the whole export goes to a new file of a private,
// unguessable name in the fallback folder (or the temporary folder).
ExportResult appendExport(const QString &dir, const ExportBody &body);

// A folder of the user's own where logs go when the working directory takes none.
QString fallbackDirectory();

// The start-up text is read whole into the send box; a larger file is not read at all. The
// send box lays out one line of 64 KiB in 0.4 s (twice as long takes four times that), so that
// the window is up within a second whatever the file holds.
inline constexpr qint64 kMaxStartTextBytes = qint64(64) << 10;

// Opens path as open(2) does, but in a folder that anybody may write to and whose sticky bit
// keeps each user's names their own (/tmp), it follows a symbolic link only when the link is the
// user's or the folder owner's, and it does not open another user's file there with O_CREAT:
// the kernel's protected-symlinks and protected-regular rules, applied whatever the kernel is
// set to. Returns -1 with the reason otherwise.
int openGuarded(const QString &path, int flags, mode_t mode, QString *reason);

// Why openGuarded would refuse the link at path; empty for anything else.
QString refusedLink(const QString &path);

// Reads the start-up text: up to kMaxStartTextBytes of a regular file, created empty when
// missing and the folder takes it. Returns false, with why in *problem, when the file is there
// and not read; true with empty bytes when there is no file and none can be made.
bool readStartText(const QString &path, QByteArray *bytes, QString *problem);
}   // namespace LogFile

// What is at path when it is not a regular file, in the operator's words ("命名管道", "设备",
// "文件夹", ...); empty for a regular file (through links) or nothing at all.
QString nonRegularFileKind(const QString &path);

// The record of one run: GBK bytes, in order, in one or more journal files ("pieces") that the
// run holds open and locked. A piece starts at a byte offset of the record and runs to the start
// of any later piece that starts before its end. A write that fails is cut back to the last whole
// entry and the record goes on in a new piece in the fallback folder; a rewrite cuts the piece
// that holds its offset (a new piece starts there where the cut is refused); a piece whose file
// is removed is copied to the other folder step by step. Bytes that no folder takes wait in
// memory and are written once a folder takes them again.
//
// Names: "LOG.txt.<pid>-<token>.<piece>.<start>.journal" in the working directory, with
// "<key>." in front in the fallback folder (key names the working directory). The token is
// random; files are created new (mode 0600), never opened through a link, and locked before
// they have their name where the file system takes an unnamed file (O_TMPFILE), so that no
// recovery ever sees a piece of a live run unlocked.
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
    // a crash from then on would lose the log. The text says why, for the operator.
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
    // Files holding the record now.
    QStringList paths() const;
    // A clean close: the export is written, the journal files go.
    void remove();

    // Journals of dead runs in dir (and in the fallback folder, for dir), each run appended to
    // LOG.txt as one export, oldest first, and removed. A run is alive while its program holds
    // the locks of its files (the kernel lets them go when it dies, even by kill -9); the process
    // id in the names is not looked at, since another program may have it by now. A dead run is
    // claimed by locking its files, so two programs starting together export it once. Only regular
    // files of this user with one link are read. Returns where each export went.
    static QList<LogFile::ExportResult> recoverOrphans(const QString &dir);

private:
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
