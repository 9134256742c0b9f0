#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// The board's USB interface takes 33-byte output reports: report id 0 and 32 payload bytes.
inline constexpr int kHidReportBytes = 33;
// Frame bytes carried by one full (0xFC) report; the closing (0xBC) report carries at most 30.
inline constexpr int kHidFullReportFrameBytes = 31;

// One output report of a frame and whether the board acknowledges it with 0x5E.
struct HidOutputReport
{
    QByteArray bytes;   // kHidReportBytes bytes, byte 0 the report id
    bool awaitsAck = false;
};

// Reports for a frame. A frame of fewer than four bytes is one report without marker; any other is
// 0xFC reports of 31 bytes each, then the 0xBC report with its count and zero padding. An empty
// frame gives no report.
QList<HidOutputReport> hidReports(const QByteArray &frame);

// What a HID report descriptor declares about the device's reports.
struct HidReportLayout
{
    int inputBytes = 0;   // longest input report, report id byte included; 0 when none
    int outputBytes = 0;   // longest output report, report id byte included; 0 when none
    bool numbered = false;   // the reports carry a report id of their own
};

// Layout of the reports a descriptor declares; none when it declares no input or output report.
std::optional<HidReportLayout> parseReportDescriptor(const QByteArray &descriptor);
