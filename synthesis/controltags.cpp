#include "controltags.h"

#include "frame.h"

QByteArray tagFrame(const QByteArray &tag)
{
    return parameterFrame(Command::Synthesize, quint8(Encoding::Gbk), tag);
}

std::optional<QByteArray> barTagFrame(TagBar bar, int value)
{
    if (value < kTagBarMinimum || value > kTagBarMaximum)
        return std::nullopt;
    return tagFrame('[' + QByteArray(1, char(bar)) + QByteArray::number(value - 1) + ']');
}

QByteArray voiceTag(int entry)
{
    if (entry == 0)
        return QByteArrayLiteral("[m3]");
    if (entry > 0 && entry < kVoiceCount)
        return "[m5" + QByteArray::number(entry) + ']';
    return {};
}

std::optional<QByteArray> voiceTagFrame(int entry)
{
    const QByteArray tag = voiceTag(entry);
    if (tag.isEmpty())
        return std::nullopt;
    return tagFrame(tag);
}

QByteArray resetTagFrame()
{
    return tagFrame(QByteArrayLiteral("[d]"));
}

QStringList voiceNames()
{
    return {QStringLiteral("晓燕"), QStringLiteral("子轩"), QStringLiteral("晓萍"),
        QStringLiteral("志刚"), QStringLiteral("欣妍"), QStringLiteral("乐乐")};
}
