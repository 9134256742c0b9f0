#pragma once

#include "link.h"
#include "portresolver.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QList>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

// The serial-communications control of the window, on QSerialPort, and the serial link behind the
// send path. It offers what the window's handlers use (a port number, a settings text, open and
// close with an error on failure, a queued write, the link's received() on the window's thread),
// a plain open(path, baud) for the command line, and the link's rules: a frame over 2000 bytes
// goes to the port in two pieces, a text frame carries at most 4091 text bytes.
class MSComm : public Link
{
    Q_OBJECT
public:
    // Why the last open failed.
    enum class OpenError { None, NoSuchDevice, InUse, NoPermission, Other };

    explicit MSComm(const PortResolver *resolver, QObject *parent = nullptr);
    ~MSComm() override;

    // The port number (1-20) the next open uses; it selects the device through the resolver.
    void setCommPort(int number);
    // The same, with the device COMn stands for already looked up (path empty: none), and the
    // adapter found there, so that the adapter is known again when it comes back.
    void setCommPort(int number, const QString &path, std::optional<SerialDevice> adapter);
    // Opens a device by its path instead of a number (a device picked by name, or a typed path).
    // The adapter there is looked up when the port opens.
    void setCommPath(const QString &path);
    // The same, with the adapter found at path already looked up (none: no listed device).
    void setCommPath(const QString &path, std::optional<SerialDevice> adapter);
    // The device the next open uses; empty when COMn stands for no device.
    QString devicePath() const;

    // "9600,N,8,1" and the like; takes effect at once on an open port. False for a text that is
    // not a speed, parity, data bits and stop bits.
    QString Settings() const { return m_settings; }
    bool setSettings(const QString &settings);
    qint32 baudRate() const { return m_baudRate; }

    // Opens the device at path at baud, 8 data bits, no parity, one stop bit: the plain way in
    // for a program that names its device. False, with openError() and errorString(), when it
    // cannot; also for a speed that is not above 0.
    bool open(const QString &path, qint32 baud);

    bool PortOpen() const { return m_port.isOpen(); }
    // Opens or closes the port. An open that fails returns false and leaves the port closed;
    // openError() and errorString() say why.
    bool setPortOpen(bool open);
    OpenError openError() const { return m_openError; }

    // Kept for the window's start-up; the receive buffer never drops data, whatever its size.
    int InBufferSize() const { return m_inBufferSize; }
    void setInBufferSize(int size) { m_inBufferSize = size; }

    // Queues all bytes for the port and returns at once; nothing is written while the port is
    // closed. A write the port refuses, or bytes that do not drain in time, fault the port.
    void Output(const QByteArray &bytes);

    // The device was lost and is watched for: it opens again by itself when it comes back.
    bool awaitsReturn() const { return m_watching; }

    // Link
    bool isOpen() const override { return PortOpen(); }
    QString errorString() const override { return m_errorString; }
    int maxTextBytes() const override;
    qint64 wireTime(qint64 bytes) const override;
    void send(const QByteArray &frame) override;
    // Drops the frames not yet handed to the port; the one going out goes out whole, so the chip
    // never sees a frame cut short.
    void reset() override;

signals:
    // The device that was lost is back, provably the same adapter, and the port is open again.
    void reconnected();

private:
    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void handOver();
    void onError(QSerialPort::SerialPortError error);
    // How a fault leaves the device: gone (hung up), or still there (a stalled or failed write):
    // such a device is taken back only after it has gone and come again.
    enum class Lost { Gone, StillThere };
    void fault(const LinkFault &what, Lost lost);
    void watchForReturn(Lost lost);
    void stopWatching();
    QString returningPath() const;
    void noteAbsence();
    void tryReopen();
    // Forgets every frame not yet wholly with the device; what it drops, and how many of their
    // bytes never reached the device.
    struct Dropped
    {
        QList<QByteArray> frames;
        qint64 bytes = 0;
    };
    Dropped forgetQueued();
    void reportDropped(const Dropped &dropped);
    bool applySettings();
    void armDrainTimer();
    int bitsPerCharacter() const;

    // A frame handed to the port whose last byte has not yet gone to the device.
    struct QueuedFrame
    {
        qint64 end = 0;   // m_queuedBytes after the frame
        QByteArray frame;
        LinkTime due = 0;   // its last byte is on the wire by then at the line speed
    };

    const PortResolver *m_resolver;
    QSerialPort m_port;
    QTimer m_drainTimer;
    std::deque<QByteArray> m_waiting;   // frames not yet handed to the port
    std::deque<QueuedFrame> m_queued;   // handed to the port, last byte not yet to the device
    qint64 m_queuedBytes = 0;   // handed to the port since it opened
    qint64 m_writtenBytes = 0;   // gone to the device since it opened
    LinkTime m_wireFree = 0;   // the line is busy with earlier frames until then
    int m_commPort = 1;
    QString m_commPath;
    QString m_openPath;   // the device the port has (or last had) open
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint32 m_baudRate = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    int m_inBufferSize = 1024;
    OpenError m_openError = OpenError::None;
    QString m_errorString;
    std::optional<SerialDevice> m_adapter;   // what COMn stood for when it was looked up
    bool m_adapterKnown = false;   // m_adapter was looked up (by the caller, or at the open)
    bool m_noDevice = false;   // COMn was looked up and stands for no device

    // A device that was lost is watched for: its folder changing, and a slow timer besides.
    QFileSystemWatcher m_watcher;
    QTimer m_arrival;   // lets a burst of folder changes settle
    QTimer m_retry;   // the slow fallback, backing off
    QString m_lostPath;
    std::optional<SerialDevice> m_lostAdapter;
    bool m_watching = false;
    bool m_seenGone = false;   // the lost device has been missing since the fault
    QByteArray m_faultNode;   // the node whose write failed, while it has not been seen gone
    int m_retryMs = 0;
    LinkTime m_nextAttempt = 0;   // no attempt before this after one that failed
};

// Why an open failed, from what the system said: whether the device exists, Qt's error and the
// errno of an access(R_OK | W_OK) check on it (Qt reports a busy and a refused port alike).
MSComm::OpenError classifyOpenError(
    bool deviceExists, QSerialPort::SerialPortError error, int accessErrno);

// Words for the operator on why an open failed.
QString openErrorText(MSComm::OpenError error);
