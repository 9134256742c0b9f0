#pragma once

#include "internaltest.h"

#include <QObject>
#include <QTimer>
#include <QVariantList>

#include <functional>
#include <memory>

// The runner's waits: one pending wait at a time that ends by calling back. Tests replace it
// to run the script wait by wait without real time passing.
class StepClock
{
public:
    virtual ~StepClock() = default;
    // Calls done once, milliseconds from now, unless cancelWait() comes first.
    virtual void startWait(int milliseconds, std::function<void()> done) = 0;
    virtual void cancelWait() = 0;
};

// Waits on a single-shot QTimer of the calling thread's event loop.
class TimerStepClock : public StepClock
{
public:
    TimerStepClock();
    void startWait(int milliseconds, std::function<void()> done) override;
    void cancelWait() override;

private:
    QTimer m_timer;
    std::function<void()> m_done;
};

// Plays the internal test script, pass after pass, until stopped. Steps between two waits run
// at once; a wait returns to the event loop, so the window stays responsive throughout.
class InternalTestRunner : public QObject
{
    Q_OBJECT
public:
    explicit InternalTestRunner(QObject *parent = nullptr);
    // Takes over clock (a fake in tests); the QTimer clock when null.
    explicit InternalTestRunner(std::unique_ptr<StepClock> clock, QObject *parent = nullptr);
    ~InternalTestRunner() override;

    // Asked for MaxTextBytes at each pass's final wait; without it the pass ends without one.
    void setMaxTextBytesSource(std::function<int()> source);
    bool isRunning() const { return m_running; }
    // Starts at phase 1; refused (false, nothing sent) while the script runs.
    bool start();
    // Ends the script at once, also in the middle of a wait; nothing more is sent.
    void stop();

signals:
    // A script frame as byte values, for the public send operation SendFrameData.
    void sendFrameValues(const QVariantList &values);
    void loadDemoTextRequested();
    void synthesizeRequested();
    void runningChanged(bool running);

private:
    void runUntilWait();
    void waitThenContinue(int milliseconds);

    std::unique_ptr<StepClock> m_clock;
    std::function<int()> m_maxTextBytes;
    const QList<ScriptStep> m_script;
    qsizetype m_next = 0;
    quint64 m_generation = 0;   // a start or stop inside a signal ends the older run
    bool m_running = false;
};

// Byte values of a frame, as the public send operation takes them.
QVariantList frameValues(const QByteArray &frame);
