#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// A transport to the chip board. Sends never block; faults are reported once through failed().
class Link : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isOpen() const = 0;
    // Queues the bytes and returns at once.
    virtual void send(const QByteArray &frame) = 0;
    virtual QString errorString() const = 0;
signals:
    void received(const QByteArray &bytes);
    void failed(const QString &reason);
};
