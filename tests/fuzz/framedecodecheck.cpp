#include "framedecodecheck.h"

#include "framedecoder.h"

#include <QJsonDocument>
#include <QStringEncoder>

namespace {

QString checkOne(const QByteArray &bytes, int storeEncoding)
{
    const DecodedFrame frame = decodeFrame(bytes, storeEncoding);
    const int size = int(bytes.size());
    if (size < 3 ? frame.declaredLength != -1
                 : frame.declaredLength != (quint8(bytes[1]) << 8 | quint8(bytes[2]))
                || frame.actualLength != size - 3)
        return QStringLiteral("length %1 / %2 for %3 bytes")
            .arg(frame.declaredLength)
            .arg(frame.actualLength)
            .arg(size);
    if (frame.command != (size >= 4 ? quint8(bytes[3]) : -1))
        return QStringLiteral("command %1").arg(frame.command);

    bool warningSeen = false;
    for (const FrameProblem &problem : frame.problems) {
        if (problem.offset < -1 || problem.offset >= qMax(size, 1) || problem.message.isEmpty())
            return QStringLiteral("problem at %1: \"%2\"").arg(problem.offset).arg(problem.message);
        warningSeen = warningSeen || problem.severity == ProblemSeverity::Warning;
        if (warningSeen && problem.severity == ProblemSeverity::Error)
            return QStringLiteral("an error after a warning");
    }
    const bool firstIsError =
        !frame.problems.isEmpty() && frame.problems.first().severity == ProblemSeverity::Error;
    if (frame.hasErrors() != firstIsError)
        return QStringLiteral("hasErrors disagrees with the problems");

    if (frame.textOffset >= 0) {
        if (frame.textOffset != 5 || frame.textBytes != size - 5)
            return QStringLiteral("text at %1, %2 bytes")
                .arg(frame.textOffset)
                .arg(frame.textBytes);
        int end = 0;
        for (const TagSpan &tag : frame.tags) {
            if (tag.start < end || tag.length < 3 || tag.start + tag.length > frame.text.size()
                || frame.text.at(tag.start) != u'['
                || frame.text.at(tag.start + tag.length - 1) != u']')
                return QStringLiteral("tag span %1+%2").arg(tag.start).arg(tag.length);
            end = tag.start + tag.length;
        }
        if (!frame.hasErrors() && (frame.encoding == 3 || frame.encoding == 4)) {
            QStringEncoder utf16(
                frame.encoding == 3 ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
            if (QByteArray(utf16(frame.text)) != bytes.mid(5))
                return QStringLiteral("UTF-16 text without errors does not give its bytes back");
        } else if (!frame.hasErrors() && frame.text.contains(QChar::ReplacementCharacter)) {
            return QStringLiteral("a replacement character without an error");
        }
    } else if (!frame.text.isEmpty() || !frame.tags.isEmpty()) {
        return QStringLiteral("text without a text offset");
    }

    const QString summary = frameSummary(frame);
    const QString name = commandName(frame.command);
    if (summary.isEmpty() || summary.contains(u'\n')
        || (!name.isEmpty() && !summary.startsWith(name)))
        return QStringLiteral("summary \"%1\"").arg(summary);
    const QJsonDocument json(frameJson(frame));
    if (QJsonDocument::fromJson(json.toJson()) != json)
        return QStringLiteral("JSON does not read back");
    return {};
}

}   // namespace

QString checkFrameDecode(const QByteArray &bytes)
{
    // The cache-store text in the window's default encoding, and in one that pairs its bytes.
    for (const int storeEncoding : {1, 4}) {
        const QString fault = checkOne(bytes, storeEncoding);
        if (!fault.isEmpty())
            return fault;
    }
    return {};
}
