#include "virtualboards.h"

#include "modules.h"

std::unique_ptr<VirtualBoards> loadVirtualBoards(QString *error)
{
    QString reasons;
    const auto create = reinterpret_cast<CreateVirtualBoards>(resolveModuleEntry(
        QStringLiteral("orv4120-virtual"), "orv4120CreateVirtualBoards", &reasons));
    if (create)
        return std::unique_ptr<VirtualBoards>(create());
    *error = QStringLiteral("the virtual board module cannot be loaded: ") + reasons;
    return nullptr;
}
