#include "virtualboards.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

std::unique_ptr<VirtualBoards> loadVirtualBoards(QString *error)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates {
        programDir + QStringLiteral("/orv4120-virtual"),   // the build
        programDir + QStringLiteral("/" ORV_MODULE_RELATIVE_DIR "/orv4120-virtual"),   // installed
        QStringLiteral(ORV_MODULE_DIR "/orv4120-virtual"),
    };
    QStringList reasons;
    for (const QString &path : candidates) {
        QLibrary module(path);
        const auto create =
            reinterpret_cast<CreateVirtualBoards>(module.resolve("orv4120CreateVirtualBoards"));
        if (create)
            return std::unique_ptr<VirtualBoards>(create());   // the module stays loaded
        reasons << module.errorString();
    }
    *error = QStringLiteral("the virtual board module cannot be loaded: ")
        + reasons.join(QStringLiteral("; "));
    return nullptr;
}
