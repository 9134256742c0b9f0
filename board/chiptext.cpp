#include "chiptext.h"

#include <QStringDecoder>

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Highest number of each "sound" group: 101-124, 201-219, 301-319, 401-408, 501-507, 601-602,
// 701-719.
int lastSoundOfGroup(int group)
{
    static constexpr int kLast[] = {0, 24, 19, 19, 8, 7, 2, 19};
    return group >= 1 && group <= 7 ? kLast[group] : 0;
}

// Applies one tag body (between the brackets); false when the chip does not know it, so the
// brackets stay in the text.
bool applyTag(const QString &body, VoiceSettings *s)
{
    if (body == u"d") {
        *s = VoiceSettings {};
        return true;
    }
    if (body.size() < 2)
        return false;
    const QChar letter = body.at(0);
    const QString argument = body.mid(1);
    if (letter == u'=') {
        // Forced pinyin of the character before: letters then a tone digit; not applied here.
        return argument.size() >= 2 && isAsciiDigit(argument.back());
    }
    bool ok = false;
    const int value = argument.toInt(&ok);
    for (QChar c : argument) {
        if (!isAsciiDigit(c))
            return false;
    }
    if (!ok)
        return false;
    const auto inRange = [&](int low, int high) { return value >= low && value <= high; };
    switch (letter.unicode()) {
    case 'v':
        if (inRange(0, 10))
            s->volume = value;
        return true;
    case 's':
        if (inRange(0, 10))
            s->rate = value;
        return true;
    case 't':
        if (inRange(0, 10))
            s->intonation = value;
        return true;
    case 'm':
        if (value == 3 || inRange(51, 55))
            s->voice = value;
        return true;
    case 'f':
        if (inRange(0, 1))
            s->style = value;
        return true;
    case 'x':
        if (inRange(0, 1))
            s->promptSounds = value == 1;
        return true;
    case 'b':
        if (inRange(0, 1))
            s->readPunctuation = value == 1;
        return true;
    case 'z':
        if (inRange(0, 1))
            s->markedProsody = value == 1;
        return true;
    case 'i':
    case 'n':
    case 'r':
    case 'y':
        // Reading rules of the chip's own front end: accepted, not modelled.
        return true;
    default:
        return false;
    }
}

}   // namespace

std::optional<QString> decodeChipText(quint8 encoding, const QByteArray &text)
{
    switch (encoding) {
    case 0:
    case 1: {
        // GB2312 is a subset of code page 936.
        QStringDecoder decoder("windows-936");
        return QString(decoder.decode(text));
    }
    case 2: {
        QStringDecoder decoder("windows-950");
        return QString(decoder.decode(text));
    }
    case 3:
    case 4: {
        QStringDecoder decoder(
            encoding == 3 ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return QString(decoder.decode(text.left(text.size() & ~qsizetype(1))));
    }
    default:
        return std::nullopt;
    }
}

int promptSoundNameAt(const QString &text, qsizetype position)
{
    if (position > 0
        && (isAsciiLetter(text.at(position - 1)) || isAsciiDigit(text.at(position - 1))))
        return 0;
    const QStringView rest = QStringView(text).mid(position);
    const auto endsWord = [&](qsizetype length) {
        return rest.size() == length
            || (!isAsciiLetter(rest.at(length)) && !isAsciiDigit(rest.at(length)));
    };
    if (rest.startsWith(u"msg") && rest.size() >= 4 && rest.at(3) >= u'a' && rest.at(3) <= u'n'
        && endsWord(4))
        return 4;
    if (!rest.startsWith(u"sound") || rest.size() < 6)
        return 0;
    const QChar first = rest.at(5);
    if (first >= u'a' && first <= u'y' && first != u's' && endsWord(6))
        return 6;
    if (rest.size() >= 8 && isAsciiDigit(first) && isAsciiDigit(rest.at(6))
        && isAsciiDigit(rest.at(7)) && endsWord(8)) {
        const int group = first.digitValue();
        const int number = rest.at(6).digitValue() * 10 + rest.at(7).digitValue();
        if (number >= 1 && number <= lastSoundOfGroup(group))
            return 8;
    }
    return 0;
}

QList<SpeechPiece> parseChipText(const QString &text, VoiceSettings *settings)
{
    QList<SpeechPiece> pieces;
    QString words;
    const auto flushWords = [&] {
        if (!words.trimmed().isEmpty())
            pieces.append({SpeechPiece::Kind::Speech, words, *settings, 0});
        words.clear();
    };

    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == u'[') {
            const qsizetype close = text.indexOf(u']', i + 1);
            const QString body = close > 0 ? text.mid(i + 1, close - i - 1) : QString();
            if (close > 0 && body.size() <= 12) {
                if (body.size() >= 2 && body.at(0) == u'p') {
                    bool ok = false;
                    const qlonglong ms = body.mid(1).toLongLong(&ok);
                    if (ok && ms >= 0) {
                        flushWords();
                        pieces.append({SpeechPiece::Kind::Silence, {}, *settings,
                            int(qMin<qlonglong>(ms, kMaxPauseMs))});
                        i = close + 1;
                        continue;
                    }
                }
                const VoiceSettings before = *settings;
                VoiceSettings after = before;
                if (applyTag(body, &after)) {
                    if (!(after == before)) {
                        flushWords();
                        *settings = after;
                    }
                    i = close + 1;
                    continue;
                }
            }
        }
        if (settings->promptSounds) {
            if (const int length = promptSoundNameAt(text, i)) {
                flushWords();
                pieces.append({SpeechPiece::Kind::PromptSound, text.mid(i, length), *settings, 0});
                i += length;
                continue;
            }
        }
        if (c == u'#' && settings->markedProsody)
            words += u' ';
        else
            words += c;
        ++i;
    }
    flushWords();
    return pieces;
}
