#pragma once

#include "portresolver.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringDecoder>

// The serial-communications control of the window, on QSerialPort. It offers what the window's
// handlers use: a port number, a settings text, open and close with an error on failure, a queued
// write, a receive event on the window's thread and a read of everything received as text.
class MSComm : public QObject
{
    Q_OBJECT
public:
    // Why the last open failed.
    enum class OpenError { None, NoSuchDevice, InUse, NoPermission, Other };
    // Event codes of CommEvent.
    static constexpr int kEventReceive = 2;
    static constexpr int kEventBreak = 1001;
    static constexpr int kEventDeviceLost = 1006;

    explicit MSComm(const PortResolver *resolver, QObject *parent = nullptr);
    ~MSComm() override;

    // The port number (1-20) the next open uses; it selects the device through the resolver.
    int CommPort() const { return m_commPort; }
    void setCommPort(int number);
    // Opens a device by its path instead of a number (a device picked by name, or a typed path).
    void setCommPath(const QString &path);
    // The device the next open uses; empty when COMn stands for no device.
    QString devicePath() const;

    // "9600,N,8,1" and the like; takes effect at once on an open port. False for a text that is
    // not a speed, parity, data bits and stop bits.
    QString Settings() const { return m_settings; }
    bool setSettings(const QString &settings);
    qint32 baudRate() const { return m_baudRate; }

    bool PortOpen() const { return m_port.isOpen(); }
    // Opens or closes the port. An open that fails returns false and leaves the port closed;
    // openError() and errorString() say why.
    bool setPortOpen(bool open);
    OpenError openError() const { return m_openError; }
    QString errorString() const { return m_errorString; }

    // Kept for the window's start-up; the receive buffer never drops data, whatever its size.
    int InBufferSize() const { return m_inBufferSize; }
    void setInBufferSize(int size) { m_inBufferSize = size; }

    // Queues all bytes for the port and returns at once; nothing is written while the port is
    // closed.
    void Output(const QByteArray &bytes);
    // Everything received since the last read, as GBK text; reading empties the buffer.
    QString Input();
    // Bytes waiting to be read.
    qint64 bytesWaiting() const;

    // The reason for the current OnComm.
    int CommEvent() const { return m_commEvent; }

signals:
    // Raised on the window's thread when data arrives, and when the device is lost.
    void OnComm();
    // The open port failed (adapter pulled out); the port is closed. Raised once per fault.
    void failed(const QString &reason);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    bool applySettings();

    const PortResolver *m_resolver;
    QSerialPort m_port;
    QStringDecoder m_decoder;
    int m_commPort = 1;
    QString m_commPath;
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint32 m_baudRate = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    int m_inBufferSize = 1024;
    int m_commEvent = 0;
    OpenError m_openError = OpenError::None;
    QString m_errorString;
};

// Words for the operator on why an open failed.
QString openErrorText(MSComm::OpenError error);
