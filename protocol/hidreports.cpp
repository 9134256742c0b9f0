#include "hidreports.h"

#include "codes.h"

#include <QHash>

QList<HidOutputReport> hidReports(const QByteArray &frame)
{
    const int n = int(frame.size());
    QList<HidOutputReport> reports;
    if (n <= 0)
        return reports;

    if (frame.size() < 4) {
        QByteArray report(kHidReportBytes, '\0');
        report.replace(1, n, frame.constData(), n);
        reports.append({report, false});
        return reports;
    }

    const int fullReports = n / kHidFullReportFrameBytes;
    const int rest = n - fullReports * kHidFullReportFrameBytes;
    reports.reserve(fullReports + 1);
    for (int k = 0; k < fullReports; ++k) {
        QByteArray report(kHidReportBytes, '\0');
        report[1] = char(UsbMarker::More);
        report.replace(2, kHidFullReportFrameBytes,
            frame.constData() + k * kHidFullReportFrameBytes, kHidFullReportFrameBytes);
        reports.append({report, true});
    }
    QByteArray closing(kHidReportBytes, '\0');
    closing[1] = char(UsbMarker::Closing);
    closing[2] = char(rest);
    closing.replace(3, rest, frame.constData() + fullReports * kHidFullReportFrameBytes, rest);
    reports.append({closing, false});
    return reports;
}

std::optional<HidReportLayout> parseReportDescriptor(const QByteArray &descriptor)
{
    // Short items only: a prefix byte (tag, type, size code) and 0, 1, 2 or 4 data bytes. Report
    // size and count are global items; each Input or Output main item adds size * count bits to
    // the report of the current report id.
    const auto *d = reinterpret_cast<const quint8 *>(descriptor.constData());
    const int length = int(descriptor.size());
    quint32 reportSize = 0;
    quint32 reportCount = 0;
    quint32 reportId = 0;
    bool numbered = false;
    QHash<quint32, quint64> inputBits;
    QHash<quint32, quint64> outputBits;
    int i = 0;
    while (i < length) {
        const quint8 prefix = d[i];
        if (prefix == 0xFE) {   // long item: data size in the next byte, then its tag
            if (i + 1 >= length)
                break;
            i += 3 + d[i + 1];
            continue;
        }
        const int dataBytes = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (i + 1 + dataBytes > length)
            break;
        quint32 value = 0;
        for (int b = 0; b < dataBytes; ++b)
            value |= quint32(d[i + 1 + b]) << (8 * b);
        switch (prefix & 0xFC) {
        case 0x74:   // Report Size
            reportSize = value;
            break;
        case 0x94:   // Report Count
            reportCount = value;
            break;
        case 0x84:   // Report ID
            reportId = value;
            numbered = true;
            break;
        case 0x80:   // Input
            inputBits[reportId] += quint64(reportSize) * reportCount;
            break;
        case 0x90:   // Output
            outputBits[reportId] += quint64(reportSize) * reportCount;
            break;
        default:
            break;
        }
        i += 1 + dataBytes;
    }

    // The report id byte is counted whether or not the device numbers its reports.
    const auto longest = [](const QHash<quint32, quint64> &bits) {
        quint64 most = 0;
        for (const quint64 b : bits)
            most = qMax(most, b);
        return most == 0 ? 0 : int(qMin<quint64>((most + 7) / 8, 0xFFFF)) + 1;
    };
    const int in = longest(inputBits);
    const int out = longest(outputBits);
    if (in == 0 && out == 0)
        return std::nullopt;
    return HidReportLayout {in, out, numbered};
}
