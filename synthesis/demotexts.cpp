#include "demotexts.h"

#include <QFile>

namespace {

QString resourceText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};   // compiled in: absent only when the library was linked without its resources
    return QString::fromUtf8(file.readAll());
}

}   // namespace

QString demonstrationText()
{
    return resourceText(QStringLiteral(":/synthesis/texts/demonstration.txt"));
}

QString promptSoundCatalogue()
{
    return resourceText(QStringLiteral(":/synthesis/texts/promptsounds.txt"));
}
