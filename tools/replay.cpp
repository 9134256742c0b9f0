#include "replay.h"

namespace {

// Largest count a double holds exactly with every whole number below it: 2^53.
constexpr quint64 kMaxTicks = quint64(1) << 53;

}   // namespace

qsizetype firstNonDigit(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return i;
    }
    return -1;
}

std::optional<double> replayTicks(const QString &text)
{
    if (text.isEmpty() || firstNonDigit(text) >= 0)
        return std::nullopt;
    qsizetype start = 0;
    while (start < text.size() - 1 && text.at(start) == u'0')
        ++start;
    const QStringView digits = QStringView(text).mid(start);
    if (digits.size() > 16)   // 2^53 has 16 digits
        return std::nullopt;
    bool ok = false;
    const quint64 ticks = digits.toULongLong(&ok);
    if (!ok || ticks > kMaxTicks)
        return std::nullopt;
    return double(ticks);
}
