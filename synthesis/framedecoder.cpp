#include "framedecoder.h"

#include "codepage.h"
#include "codes.h"
#include "frame.h"
#include "icuconverter.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QVarLengthArray>

#include <algorithm>

namespace {

constexpr int kMinFrameBytes = 4;   // head, length, command
constexpr int kMaxSegment = 15;
constexpr int kMaxEncoding = 4;
constexpr int kSummaryCharacters = 20;
constexpr quint8 kSubstituteByte = 0x1A;

// Text of a frame with the frame offset of each UTF-16 unit.
struct TextBytes
{
    QString text;
    QVarLengthArray<int, 256> offsets;
    int firstBad = -1;   // frame offset of the first byte sequence the encoding does not hold
    int badCount = 0;
};

// The ICU converter of this thread for a code page, reset for a new text.
UConverter *codePageConverter(int encoding)
{
    static thread_local IcuConverter gbk = openIcuConverter("windows-936");
    static thread_local IcuConverter big5 = openIcuConverter("windows-950");
    UConverter *converter = encoding == int(Encoding::Big5) ? big5.get() : gbk.get();
    if (converter)
        ucnv_resetToUnicode(converter);
    return converter;
}

// GBK or BIG5 through ICU; a sequence the code page does not hold becomes U+FFFD (or U+001A for
// an unassigned single byte), which marks it as bad.
TextBytes decodeCodePage(const QByteArray &frame, int start, int encoding)
{
    TextBytes out;
    const int length = int(frame.size()) - start;
    auto unreadable = [&out, start, length]() {
        out.text = QString(length, QChar::ReplacementCharacter);
        out.offsets.resize(length);
        for (int i = 0; i < length; ++i)
            out.offsets[i] = start + i;
        out.firstBad = start;
        out.badCount = length;
        return std::move(out);
    };
    UConverter *converter = codePageConverter(encoding);
    if (!converter)
        return unreadable();   // ICU without the code page: nothing can be read
    out.text.resize(2 * length + 2);   // one unit per byte at most, and room to spare
    QVarLengthArray<int32_t, 256> offsets(out.text.size());
    UChar *target = reinterpret_cast<UChar *>(out.text.data());
    UChar *const targetStart = target;
    const char *source = frame.constData() + start;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, targetStart + out.text.size(), &source,
        frame.constData() + frame.size(), offsets.data(), true, &status);
    if (U_FAILURE(status))
        return unreadable();
    const int units = int(target - targetStart);
    out.text.truncate(units);
    out.offsets.resize(units);
    for (int i = 0; i < units; ++i) {
        const int offset = start + offsets[i];
        out.offsets[i] = offset;
        const char16_t unit = out.text.at(i).unicode();
        if (unit == QChar::ReplacementCharacter
            || (unit == kSubstituteByte && quint8(frame.at(offset)) != kSubstituteByte)) {
            if (out.badCount++ == 0)
                out.firstBad = offset;
        }
    }
    return out;
}

// UTF-16 in either byte order; an odd last byte and a surrogate without its partner are bad.
TextBytes decodeUtf16(const QByteArray &frame, int start, bool littleEndian)
{
    TextBytes out;
    const int units = (int(frame.size()) - start) / 2;
    out.text.resize(units);
    out.offsets.resize(units);
    const auto *bytes = reinterpret_cast<const quint8 *>(frame.constData() + start);
    QChar *text = out.text.data();
    for (int i = 0; i < units; ++i) {
        const quint8 first = bytes[2 * i];
        const quint8 second = bytes[2 * i + 1];
        text[i] =
            QChar(littleEndian ? char16_t(first | second << 8) : char16_t(first << 8 | second));
        out.offsets[i] = start + 2 * i;
    }
    auto bad = [&out](int offset) {
        if (out.badCount++ == 0)
            out.firstBad = offset;
    };
    for (int i = 0; i < units; ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < units
            && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        else if (QChar::isSurrogate(unit))
            bad(out.offsets[i]);
    }
    if ((frame.size() - start) % 2 != 0)
        bad(int(frame.size()) - 1);
    return out;
}

bool isTagLetter(char16_t c)
{
    return c == u'v' || c == u's' || c == u't' || c == u'f' || c == u'm' || c == u'i' || c == u'n'
        || c == u'p' || c == u'r' || c == u'x' || c == u'y' || c == u'z' || c == u'b';
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Length of a tag starting at text[at] == '[', or 0: a letter and digits ("[v5]", "[p500]"),
// "[d]", or "=" with a pinyin syllable and its tone digit ("[=xing2]").
int tagLength(const QString &text, int at)
{
    const int size = int(text.size());
    int i = at + 1;
    if (i >= size)
        return 0;
    const char16_t kind = text.at(i).unicode();
    ++i;
    if (kind == u'd') {
        // no argument
    } else if (isTagLetter(kind)) {
        const int digits = i;
        while (i < size && isDigit(text.at(i).unicode()))
            ++i;
        if (i == digits)
            return 0;
    } else if (kind == u'=') {
        const int letters = i;
        while (i < size && text.at(i).unicode() >= u'a' && text.at(i).unicode() <= u'z')
            ++i;
        if (i == letters || i >= size || !isDigit(text.at(i).unicode()))
            return 0;
        ++i;
    } else {
        return 0;
    }
    return i < size && text.at(i) == u']' ? i + 1 - at : 0;
}

QList<TagSpan> findTags(const QString &text)
{
    QList<TagSpan> tags;
    for (int at = int(text.indexOf(u'[')); at >= 0; at = int(text.indexOf(u'[', at + 1))) {
        if (const int length = tagLength(text, at)) {
            tags.append({at, length});
            at += length - 1;
        }
    }
    return tags;
}

// The Chinese words, or the English ones.
QString pick(Wording wording, QString chinese, QString english)
{
    return wording == Wording::English ? std::move(english) : std::move(chinese);
}

// "1 byte", not "1 bytes", in an English text filled in with its counts.
QString singular(QString english)
{
    static const QRegularExpression oneBytes(QStringLiteral("(?<![\\d.])\\b1 bytes"));
    return english.replace(oneBytes, QStringLiteral("1 byte"));
}

class Problems
{
public:
    Problems(DecodedFrame &frame, Wording wording)
        : wording(wording)
        , m_frame(frame)
    { }
    const Wording wording;
    void error(int offset, const QString &message)
    {
        m_frame.problems.append({ProblemSeverity::Error, offset, worded(message)});
    }
    void warning(int offset, const QString &message)
    {
        m_frame.problems.append({ProblemSeverity::Warning, offset, worded(message)});
    }

private:
    QString worded(const QString &message) const
    {
        return wording == Wording::English ? singular(message) : message;
    }
    DecodedFrame &m_frame;
};

// "“镕”“堃”" for the first few distinct characters of a list, "…" when there are more.
QString quoteCharacters(const QList<char16_t> &units)
{
    constexpr int kShown = 5;
    QString out;
    for (int i = 0; i < units.size() && i < kShown; ++i)
        out += u'“' + QChar(units.at(i)) + u'”';
    if (units.size() > kShown)
        out += u'…';
    return out;
}

// Decodes the text from start in the encoding and notes what the encoding does not hold.
void decodeText(
    DecodedFrame &out, Problems &problems, const QByteArray &frame, int start, int encoding)
{
    out.textOffset = start;
    out.textBytes = int(frame.size()) - start;
    if (out.textBytes == 0) {
        problems.warning(
            -1, pick(problems.wording, QStringLiteral("没有文本"), QStringLiteral("no text")));
        return;
    }
    TextBytes decoded;
    if (encoding == int(Encoding::Utf16Le) || encoding == int(Encoding::Utf16Be))
        decoded = decodeUtf16(frame, start, encoding == int(Encoding::Utf16Le));
    else
        decoded = decodeCodePage(frame, start, encoding);
    if (decoded.badCount > 0) {
        problems.error(decoded.firstBad,
            pick(problems.wording, QStringLiteral("偏移 %1 起有 %2 处不是有效的 %3 编码"),
                QStringLiteral("%2 places from offset %1 are not valid %3"))
                .arg(decoded.firstBad)
                .arg(decoded.badCount)
                .arg(encodingName(encoding, problems.wording)));
    }
    if (encoding == int(Encoding::Gb2312)) {
        QList<char16_t> outside;
        int first = -1;
        int count = 0;
        for (int i = 0; i < decoded.text.size(); ++i) {
            const char16_t unit = decoded.text.at(i).unicode();
            if (unit < 0x80 || unit == QChar::ReplacementCharacter || inGb2312(unit))
                continue;
            if (count++ == 0)
                first = decoded.offsets[i];
            if (!outside.contains(unit))
                outside.append(unit);
        }
        if (count > 0) {
            problems.warning(first,
                pick(problems.wording,
                    QStringLiteral("GB2312 帧中有 %1 个 GB2312 以外的 GBK 字符：%2（偏移 %3 起）"),
                    QStringLiteral("%1 GBK characters outside GB2312 in a GB2312 frame: %2 (from "
                                   "offset %3)"))
                    .arg(count)
                    .arg(quoteCharacters(outside))
                    .arg(first));
        }
    }
    out.text = std::move(decoded.text);
    out.tags = findTags(out.text);
}

QString hexByte(int value)
{
    return QString::number(value, 16).toUpper().rightJustified(2, u'0');
}

QString encodingRange(int value, Wording wording)
{
    return pick(wording, QStringLiteral("编码参数为 %1，应为 0–%2"),
        QStringLiteral("encoding parameter %1, should be 0–%2"))
        .arg(value)
        .arg(kMaxEncoding);
}

}   // namespace

bool DecodedFrame::hasErrors() const
{
    return std::any_of(problems.cbegin(), problems.cend(),
        [](const FrameProblem &p) { return p.severity == ProblemSeverity::Error; });
}

QString commandName(int command, Wording wording)
{
    switch (command) {
    case int(Command::Synthesize):
        return pick(wording, QStringLiteral("合成"), QStringLiteral("Synthesize"));
    case int(Command::Stop):
        return pick(wording, QStringLiteral("停止"), QStringLiteral("Stop"));
    case int(Command::Pause):
        return pick(wording, QStringLiteral("暂停"), QStringLiteral("Pause"));
    case int(Command::Resume):
        return pick(wording, QStringLiteral("恢复"), QStringLiteral("Resume"));
    case int(Command::StatusQuery):
        return pick(wording, QStringLiteral("查询"), QStringLiteral("Query"));
    case int(Command::Standby):
        return QStringLiteral("STANDBY");
    case int(Command::CacheStore):
        return pick(wording, QStringLiteral("缓存存储"), QStringLiteral("Cache store"));
    case int(Command::CachePlay):
        return pick(wording, QStringLiteral("缓存播放"), QStringLiteral("Cache play"));
    case int(Command::VersionQuery):
        return pick(wording, QStringLiteral("内部版本查询"), QStringLiteral("Version query"));
    case int(Command::WakeUp):
        return pick(wording, QStringLiteral("唤醒"), QStringLiteral("Wake up"));
    default:
        return {};
    }
}

QString encodingName(int encoding, Wording wording)
{
    static const QString names[] = {QStringLiteral("GB2312"), QStringLiteral("GBK"),
        QStringLiteral("BIG5"), QStringLiteral("Unicode小头"), QStringLiteral("Unicode大头")};
    static const QString englishNames[] = {QStringLiteral("GB2312"), QStringLiteral("GBK"),
        QStringLiteral("BIG5"), QStringLiteral("UTF-16LE"), QStringLiteral("UTF-16BE")};
    if (encoding < 0 || encoding > kMaxEncoding)
        return {};
    return wording == Wording::English ? englishNames[encoding] : names[encoding];
}

DecodedFrame decodeFrame(const QByteArray &frame, int storeEncoding, Wording wording)
{
    DecodedFrame out;
    Problems problems(out, wording);
    const auto say = [wording](QString chinese, QString english) {
        return pick(wording, std::move(chinese), std::move(english));
    };
    const int size = int(frame.size());
    if (size > 0 && quint8(frame.at(0)) != kFrameHead)
        problems.error(0, say(QStringLiteral("缺少帧头 FD"), QStringLiteral("no frame head FD")));
    if (size >= 3) {
        out.declaredLength = quint8(frame.at(1)) << 8 | quint8(frame.at(2));
        out.actualLength = size - 3;
        if (out.declaredLength != out.actualLength) {
            problems.error(1,
                say(QStringLiteral("长度字段为 %1，实际为 %2 字节"),
                    QStringLiteral("length field %1, actually %2 bytes"))
                    .arg(out.declaredLength)
                    .arg(out.actualLength));
        }
    }
    if (size < kMinFrameBytes) {
        problems.error(-1,
            say(QStringLiteral("帧太短：%1 字节，至少应有 %2 字节"),
                QStringLiteral("frame too short: %1 bytes, at least %2 needed"))
                .arg(size)
                .arg(kMinFrameBytes));
        return out;
    }

    out.command = quint8(frame.at(3));
    const QString name = commandName(out.command, wording);
    if (name.isEmpty()) {
        problems.error(3,
            say(QStringLiteral("未知命令 0x%1"), QStringLiteral("unknown command 0x%1"))
                .arg(hexByte(out.command)));
        return out;
    }
    const bool hasParameter = size > kMinFrameBytes;
    const int parameter = hasParameter ? quint8(frame.at(4)) : -1;
    switch (Command(out.command)) {
    case Command::Synthesize:
        if (!hasParameter) {
            problems.error(-1,
                say(QStringLiteral("合成命令缺少编码参数"),
                    QStringLiteral("synthesis command without its encoding parameter")));
        } else if (parameter > kMaxEncoding) {
            problems.error(4, encodingRange(parameter, wording));
        } else {
            out.encoding = parameter;
            decodeText(out, problems, frame, kFrameHeaderBytes, out.encoding);
        }
        break;
    case Command::CacheStore:
        if (!hasParameter) {
            problems.error(-1,
                say(QStringLiteral("缓存存储命令缺少区段参数"),
                    QStringLiteral("cache store command without its segment parameter")));
            break;
        }
        out.segment = parameter;
        if (parameter > kMaxSegment)
            problems.error(4,
                say(QStringLiteral("区段为 %1，应为 0–%2"),
                    QStringLiteral("segment %1, should be 0–%2"))
                    .arg(parameter)
                    .arg(kMaxSegment));
        out.encoding = storeEncoding >= 0 && storeEncoding <= kMaxEncoding ? storeEncoding
                                                                           : int(Encoding::Gbk);
        decodeText(out, problems, frame, kFrameHeaderBytes, out.encoding);
        break;
    case Command::CachePlay:
        if (!hasParameter) {
            problems.error(-1,
                say(QStringLiteral("缓存播放命令缺少参数"),
                    QStringLiteral("cache play command without its parameter")));
            break;
        }
        out.repeatCount = parameter >> 4;
        if (out.repeatCount == 0)
            problems.error(
                4, say(QStringLiteral("重播次数为 0"), QStringLiteral("repeat count 0")));
        if ((parameter & 0x0F) > kMaxEncoding)
            problems.error(4, encodingRange(parameter & 0x0F, wording));
        else
            out.encoding = parameter & 0x0F;
        if (size > kFrameHeaderBytes) {
            problems.error(kFrameHeaderBytes,
                say(QStringLiteral("缓存播放命令只带一个参数字节，多出 %1 字节"),
                    QStringLiteral("cache play command takes one parameter byte, %1 bytes too "
                                   "many"))
                    .arg(size - kFrameHeaderBytes));
        }
        break;
    default:
        if (hasParameter) {
            problems.error(4,
                say(QStringLiteral("%1命令不带参数，多出 %2 字节"),
                    QStringLiteral("%1 command takes no parameter, %2 bytes too many"))
                    .arg(name)
                    .arg(size - kMinFrameBytes));
        }
        break;
    }
    std::stable_sort(out.problems.begin(), out.problems.end(),
        [](const FrameProblem &a, const FrameProblem &b) { return a.severity < b.severity; });
    return out;
}

QString frameSummary(const DecodedFrame &frame, Wording wording)
{
    const auto say = [wording](QString chinese, QString english) {
        return pick(wording, std::move(chinese), std::move(english));
    };
    QString line;
    const QString name = commandName(frame.command, wording);
    if (frame.command < 0) {
        line = say(QStringLiteral("无效帧"), QStringLiteral("Invalid frame"));
    } else if (name.isEmpty()) {
        line = say(QStringLiteral("未知命令 0x%1"), QStringLiteral("Unknown command 0x%1"))
                   .arg(hexByte(frame.command));
    } else {
        line = name;
        if (frame.segment >= 0)
            line +=
                say(QStringLiteral(" 区段 %1"), QStringLiteral(" segment %1")).arg(frame.segment);
        if (frame.repeatCount >= 0)
            line += say(QStringLiteral(" %1 次"), QStringLiteral(" ×%1")).arg(frame.repeatCount);
        if (frame.encoding >= 0)
            line += u' ' + encodingName(frame.encoding, wording);
        if (frame.textOffset >= 0)
            line +=
                say(QStringLiteral(" %1 字节"), QStringLiteral(" %1 bytes")).arg(frame.textBytes);
    }
    if (!frame.text.isEmpty()) {
        QString shown;
        int characters = 0;
        qsizetype i = 0;
        for (; i < frame.text.size() && characters < kSummaryCharacters; ++i, ++characters) {
            const QChar c = frame.text.at(i);
            if (c == u'\r' && i + 1 < frame.text.size() && frame.text.at(i + 1) == u'\n') {
                shown += u'↵';
                ++i;
            } else if (c.isHighSurrogate() && i + 1 < frame.text.size()) {
                shown += c;
                shown += frame.text.at(++i);
            } else {
                shown += c.unicode() < 0x20 ? QChar(u'·') : c;
            }
        }
        line += say(QStringLiteral("："), QStringLiteral(": ")) + shown;
        if (i < frame.text.size())
            line += u'…';
    }
    if (!frame.problems.isEmpty()) {
        const FrameProblem &first = frame.problems.first();
        const bool error = first.severity == ProblemSeverity::Error;
        line += (error ? say(QStringLiteral("（错误："), QStringLiteral(" (error: "))
                       : say(QStringLiteral("（警告："), QStringLiteral(" (warning: ")))
            + first.message + say(QStringLiteral("）"), QStringLiteral(")"));
    }
    return wording == Wording::English ? singular(line) : line;
}

QJsonObject frameJson(const DecodedFrame &frame)
{
    QJsonObject json;
    if (frame.command >= 0) {
        json[QStringLiteral("command")] = frame.command;
        json[QStringLiteral("commandName")] = commandName(frame.command);
    }
    if (frame.encoding >= 0) {
        json[QStringLiteral("encoding")] = frame.encoding;
        json[QStringLiteral("encodingName")] = encodingName(frame.encoding);
    }
    if (frame.segment >= 0)
        json[QStringLiteral("segment")] = frame.segment;
    if (frame.repeatCount >= 0)
        json[QStringLiteral("repeatCount")] = frame.repeatCount;
    if (frame.declaredLength >= 0) {
        json[QStringLiteral("declaredLength")] = frame.declaredLength;
        json[QStringLiteral("actualLength")] = frame.actualLength;
    }
    if (frame.textOffset >= 0) {
        json[QStringLiteral("textBytes")] = frame.textBytes;
        json[QStringLiteral("text")] = frame.text;
        QJsonArray tags;
        for (const TagSpan &tag : frame.tags) {
            tags.append(QJsonObject {{QStringLiteral("tag"), frame.text.mid(tag.start, tag.length)},
                {QStringLiteral("start"), tag.start}, {QStringLiteral("length"), tag.length}});
        }
        json[QStringLiteral("tags")] = tags;
    }
    QJsonArray problems;
    for (const FrameProblem &problem : frame.problems) {
        QJsonObject entry {
            {QStringLiteral("severity"),
                problem.severity == ProblemSeverity::Error ? QStringLiteral("error")
                                                           : QStringLiteral("warning")},
            {QStringLiteral("message"), problem.message}};
        if (problem.offset >= 0)
            entry[QStringLiteral("offset")] = problem.offset;
        problems.append(entry);
    }
    json[QStringLiteral("problems")] = problems;
    return json;
}
