#pragma once

#include "link.h"

#include <QByteArray>
#include <QList>

// A line the program only listens to (a capture, a tap on the wire): nothing is ever sent on
// it. It stands for the line in the transaction model, which pairs what the microcontroller
// sent with what the chip answered; frames count as written when their last byte was seen.
class ListeningLink final : public Link
{
    Q_OBJECT
public:
    explicit ListeningLink(int maxTextBytes, QObject *parent = nullptr)
        : Link(parent)
        , m_maxTextBytes(maxTextBytes)
    { }
    bool isOpen() const override { return true; }
    QString errorString() const override { return {}; }
    int maxTextBytes() const override { return m_maxTextBytes; }
    qint64 wireTime(qint64) const override { return 0; }
    void send(const QByteArray &) override { }   // listening only
    void reset() override { }

private:
    int m_maxTextBytes;
};

// Cuts the bytes of the microcontroller's line into frames as the chip reads them: a frame
// starts with 0xFD and runs for the bytes its length field counts. Bytes before a 0xFD belong
// to no frame. A length field over 4093 (a frame over 4096 bytes) is refused at once, and what
// follows it is read afresh. A frame still short of its length when a 0xFD follows a pause
// longer than the gap allowed, or when the input ends, is cut off.
class FrameScanner
{
public:
    static constexpr int kMaxLengthField = 4093;

    struct Item
    {
        enum class Kind {
            Frame,   // bytes holds a whole frame (its length field as counted)
            CutFrame,   // a frame that stopped short of its length field
            Oversized,   // a header whose length field is over 4093
            Stray,   // bytes outside any frame
        };
        Kind kind = Kind::Frame;
        QByteArray bytes;
        qint64 offset = 0;   // of the first byte in the whole input
        LinkTime first = 0;   // arrival of the first byte
        LinkTime last = 0;   // arrival of the last byte
        qint64 longestGapUs = 0;   // longest pause between two bytes of a frame
        qint64 gapOffset = -1;   // offset of the byte that ended that pause
        LinkTime gapEnd = 0;
    };

    // maxGapUs: pauses inside a frame longer than this are noted; 0 takes no times into account.
    explicit FrameScanner(qint64 maxGapUs = 0)
        : m_maxGapUs(maxGapUs)
    { }

    // Feeds bytes that arrived at the given time; returns what they complete.
    QList<Item> feed(const QByteArray &bytes, LinkTime arrival);
    // Bytes outside any frame since the last frame or the last call, as one item (none when
    // there are none); they are otherwise handed out when the next frame starts.
    QList<Item> takeStray();
    // Ends the input: a frame under way is cut off.
    QList<Item> finish();
    // Whether a frame is under way and when its last byte arrived.
    bool inFrame() const { return m_inFrame; }
    LinkTime lastArrival() const { return m_lastArrival; }
    qint64 offset() const { return m_offset; }

private:
    void flushStray(QList<Item> &out);
    void endFrame(QList<Item> &out, Item::Kind kind);

    qint64 m_maxGapUs;
    qint64 m_offset = 0;   // bytes seen so far
    bool m_inFrame = false;
    Item m_current;
    Item m_stray;
    LinkTime m_lastArrival = 0;
};

// "250", "250ms", "1.5s": milliseconds (a bare number is milliseconds).
double millisecondsOf(const QString &text, bool *ok);
