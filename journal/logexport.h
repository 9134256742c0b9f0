#pragma once

#include <QString>

#include <functional>

// The export of a work log to "LOG.txt".
//
// An export is "导出数据" CR LF, the log, CR LF, in GBK, appended to "LOG.txt" in the working
// directory. Promises: an export is whole or absent in LOG.txt (a torn one is cut off again), two
// programs' exports into the same file do not interleave, and when LOG.txt takes none the whole
// export goes to a new file of a private, unguessable name in the fallback folder (or the
// temporary folder) instead; the result says where it went and why LOG.txt failed. The caller
// tells the operator where a fallback went and keeps its record while nothing was written.
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

// Appends one export to LOG.txt in dir, following a link the operator made there (see
// openGuarded); when that fails, the export goes to the fallback file.
ExportResult appendExport(const QString &dir, const ExportBody &body);

}   // namespace LogFile
