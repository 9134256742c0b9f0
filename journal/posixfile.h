#pragma once

#include <QByteArray>
#include <QString>

// The POSIX calls under the journal, the export and the start-up text, for this folder's files.
//
// Promises: reads and writes go on through EINTR and short counts until every byte is through,
// and return false with the system's reason otherwise; a file is created only new (O_EXCL, mode
// 0600) and never through a link. The caller closes every descriptor it gets.
namespace PosixFile {

// Bytes per read when streaming or copying.
inline constexpr qint64 kChunk = qint64(1) << 20;

// The system's text for an errno value.
QString errnoText(int error);

// The path as the file system names it.
QByteArray encoded(const QString &path);

// A file of a new, private name: -1 (errno set) when anything, a link included, has the name.
int createNew(const QString &path);

// A new file of a private name, locked (flock, exclusive) before anyone else can open it: where
// the system allows, an unnamed file is locked and then linked in under path. Fails with EEXIST
// when anything has the name already, with EWOULDBLOCK when someone locked the new file first.
int createLocked(const QString &path);

// Writes size bytes at offset, or at the file's position when offset < 0.
bool writeAll(int fd, const char *data, qint64 size, qint64 offset, QString *reason);

// Reads exactly size bytes at offset; a file that ends sooner is a failure.
bool readAll(int fd, char *data, qint64 size, qint64 offset, QString *reason);

// Copies bytes [from, from + size) of in to out, at outOffset (< 0: at out's position).
bool copyRange(int in, qint64 from, qint64 size, int out, qint64 outOffset, QString *reason);

// Cuts a file to length; false when the file system refuses.
bool cutTo(int fd, qint64 length);

// 16 random hexadecimal digits from the system's generator, for names nobody can guess.
QByteArray randomToken();

}   // namespace PosixFile
