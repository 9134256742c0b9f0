#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Opening files in folders other users may write to, and the start-up text.
//
// Promises: in a folder that anybody may write to and whose sticky bit keeps each user's names
// their own (/tmp), a symbolic link is followed only when it is the user's or the folder owner's,
// and another user's file there is not opened with O_CREAT: the kernel's protected-symlinks and
// protected-regular rules, applied whatever the kernel is set to. Every refusal and failure comes
// back as a reason in the operator's words (Chinese, as the work log has them); nothing is shown.
// The caller closes what it opens and says the reason where the operator sees it.
namespace LogFile {

// The start-up text is read whole into the send box; a larger file is not read at all. The
// send box lays out one line of 64 KiB in 0.4 s (twice as long takes four times that), so that
// the window is up within a second whatever the file holds.
inline constexpr qint64 kMaxStartTextBytes = qint64(64) << 10;

// Opens path as open(2) does, under the rules above. Returns -1 with the reason otherwise.
int openGuarded(const QString &path, int flags, mode_t mode, QString *reason);

// Why openGuarded would refuse the link at path; empty for anything else.
QString refusedLink(const QString &path);

// Reads the start-up text: up to kMaxStartTextBytes of a regular file, created empty when
// missing and the folder takes it. Returns false, with why in *problem, when the file is there
// and not read; true with empty bytes when there is no file and none can be made.
bool readStartText(const QString &path, QByteArray *bytes, QString *problem);

// A folder of the user's own where logs go when the working directory takes none; the shared
// temporary folder when there is none (every name made there is random).
QString fallbackDirectory();

}   // namespace LogFile

// What is at path when it is not a regular file, in the operator's words ("命名管道", "设备",
// "文件夹", ...); empty for a regular file (through links) or nothing at all.
QString nonRegularFileKind(const QString &path);
