#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>

// The far end of a pseudo-terminal pair, standing in for the chip board: the program opens
// slavePath() as its serial port; the peer reads what the program sends and writes answers.
class PtyPeer : public QObject
{
    Q_OBJECT
public:
    explicit PtyPeer(QObject *parent = nullptr);
    ~PtyPeer() override;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Everything received from the program so far.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // Writes bytes towards the program.
    void answer(const QByteArray &bytes);
    // Stops or resumes taking bytes off the line, as a board that hangs does.
    void setReading(bool reading);
    // Closes both ends, as a pulled-out adapter does.
    void unplug();

signals:
    void bytesReceived();

private:
    void readMaster();

    int m_master = -1;
    int m_slaveKeeper = -1;   // keeps the slave side alive while the program has it closed
    QString m_slavePath;
    QByteArray m_received;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
