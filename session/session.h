#pragma once

#include "codes.h"
#include "codetable.h"
#include "codetablecache.h"
#include "link.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QTimer>

#include <memory>

class LogSink;

// How the answers arriving on a link are read into the work log.
enum class AnswerRule {
    // The serial side: a short pause after the first character, then everything received is read
    // as one GBK text; its first two characters are looked up ("S" takes the whole text as the
    // version answer). Nothing is read while interpretation is off: the bytes wait.
    SerialCharacters,
    // The USB side: byte 1 of each input report is the code; 0x5E gives no line.
    UsbReports,
};

// A synthesis or cache-store frame built from a selection of the send box.
struct TextFrame
{
    int keepChars = 0;   // the selection is cut to this many widget characters
    int byteCount = 0;   // text bytes of the kept part
    bool cut = false;   // the selection was longer than one frame carries
    CodeTable::LoadStatus table = CodeTable::LoadStatus::Loaded;   // for encodings 2-4
    QString tableError;   // why the table could not be used
    QByteArray frame;   // empty: nothing to send
};

// The conversation with the chip, below any window: frames built from text through the one text
// pipeline, logged through a sink and handed to the current link; answers from every attached
// link read into log entries. The window and the command line are front ends on it.
class Session : public QObject
{
    Q_OBJECT
public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    void setLogSink(LogSink *sink) { m_sink = sink; }

    // Answers from every attached link reach the log; frames go to the current one only.
    void attachLink(Link *link, AnswerRule rule);
    void setCurrentLink(Link *link);
    Link *currentLink() const { return m_current; }
    // Text bytes one frame may carry over the current link.
    int maxTextBytes() const;

    // "" or "0x", put before every byte of a sent-frame entry and every serial answer label.
    void setHexPrefix(const QString &prefix) { m_hexPrefix = prefix; }
    QString hexPrefix() const { return m_hexPrefix; }
    // Whether serial answers are read at all.
    void setInterpretSerialAnswers(bool on) { m_interpretSerial = on; }
    bool interpretsSerialAnswers() const { return m_interpretSerial; }

    // The code table file for BIG5 and UTF-16; empty: beside the program, else the package's
    // data folder. It is read again only when the file changed.
    void setCodeTablePath(const QString &path) { m_tablePath = path; }
    QString codeTablePath() const;
    CodeTable::Load codeTable() const;

    // The frame a selection of the send box makes: cut to fit the current link, encoded, and
    // put behind command and parameter (the encoding for synthesis, the segment for cache store).
    TextFrame textFrame(
        QStringView selection, Command command, quint8 parameter, int encodingIndex) const;

    // Logs the frame (every byte) and hands it to the current link.
    void send(const QByteArray &frame);
    // Appends a line of the session's own to the log (CR LF added).
    void log(const QString &line);
    // Reads the serial bytes that arrived so far into the log now rather than after the answer
    // pause, with the lines that pause would give them; for a front end that knows from the raw
    // bytes that the answers it waits for are in. Bytes arriving later start a read of their own.
    // Nothing is read while interpretation is off. Safe to call from bytesReceived.
    void readArrivedAnswers();

signals:
    // A frame was logged and handed to link at the given time.
    void frameSent(const QByteArray &frame, Link *link, LinkTime at);
    void frameWritten(Link *link, const FrameWritten &written);
    // Frames logged as sent that link dropped before they left whole.
    void framesDropped(Link *link, const QList<QByteArray> &frames, qint64 bytesNotSent);
    // Raw bytes from a link, as they arrived.
    void bytesReceived(Link *link, const QByteArray &bytes, LinkTime arrival);
    // The serial idle answer 0x4F was read into the log.
    void idleAnswerRead();
    // The USB board's 0x5E that no report of the link waited for: its status, ready for more.
    void reportAccepted();
    // A USB answer with a work-log line was read (any code but 0x5E).
    void usbAnswerRead(quint8 code);

private:
    struct Attached;
    void onReceived(Attached &attached, const QByteArray &bytes, LinkTime arrival);
    void readSerialAnswers(Attached &attached);
    void readUsbReport(const QByteArray &report);
    void append(const QString &entry);

    LogSink *m_sink = nullptr;
    QList<std::shared_ptr<Attached>> m_links;
    Link *m_current = nullptr;
    QString m_hexPrefix;
    bool m_interpretSerial = true;
    QString m_tablePath;
    mutable CodeTableCache m_tables;
};
