#include "virtualboards.h"

#include "modules.h"

std::unique_ptr<VirtualBoards> loadVirtualBoards(const VirtualBoardOptions &options, QString *error)
{
    QString reasons;
    const auto create = reinterpret_cast<CreateVirtualBoards>(resolveModuleEntry(
        QStringLiteral("orv4120-virtual"), "orv4120CreateVirtualBoards", &reasons));
    if (create) {
        if (VirtualBoards *boards = create(&options, sizeof options))
            return std::unique_ptr<VirtualBoards>(boards);
        reasons = QStringLiteral("the module belongs to another build of the program");
    }
    *error = QStringLiteral("the virtual board module cannot be loaded: ") + reasons;
    return nullptr;
}
