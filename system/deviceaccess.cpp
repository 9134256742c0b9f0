#include "deviceaccess.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

int deviceAccessError(const QByteArray &nativePath)
{
    return ::access(nativePath.constData(), R_OK | W_OK) == 0 ? 0 : errno;
}

int deviceAccessError(const QString &path)
{
    return deviceAccessError(QFile::encodeName(path));
}
