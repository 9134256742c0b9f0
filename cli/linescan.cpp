#include "linescan.h"

#include "frame.h"

#include <QLocale>

void FrameScanner::flushStray(QList<Item> &out)
{
    if (m_stray.bytes.isEmpty())
        return;
    m_stray.kind = Item::Kind::Stray;
    out << m_stray;
    m_stray = {};
}

void FrameScanner::endFrame(QList<Item> &out, Item::Kind kind)
{
    m_current.kind = kind;
    out << m_current;
    m_current = {};
    m_inFrame = false;
}

QList<FrameScanner::Item> FrameScanner::feed(const QByteArray &bytes, LinkTime arrival)
{
    QList<Item> out;
    for (const char byte : bytes) {
        const qint64 gap = m_offset > 0 ? arrival - m_lastArrival : 0;
        if (m_inFrame && m_maxGapUs > 0 && gap > m_maxGapUs && quint8(byte) == kFrameHead)
            endFrame(out, Item::Kind::CutFrame);   // the sender gave up on it and starts anew
        if (m_inFrame) {
            if (gap > m_current.longestGapUs) {
                m_current.longestGapUs = gap;
                m_current.gapOffset = m_offset;
                m_current.gapEnd = arrival;
            }
            m_current.bytes += byte;
            m_current.last = arrival;
            if (m_current.bytes.size() >= 3) {
                const int length =
                    (quint8(m_current.bytes.at(1)) << 8) | quint8(m_current.bytes.at(2));
                if (length > kMaxLengthField)
                    endFrame(out, Item::Kind::Oversized);
                else if (m_current.bytes.size() == length + 3)
                    endFrame(out, Item::Kind::Frame);
            }
        } else if (quint8(byte) == kFrameHead) {
            flushStray(out);
            m_inFrame = true;
            m_current = {};
            m_current.offset = m_offset;
            m_current.first = m_current.last = arrival;
            m_current.bytes += byte;
        } else {
            if (m_stray.bytes.isEmpty()) {
                m_stray.offset = m_offset;
                m_stray.first = arrival;
            }
            m_stray.bytes += byte;
            m_stray.last = arrival;
        }
        m_lastArrival = arrival;
        ++m_offset;
    }
    return out;
}

QList<FrameScanner::Item> FrameScanner::takeStray()
{
    QList<Item> out;
    flushStray(out);
    return out;
}

QList<FrameScanner::Item> FrameScanner::finish()
{
    QList<Item> out;
    if (m_inFrame)
        endFrame(out, Item::Kind::CutFrame);
    flushStray(out);
    return out;
}

double millisecondsOf(const QString &text, bool *ok)
{
    QString number = text.trimmed();
    double unit = 1.0;
    if (number.endsWith(QLatin1String("ms"))) {
        number.chop(2);
    } else if (number.endsWith(u's')) {
        number.chop(1);
        unit = 1000.0;
    }
    return QLocale::c().toDouble(number, ok) * unit;
}
