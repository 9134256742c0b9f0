#pragma once

#include "link.h"

#include <QList>

// A link the test drives by hand: it keeps what is sent and delivers what the test says arrived.
class FakeLink : public Link
{
    Q_OBJECT
public:
    explicit FakeLink(int maxTextBytes = 4091, qint32 baud = 9600)
        : m_maxTextBytes(maxTextBytes)
        , m_baud(baud)
    { }

    bool isOpen() const override { return m_open; }
    QString errorString() const override { return {}; }
    int maxTextBytes() const override { return m_maxTextBytes; }
    qint64 wireTime(qint64 bytes) const override
    {
        return m_baud > 0 ? bytes * 10 * 1000000 / m_baud : 0;
    }
    void send(const QByteArray &frame) override
    {
        if (m_open)
            sent.append(frame);
    }
    void reset() override { ++resets; }

    // The device delivers bytes now.
    void arrive(const QByteArray &bytes, LinkTime at = linkNow()) { emit received(bytes, at); }
    void setOpen(bool open) { m_open = open; }

    QList<QByteArray> sent;
    int resets = 0;

private:
    int m_maxTextBytes;
    qint32 m_baud;
    bool m_open = true;
};
