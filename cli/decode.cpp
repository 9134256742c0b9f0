#include "decode.h"

#include "codepage.h"
#include "codes.h"
#include "frame.h"
#include "framedecoder.h"
#include "input.h"
#include "linereport.h"
#include "linescan.h"
#include "logshape.h"
#include "options.h"
#include "soakreport.h"
#include "transactions.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

// Largest input file; a minute of both lines at 115200 baud in CSV is about 60 MB.
// Captures are large: a minute of both lines at 115200 baud is about 50 MB of CSV.
constexpr qint64 kMaxCaptureBytes = qint64(1) << 30;

void printError(const QString &message)
{
    const QByteArray bytes = (QStringLiteral("orv4120: ") + message + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

struct DecodeOptions
{
    QStringList files;
    bool answersOnly = false;   // the dump holds the chip's side
    bool json = false;
    QString reportDir;
    int boundMs = TransactionModel::kDefaultBoundMs;
    int baud = 9600;
    double maxGapMs = -1;   // -1: 20 character times at baud
    int storeEncoding = 1;
    QString framesChannel;
};

// Where something in the input is wrong.
struct Damage
{
    QString file;
    qint64 line = 0;   // 1-based
    qint64 column = 0;   // 1-based, in characters
    qint64 offset = 0;   // byte offset in the file
    QString message;
};

// One byte of a line with its time (µs, or kNoTime) and side.
struct TimedByte
{
    LinkTime at = LineReport::kNoTime;
    bool answer = false;
    quint8 value = 0;
    qint64 offset = 0;   // of the byte in its side's stream
};

class Decoder
{
public:
    explicit Decoder(const DecodeOptions &options)
        : m_o(options)
        , m_report(options.json, LineReport::Clock::None)
    { }

    int run();

private:
    bool readFile(const QString &name, QByteArray *bytes);
    void damage(
        const QString &file, qint64 line, qint64 column, qint64 offset, const QString &message);
    static bool looksLikeLog(const QByteArray &bytes);
    static bool looksLikeCsv(const QByteArray &bytes);
    QByteArray parseHex(const QString &file, const QByteArray &text);
    void decodeLog(const QString &file, const QByteArray &bytes);
    bool readCsv(
        const QString &file, const QByteArray &bytes, bool secondFile, QList<TimedByte> *out);
    void decodeUntimed(const QByteArray &bytes, bool answers);
    void decodeTimed(QList<TimedByte> bytes);
    void scannerItem(const FrameScanner::Item &item, TransactionModel *model, Link *link);

    const DecodeOptions &m_o;
    LineReport m_report;
    QList<Damage> m_damage;
    quint64 m_frames = 0;
    quint64 m_answers = 0;
    qint64 m_maxGapUs = 0;
};

void Decoder::damage(
    const QString &file, qint64 line, qint64 column, qint64 offset, const QString &message)
{
    m_damage.append({file, line, column, offset, message});
    printError(QStringLiteral("%1:%2:%3 (offset %4): %5")
                   .arg(file)
                   .arg(line)
                   .arg(column)
                   .arg(offset)
                   .arg(message));
}

bool Decoder::readFile(const QString &name, QByteArray *bytes)
{
    const InputRead input = readInput(name == u"-" ? QString() : name, kMaxCaptureBytes);
    if (input.interrupted) {
        printError(QStringLiteral("interrupted while reading %1").arg(name));
        return false;
    }
    if (!input.error.isEmpty()) {
        printError(input.error);
        return false;
    }
    *bytes = input.bytes;
    return true;
}

bool Decoder::looksLikeLog(const QByteArray &bytes)
{
    static const QByteArray markers[] = {toGbk(kExportHeading), toGbk(QStringLiteral("发出一帧")),
        QByteArray("----> "), toGbk(QStringLiteral("<---- 返回：")), kExportHeading.toUtf8(),
        QStringLiteral("<---- 返回：").toUtf8()};
    const QByteArray head = bytes.left(1 << 20);
    return std::any_of(std::begin(markers), std::end(markers),
        [&head](const QByteArray &m) { return head.contains(m); });
}

bool Decoder::looksLikeCsv(const QByteArray &bytes)
{
    const QByteArray first = bytes.left(4096).trimmed().split('\n').value(0).toLower();
    return first.contains(',') && first.contains("time")
        && (first.contains("value") || first.contains("data"));
}

// Free-form hexadecimal: "FD 00 06", "0xFD,0x00", "fd0006", the editor's "FD-00-06"; "#" and
// "//" start a comment to the end of the line.
QByteArray Decoder::parseHex(const QString &file, const QByteArray &text)
{
    QByteArray bytes;
    qint64 line = 1;
    qint64 lineStart = 0;
    auto isWord = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
            || c == '_' || quint8(c) >= 0x80;
    };
    for (qint64 i = 0; i < text.size();) {
        const char c = text.at(i);
        if (c == '\n') {
            ++line;
            lineStart = ++i;
            continue;
        }
        if (c == '#' || (c == '/' && i + 1 < text.size() && text.at(i + 1) == '/')) {
            while (i < text.size() && text.at(i) != '\n')
                ++i;
            continue;
        }
        if (!isWord(c)) {
            ++i;
            continue;
        }
        const qint64 start = i;
        while (i < text.size() && isWord(text.at(i)))
            ++i;
        QByteArray token = text.mid(start, i - start);
        QByteArray digits = token;
        const bool prefixed =
            digits.size() > 2 && (digits.startsWith("0x") || digits.startsWith("0X"));
        if (prefixed)
            digits = digits.mid(2);
        if (prefixed && digits.size() == 1)
            digits.prepend('0');
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]+$"));
        if (digits.size() % 2 == 0 && hex.match(QString::fromLatin1(digits)).hasMatch()) {
            bytes += QByteArray::fromHex(digits);
            continue;
        }
        const qint64 column = QString::fromUtf8(text.mid(lineStart, start - lineStart)).size() + 1;
        damage(file, line, column, start,
            QStringLiteral("not hexadecimal bytes: \"%1\" (skipped)")
                .arg(QString::fromUtf8(token.left(40))));
    }
    return bytes;
}

// The window's log: "发出一帧，字节数 n", "----> FD 00 01 02 ", "<---- 返回：41  接收成功", the USB
// lines "<-0x41  接收成功", each export opened by "导出数据".
void Decoder::decodeLog(const QString &file, const QByteArray &bytes)
{
    static const QRegularExpression serialAnswer(
        QStringLiteral("^<---- 返回：(?:0x)?([0-9A-F]{2})  (.*)$"));
    static const QRegularExpression usbAnswer(QStringLiteral("^<-0x([0-9A-F]{2})"));
    static const QRegularExpression count(QStringLiteral("^发出一帧，字节数 (\\d+)$"));
    static const QString versionLabel = QStringLiteral("软件版本号：");
    // A log saved again as UTF-8 holds the window's words in that form.
    const bool utf8 = !bytes.contains(toGbk(kExportHeading))
        && !bytes.contains(toGbk(QStringLiteral("返回：")))
        && !bytes.contains(toGbk(QStringLiteral("发出一帧")));
    qint64 offset = 0;
    qint64 lineNumber = 0;
    int block = 0;
    qint64 expected = -1;
    for (QByteArray raw : bytes.split('\n')) {
        ++lineNumber;
        const qint64 lineOffset = offset;
        offset += raw.size() + 1;
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString text = utf8 ? QString::fromUtf8(raw) : fromGbk(raw);
        if (text == kExportHeading) {
            ++block;
            if (m_o.json)
                m_report.note(QStringLiteral("export"), LineReport::kNoTime,
                    QStringLiteral("导出数据 #%1").arg(block),
                    {{QStringLiteral("block"), block}, {QStringLiteral("line"), lineNumber}});
            else
                std::fputs(QStringLiteral("== 导出数据 #%1（第 %2 行）==\n")
                               .arg(block)
                               .arg(lineNumber)
                               .toUtf8()
                               .constData(),
                    stdout);
            continue;
        }
        if (const QRegularExpressionMatch m = count.match(text); m.hasMatch()) {
            expected = m.captured(1).toLongLong();
            continue;
        }
        if (text.startsWith(QLatin1String("----> "))) {
            const qsizetype damageBefore = m_damage.size();
            const QByteArray frame = parseHex(file, raw.mid(6));
            for (qsizetype i = damageBefore; i < m_damage.size(); ++i) {
                m_damage[i].line = lineNumber;
                m_damage[i].offset += lineOffset + 6;
            }
            if (expected >= 0 && expected != frame.size())
                damage(file, lineNumber, 1, lineOffset,
                    QStringLiteral("the frame line holds %1 bytes, the line before says %2")
                        .arg(frame.size())
                        .arg(expected));
            expected = -1;
            if (frame.isEmpty())
                continue;
            ++m_frames;
            m_report.frame(
                m_frames, -1, LineReport::kNoTime, frame, decodeFrame(frame, m_o.storeEncoding));
            continue;
        }
        if (const QRegularExpressionMatch m = serialAnswer.match(text); m.hasMatch()) {
            quint8 code = quint8(m.captured(1).toUInt(nullptr, 16));
            QByteArray versionText;
            if (code == 0x58 && m.captured(2).startsWith(versionLabel)) {
                code = Answer::VersionText;   // logged under the label 58
                versionText = toGbk(m.captured(2).mid(versionLabel.size()));
            }
            ++m_answers;
            m_report.answer(code, versionText, LineReport::kNoTime, -1);
            continue;
        }
        if (text.startsWith(QLatin1String("<-"))) {
            std::optional<quint8> code;
            if (const QRegularExpressionMatch m = usbAnswer.match(text); m.hasMatch())
                code = quint8(m.captured(1).toUInt(nullptr, 16));
            else if (text == usbAnswerLabel(Answer::HardwarePlaying))
                code = Answer::HardwarePlaying;
            if (code && usbAnswerLabel(*code)) {
                ++m_answers;
                m_report.answer(
                    *code, {}, LineReport::kNoTime, -1, 0, -1, false, AnswerRule::UsbReports);
            }
        }
    }
    if (block == 0 && m_frames == 0 && m_answers == 0)
        damage(file, 1, 1, 0, QStringLiteral("no frame and no answer in this log"));
}

std::optional<int> byteValue(QString field)
{
    field = field.trimmed();
    if (field.size() >= 3 && field.startsWith(u'\'') && field.endsWith(u'\''))
        field = field.mid(1, field.size() - 2);
    bool ok = false;
    int value = -1;
    if (field.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = field.mid(2).toInt(&ok, 16);
    else if (field.endsWith(u'h', Qt::CaseInsensitive) && field.size() > 1)
        value = field.chopped(1).toInt(&ok, 16);
    else if (!field.isEmpty()
        && std::all_of(field.cbegin(), field.cend(), [](QChar c) { return c.isDigit(); }))
        value = field.toInt(&ok, 10);
    else if (field.size() == 2)
        value = field.toInt(&ok, 16);
    else if (field.size() == 1 && field.at(0).unicode() < 0x80)
        return field.at(0).unicode();   // shown as a character
    if (!ok || value < 0 || value > 255)
        return std::nullopt;
    return value;
}

QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// The two layouts of a decoded UART's export: "Time [s],Value[,Parity Error,Framing Error]" and
// "name,type,start_time,duration,data" (rows of type "data"; name tells two lines apart). Any
// header with a time and a value or data column is read the same way; a unit in brackets
// ([s], [ms], [us], [ns]) scales the time.
bool Decoder::readCsv(
    const QString &file, const QByteArray &bytes, bool secondFile, QList<TimedByte> *out)
{
    const qsizetype headerEnd = bytes.indexOf('\n') < 0 ? bytes.size() : bytes.indexOf('\n');
    const QStringList header = csvFields(QString::fromUtf8(bytes.left(headerEnd)).trimmed());
    int timeColumn = -1, byteColumn = -1, nameColumn = -1, typeColumn = -1;
    QList<int> errorColumns;
    double scale = 1.0;
    for (int i = 0; i < header.size(); ++i) {
        const QString h = header.at(i).trimmed().toLower();
        if (timeColumn < 0 && h.contains(QLatin1String("time"))) {
            timeColumn = i;
            if (h.contains(QLatin1String("[ms]")))
                scale = 1e-3;
            else if (h.contains(QLatin1String("[us]")) || h.contains(QStringLiteral("[µs]")))
                scale = 1e-6;
            else if (h.contains(QLatin1String("[ns]")))
                scale = 1e-9;
        } else if (byteColumn < 0
            && (h == u"value" || h == u"data" || h.startsWith(u"value ")
                || h.startsWith(u"data "))) {
            byteColumn = i;
        } else if (h == u"name" || h == u"channel") {
            nameColumn = i;
        } else if (h == u"type") {
            typeColumn = i;
        } else if (h.contains(QLatin1String("error"))) {
            errorColumns << i;
        }
    }
    if (timeColumn < 0 || byteColumn < 0) {
        damage(file, 1, 1, 0,
            QStringLiteral("the CSV header names no time column and no value or data column"));
        return false;
    }
    struct Row
    {
        double seconds;
        int channel;   // index into channels
        int value;
    };
    QList<Row> rows;
    QStringList channels;
    qint64 offset = headerEnd + 1;
    for (qint64 n = 1; offset < bytes.size(); ++n) {
        const qint64 lineOffset = offset;
        qsizetype end = bytes.indexOf('\n', offset);
        if (end < 0)
            end = bytes.size();
        offset = end + 1;
        const QString text =
            QString::fromUtf8(bytes.constData() + lineOffset, end - lineOffset).trimmed();
        if (text.isEmpty())
            continue;
        const QStringList f = csvFields(text);
        if (typeColumn >= 0 && f.value(typeColumn).trimmed().toLower() != u"data") {
            m_report.note(QStringLiteral("capture_note"), LineReport::kNoTime,
                QStringLiteral("%1 第 %2 行：%3").arg(file).arg(n + 1).arg(text));
            continue;
        }
        bool ok = false;
        const double seconds = QLocale::c().toDouble(f.value(timeColumn).trimmed(), &ok) * scale;
        const std::optional<int> value = byteValue(f.value(byteColumn));
        if (!ok || !std::isfinite(seconds) || !value) {
            damage(file, n + 1, 1, lineOffset,
                QStringLiteral("no time or no byte in this row (skipped): %1").arg(text.left(80)));
            continue;
        }
        for (int c : std::as_const(errorColumns)) {
            const QString e = f.value(c).trimmed();
            if (!e.isEmpty() && e != u"0" && e.compare(u"false", Qt::CaseInsensitive) != 0)
                m_report.note(QStringLiteral("uart_error"), LineReport::kNoTime,
                    QStringLiteral("%1 第 %2 行：%3 %4").arg(file).arg(n + 1).arg(header.at(c), e),
                    {{QStringLiteral("line"), n + 1}});
        }
        const QString channel = nameColumn >= 0 ? f.value(nameColumn).trimmed() : QString();
        int index = int(channels.indexOf(channel));
        if (index < 0) {
            index = int(channels.size());
            channels << channel;
        }
        rows.append({seconds, index, *value});
    }
    if (channels.size() > 2) {
        damage(file, 1, 1, 0,
            QStringLiteral("the CSV holds %1 lines (%2); decode reads one or two")
                .arg(channels.size())
                .arg(channels.join(QStringLiteral(", "))));
        return false;
    }
    int framesChannel = 0;
    if (channels.size() == 2) {
        if (!m_o.framesChannel.isEmpty()) {
            if (!channels.contains(m_o.framesChannel)) {
                damage(file, 1, 1, 0,
                    QStringLiteral("no line named %1 in the CSV (%2)")
                        .arg(m_o.framesChannel, channels.join(QStringLiteral(", "))));
                return false;
            }
            framesChannel = int(channels.indexOf(m_o.framesChannel));
        } else {
            // The microcontroller's line is the one that starts with a frame head.
            for (const Row &r : std::as_const(rows)) {
                if (r.value == kFrameHead) {
                    framesChannel = r.channel;
                    break;
                }
            }
        }
    }
    qint64 offsets[2] = {0, 0};
    for (const Row &r : std::as_const(rows)) {
        const bool answer =
            channels.size() == 2 ? r.channel != framesChannel : (secondFile || m_o.answersOnly);
        out->append({LinkTime(std::llround(r.seconds * 1e6)), answer, quint8(r.value),
            offsets[answer ? 1 : 0]++});
    }
    return true;
}

void Decoder::decodeUntimed(const QByteArray &bytes, bool answers)
{
    if (!answers) {
        FrameScanner scanner;
        QList<FrameScanner::Item> items = scanner.feed(bytes, 0);
        items += scanner.finish();
        for (const FrameScanner::Item &item : std::as_const(items))
            scannerItem(item, nullptr, nullptr);
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const quint8 code = quint8(bytes.at(i));
        if (code == Answer::VersionText) {
            const QByteArray text = bytes.mid(i + 1, AnswerReader::kVersionTextBytes);
            ++m_answers;
            m_report.answer(code, text, LineReport::kNoTime, i);
            i += text.size();
        } else if (serialAnswerLabel(code)) {
            ++m_answers;
            m_report.answer(code, {}, LineReport::kNoTime, i);
        } else {
            m_report.note(QStringLiteral("not_an_answer"), LineReport::kNoTime,
                QStringLiteral("偏移 %1：%2 不是芯片的应答")
                    .arg(i)
                    .arg(hexPreview(bytes.mid(i, 1))),
                {{QStringLiteral("offset"), double(i)}});
        }
    }
}

void Decoder::scannerItem(const FrameScanner::Item &item, TransactionModel *model, Link *link)
{
    using Kind = FrameScanner::Item::Kind;
    const LinkTime at = model ? item.first : LineReport::kNoTime;
    const QJsonObject where {{QStringLiteral("offset"), double(item.offset)},
        {QStringLiteral("bytes"), QString::fromLatin1(item.bytes.toHex(' ').toUpper())}};
    switch (item.kind) {
    case Kind::Stray:
        m_report.note(QStringLiteral("stray"), at,
            QStringLiteral("偏移 %1：%2 字节不属于任何帧：%3")
                .arg(item.offset)
                .arg(item.bytes.size())
                .arg(hexPreview(item.bytes, 16)),
            where);
        return;
    case Kind::Oversized:
        m_report.note(QStringLiteral("oversized"), at,
            QStringLiteral("偏移 %1：长度字段 %2 超过 %3（帧超过 4096 字节），芯片拒收")
                .arg(item.offset)
                .arg((quint8(item.bytes.at(1)) << 8) | quint8(item.bytes.at(2)))
                .arg(FrameScanner::kMaxLengthField),
            where);
        if (model)
            model->frameSent(item.bytes, link, item.first);
        break;
    case Kind::CutFrame:
    case Kind::Frame:
        break;
    }
    quint64 id = 0;
    if (model) {
        if (item.kind != Kind::Oversized)
            model->frameSent(item.bytes, link, item.first);
        model->frameWritten(link, {item.bytes.size(), item.last, item.last});
        if (const TransactionModel::Transaction *t = model->lastSent(link))
            id = t->id;
    }
    if (item.kind == Kind::Oversized)
        return;
    ++m_frames;
    const quint64 number = id ? id : m_frames;   // with times, the pairing's numbers
    m_report.frame(
        number, item.offset, at, item.bytes, decodeFrame(item.bytes, m_o.storeEncoding), id);
    if (item.kind == Kind::CutFrame)
        m_report.note(QStringLiteral("cut_frame"), item.last,
            QStringLiteral("帧 #%1 被截断：长度字段要求 %2 字节，只来了 %3 字节")
                .arg(number)
                .arg(item.bytes.size() >= 3
                        ? 3 + ((quint8(item.bytes.at(1)) << 8) | quint8(item.bytes.at(2)))
                        : 3)
                .arg(item.bytes.size()),
            where);
    if (model && m_maxGapUs > 0 && item.longestGapUs > m_maxGapUs)
        m_report.note(QStringLiteral("gap"), item.gapEnd,
            QStringLiteral("帧 #%1 内停顿 %2（偏移 %3 之前），超过 %4")
                .arg(number)
                .arg(formatDuration(item.longestGapUs))
                .arg(item.gapOffset)
                .arg(formatDuration(m_maxGapUs)),
            {{QStringLiteral("offset"), double(item.gapOffset)},
                {QStringLiteral("gap_ms"), double(item.longestGapUs) / 1000.0}});
}

void Decoder::decodeTimed(QList<TimedByte> bytes)
{
    std::stable_sort(bytes.begin(), bytes.end(), [](const TimedByte &a, const TimedByte &b) {
        return a.at < b.at || (a.at == b.at && !a.answer && b.answer);
    });
    const bool bothSides = std::any_of(bytes.cbegin(), bytes.cend(), [](auto &b) {
        return b.answer;
    }) && std::any_of(bytes.cbegin(), bytes.cend(), [](auto &b) { return !b.answer; });
    LinkTime now = bytes.isEmpty() ? 0 : bytes.first().at;
    ListeningLink link(kSerialMaxTextBytes);
    TransactionModel model([&now] { return now; });
    model.setBound(m_o.boundMs);
    model.setStoreEncoding(m_o.storeEncoding);
    AnswerReader reader(&link, AnswerRule::SerialCharacters, [&now] { return now; });
    model.addLink(&reader, QStringLiteral("capture"));
    quint64 rowCount = 0;
    SoakReport report;
    if (!m_o.reportDir.isEmpty() && !report.start(m_o.reportDir)) {
        printError(QStringLiteral("cannot write the report: ") + report.errorString());
        return;
    }
    model.setRowSink([&](const TransactionRow &row) {
        ++rowCount;
        if (report.isOpen())
            report.addRow(row);
    });
    QObject::connect(&model, &TransactionModel::answerRead, &model,
        [this, bothSides](Link *, const TransactionModel::AnswerEvent &a,
            const TransactionModel::Transaction *paired) {
            ++m_answers;
            qint64 latency = -1;
            if (paired && paired->firstAnswer == paired->answers.size() - 1)
                latency = paired->latency();
            m_report.answer(a.code, a.text, a.arrival, -1, paired ? paired->id : 0, latency,
                bothSides && !paired);
        });
    FrameScanner scanner(m_maxGapUs);
    for (const TimedByte &b : std::as_const(bytes)) {
        now = b.at;
        model.checkDeadlines();
        if (b.answer) {
            // The chip refuses while a frame is still short of its length and the line is
            // quiet: it gave up on that frame.
            if (scanner.inFrame() && b.at - scanner.lastArrival() > m_maxGapUs
                && b.value == Answer::ReceiveFailed) {
                for (const FrameScanner::Item &item : scanner.finish())
                    scannerItem(item, &model, &link);
            }
            reader.receive(QByteArray(1, char(b.value)), b.at);
            continue;
        }
        for (const FrameScanner::Item &item : scanner.feed(QByteArray(1, char(b.value)), b.at))
            scannerItem(item, &model, &link);
    }
    for (const FrameScanner::Item &item : scanner.finish())
        scannerItem(item, &model, &link);
    now += qint64(m_o.boundMs) * 1000 + 1;
    model.checkDeadlines();
    model.finish();
    if (bothSides) {
        // The model keeps the newest rows (memory stays bounded); the report has them all.
        const std::deque<TransactionRow> &rows = model.recentRows();
        if (!m_o.json && !rows.empty())
            std::fputs("== 帧与应答 ==\n", stdout);
        if (rowCount > rows.size())
            m_report.note(QStringLiteral("rows_left_out"), LineReport::kNoTime,
                QStringLiteral("前 %1 行从略（--report 目录中的报告有全部 %2 行）")
                    .arg(rowCount - rows.size())
                    .arg(rowCount),
                {{QStringLiteral("rows"), double(rowCount)}});
        for (const TransactionRow &row : rows)
            m_report.row(row);
        m_report.summary(QStringLiteral("capture"), model.stats());
    }
    if (report.isOpen()) {
        if (!report.finish(summaryText(model.stats())))
            printError(QStringLiteral("the report is incomplete: ") + report.errorString());
        m_report.note(QStringLiteral("report"), LineReport::kNoTime,
            QStringLiteral("报告：%1").arg(report.csvPath()),
            {{QStringLiteral("csv"), report.csvPath()},
                {QStringLiteral("summary"), report.summaryPath()}});
    }
}

int Decoder::run()
{
    m_maxGapUs = m_o.maxGapMs >= 0 ? qint64(m_o.maxGapMs * 1000)
                                   : qint64(20) * 10 * 1000000 / m_o.baud;   // 20 characters
    QList<TimedByte> timed;
    bool anyTimed = false;
    QList<QPair<QByteArray, bool>> untimed;   // bytes, answers
    for (qsizetype i = 0; i < m_o.files.size(); ++i) {
        const QString name = m_o.files.at(i);
        QByteArray bytes;
        if (!readFile(name, &bytes))
            return ExitBadInput;
        const QString shown = name == u"-" ? QStringLiteral("stdin") : name;
        if (looksLikeLog(bytes)) {
            decodeLog(shown, bytes);
        } else if (looksLikeCsv(bytes)) {
            anyTimed = true;
            if (!readCsv(shown, bytes, i == 1, &timed))
                return ExitBadInput;
        } else {
            untimed.append({parseHex(shown, bytes), i == 1 || m_o.answersOnly});
        }
    }
    if (!untimed.isEmpty() && anyTimed) {
        printError(QStringLiteral("a CSV capture has times and a dump has none: give them one "
                                  "at a time"));
        return ExitBadInput;
    }
    for (const auto &[bytes, answers] : std::as_const(untimed)) {
        if (untimed.size() > 1)
            m_report.note(QStringLiteral("side"), LineReport::kNoTime,
                answers ? QStringLiteral("== 芯片一侧 ==") : QStringLiteral("== 单片机一侧 =="));
        decodeUntimed(bytes, answers);
    }
    if (anyTimed) {
        m_report = LineReport(m_o.json, LineReport::Clock::Capture);
        decodeTimed(timed);
    } else if (!m_o.reportDir.isEmpty()) {
        printError(QStringLiteral("--report needs times: a CSV capture"));
        return ExitBadInput;
    }
    if (m_frames == 0 && m_answers == 0 && m_damage.isEmpty()) {
        printError(QStringLiteral("no frame and no answer in the input"));
        return ExitBadInput;
    }
    return m_damage.isEmpty() ? ExitDone : ExitBadInput;
}

}   // namespace

QString decodeCommandHelp()
{
    return QStringLiteral(
        "Usage: orv4120 decode [FILE|-] [ANSWERS-FILE] [OPTIONS]\n"
        "Prints what a capture holds: each frame decoded as the chip reads it (command,\n"
        "encoding, text, tags, problems) and each answer with the label the window logs.\n"
        "Nothing is sent. FILE (default: standard input) is one of:\n"
        "  hexadecimal: FD 00 06 ..., 0xFD,0x00,..., fd0006..., as the hexadecimal editor takes\n"
        "    it (# and // start comments); --answers: it is the chip's side\n"
        "  the window's LOG.txt (GBK): every frame and answer of every export\n"
        "  a CSV export of a decoded UART, with times: \"Time [s],Value[,Parity Error,Framing\n"
        "    Error]\" or \"name,type,start_time,duration,data\" (two lines told apart by name)\n"
        "A second file holds the chip's side. With times, frames are paired with their answers\n"
        "and the latencies and a summary printed as in a soak report.\n"
        "Options:\n"
        "  --answers              the dump is the chip's side\n"
        "  --frames-channel NAME  the microcontroller's line in a two-line CSV (default: the\n"
        "                         one that starts with FD)\n"
        "  --max-gap MS           a pause inside a frame longer than this is named (default:\n"
        "                         20 character times at --baud)\n"
        "  --baud N               the line's speed (default 9600)\n"
        "  --timeout MS           a frame without an answer within MS is unanswered (1000)\n"
        "  --encoding E           the encoding of cache-store text (default gbk)\n"
        "  --report DIR           writes a soak report (CSV and summary) of a timed capture\n"
        "  --json                 one JSON object per line and event\n"
        "Damaged input is decoded as far as it goes; each damage is named on standard error\n"
        "with its line, column and offset, and the exit code is 2.\n");
}

int runDecodeCommand(const QList<QByteArray> &arguments)
{
    DecodeOptions o;
    bool endOfOptions = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = QString::fromUtf8(arguments.at(i));
        if (endOfOptions || arg == u"-" || !arg.startsWith(u'-')) {
            o.files << arg;
            continue;
        }
        if (arg == u"--") {
            endOfOptions = true;
            continue;
        }
        std::optional<QString> inlineValue;
        if (const qsizetype eq = arg.indexOf(u'='); eq > 0) {
            inlineValue = arg.mid(eq + 1);
            arg.truncate(eq);
        }
        auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return QString::fromUtf8(arguments.at(++i));
            return std::nullopt;
        };
        auto bad = [](const QString &message) {
            printError(message);
            return int(ExitBadInput);
        };
        if (arg == u"-h" || arg == u"--help") {
            std::fputs(decodeCommandHelp().toUtf8().constData(), stdout);
            return ExitDone;
        }
        if (arg == u"--answers") {
            o.answersOnly = true;
        } else if (arg == u"--json") {
            o.json = true;
        } else if (arg == u"--report" || arg == u"--frames-channel" || arg == u"--max-gap"
            || arg == u"--baud" || arg == u"--timeout" || arg == u"--encoding") {
            const std::optional<QString> v = value();
            if (!v)
                return bad(arg + QStringLiteral(" needs a value"));
            bool ok = false;
            if (arg == u"--report") {
                o.reportDir = *v;
            } else if (arg == u"--frames-channel") {
                o.framesChannel = *v;
            } else if (arg == u"--max-gap") {
                o.maxGapMs = millisecondsOf(*v, &ok);
                if (!ok || o.maxGapMs <= 0 || o.maxGapMs > 60000)
                    return bad(
                        QStringLiteral("--max-gap takes milliseconds above 0, not \"%1\"").arg(*v));
            } else if (arg == u"--baud") {
                o.baud = v->toInt(&ok);
                if (!ok || o.baud < 300 || o.baud > 4000000)
                    return bad(QStringLiteral("--baud takes a line speed, not \"%1\"").arg(*v));
            } else if (arg == u"--timeout") {
                const double ms = millisecondsOf(*v, &ok);
                if (!ok || ms <= 0 || ms > 3600000)
                    return bad(
                        QStringLiteral("--timeout takes milliseconds above 0, not \"%1\"").arg(*v));
                o.boundMs = int(ms);
            } else {
                static const char *const kNames[] = {"gb2312", "gbk", "big5", "utf16le", "utf16be"};
                o.storeEncoding = -1;
                for (int e = 0; e < 5; ++e) {
                    if (v->compare(QLatin1String(kNames[e]), Qt::CaseInsensitive) == 0)
                        o.storeEncoding = e;
                }
                if (o.storeEncoding < 0)
                    return bad(QStringLiteral("--encoding takes gb2312, gbk, big5, utf16le or "
                                              "utf16be, not \"%1\"")
                                   .arg(*v));
            }
        } else {
            return bad(
                QStringLiteral("unknown option %1 for decode; see orv4120 decode --help").arg(arg));
        }
    }
    if (o.files.isEmpty())
        o.files << QStringLiteral("-");
    if (o.files.size() > 2) {
        printError(QStringLiteral("decode reads one capture, or the microcontroller's side and "
                                  "the chip's side: two files at most"));
        return ExitBadInput;
    }
    if (o.files.size() == 2 && o.answersOnly) {
        printError(QStringLiteral("--answers is for one dump of the chip's side; the second "
                                  "file is the chip's side already"));
        return ExitBadInput;
    }
    Decoder decoder(o);
    return decoder.run();
}
