#pragma once

#include <QByteArray>
#include <QString>

// The errno of access(R_OK | W_OK) on a device node (ENOENT, EACCES, ...); 0 when this user may
// open it for reading and writing. Qt and hidapi report a busy and a refused device alike; this
// tells them apart.
int deviceAccessError(const QByteArray &nativePath);
int deviceAccessError(const QString &path);
