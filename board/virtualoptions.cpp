#include "virtualoptions.h"

#include <QLocale>

#include <cmath>

QString setAcceptDelay(VirtualBoardOptions *options, const QString &option, const QString &value)
{
    bool ok = false;
    const int ms = value.toInt(&ok);
    if (!ok || ms < 0 || ms > kMaxAcceptDelayMs)
        return QStringLiteral("%1 expects whole milliseconds from 0 to %2, not \"%3\"")
            .arg(option)
            .arg(kMaxAcceptDelayMs)
            .arg(value);
    options->acceptDelayMs = ms;
    return {};
}

QString setSpeechScale(VirtualBoardOptions *options, const QString &option, const QString &value)
{
    bool ok = false;
    const double scale = QLocale::c().toDouble(value, &ok);   // "0.01" whatever the locale
    if (!ok || !std::isfinite(scale) || scale < 0.0 || scale > kMaxSpeechScale)
        return QStringLiteral("%1 expects a number from 0 to %2 (1 speaks in real time, 0.01 a "
                              "hundred times faster, 0 ends at once), not \"%3\"")
            .arg(option)
            .arg(kMaxSpeechScale)
            .arg(value);
    options->speechScale = scale;
    return {};
}

QString setUsbAcks(VirtualBoardOptions *options, const QString &option, const QString &value)
{
    if (value == u"full")
        options->usbAcks = UsbAcks::Full;
    else if (value == u"all")
        options->usbAcks = UsbAcks::All;
    else if (value == u"ready")
        options->usbAcks = UsbAcks::Ready;
    else
        return QStringLiteral("%1 expects full, all or ready, not \"%2\"").arg(option, value);
    return {};
}
