#pragma once

#include "boardoptions.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class QThread;

// The virtual chip board on a pseudo-terminal: whatever opens slavePath() talks to the chip as
// to a board on a serial port (a pty has no line speed, so every baud rate works).
//
// Use on a worker thread (speech synthesis takes CPU time and must not run on a window's
// thread):
//
//     auto *board = new VirtualSerialBoard(options);       // any thread
//     if (!board->open())                                   // creates the pty, at once
//         report(board->errorString());                     //   (then delete board)
//     const QString path = board->slavePath();              // e.g. "/dev/pts/7": map COM1 to it
//     auto *thread = new QThread;
//     board->moveToThread(thread);
//     QObject::connect(thread, &QThread::started, board, &VirtualSerialBoard::start);
//     QObject::connect(thread, &QThread::finished, board, &QObject::deleteLater);
//     thread->start();
//     ...
//     thread->quit(); thread->wait(); delete thread;       // at shutdown
//
// VirtualBoardRunner below does exactly this. The slave side is held open by the board, so the
// port may be opened and closed any number of times.
class VirtualSerialBoard : public QObject
{
    Q_OBJECT
public:
    explicit VirtualSerialBoard(const BoardOptions &options = {}, QObject *parent = nullptr);
    ~VirtualSerialBoard() override;

    // Opens the pty pair (raw, non-blocking master); false with errorString() on failure.
    bool open();
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }
    // Sound or WAV trouble found by start(); empty when none.
    QString warning() const { return m_warning; }

public slots:
    // Starts serving on the calling thread (the board's thread): the chip powers up and
    // answers 0x4A after BoardOptions::powerUpDelayMs.
    void start();

signals:
    // The pty failed while serving (the board stops answering).
    void failed(const QString &reason);

private:
    void readMaster();
    void deliverFromLine();
    void writePending();
    void send(const QByteArray &bytes);

    BoardOptions m_options;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    QString m_warning;
    QByteArray m_pending;   // answers the pty could not take yet (bounded; the rest is lost)
    QByteArray m_onLine;   // bytes read from the pty that the line has not carried (4096 at most)
    qint64 m_lineStartMs = 0;   // when the first byte of m_onLine started on the line
    qint64 m_lineCarried = 0;   // bytes of m_onLine the line has carried so far
    bool m_lineFull = false;   // reading waits until the line has carried some of m_onLine
    QTimer *m_lineTimer = nullptr;   // runs only while bytes are on the line
    QElapsedTimer m_clock;
    ChipModel *m_chip = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
};

// Runs a VirtualSerialBoard on a thread of its own, as the window's --virtual needs.
class VirtualBoardRunner
{
public:
    explicit VirtualBoardRunner(const BoardOptions &options = {});
    // Stops the board and joins its thread.
    ~VirtualBoardRunner();
    VirtualBoardRunner(const VirtualBoardRunner &) = delete;
    VirtualBoardRunner &operator=(const VirtualBoardRunner &) = delete;

    // Opens the pty and starts the thread; false with errorString() when the pty cannot be made.
    bool start();
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }
    // The board itself, for connecting to failed(); lives on the board's thread.
    VirtualSerialBoard *board() const { return m_board; }

private:
    BoardOptions m_options;
    VirtualSerialBoard *m_board = nullptr;
    QThread *m_thread = nullptr;
    QString m_slavePath;
    QString m_error;
};
