#include "modules.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

QFunctionPointer resolveModuleEntry(const QString &module, const char *entry, QString *error)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates {
        programDir + u'/' + module,   // the build
        programDir + QStringLiteral("/" ORV_MODULE_RELATIVE_DIR "/") + module,   // installed
        QStringLiteral(ORV_MODULE_DIR "/") + module,
    };
    QStringList reasons;
    for (const QString &path : candidates) {
        QLibrary library(path);
        if (const QFunctionPointer found = library.resolve(entry))
            return found;
        reasons << library.errorString();
    }
    *error = reasons.join(QStringLiteral("; "));
    return nullptr;
}
