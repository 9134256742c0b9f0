#include "internaltestrunner.h"

TimerStepClock::TimerStepClock()
{
    m_timer.setObjectName(QStringLiteral("InternalTestStep"));
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        auto done = std::exchange(m_done, nullptr);
        if (done)
            done();
    });
}

void TimerStepClock::startWait(int milliseconds, std::function<void()> done)
{
    m_done = std::move(done);
    m_timer.start(milliseconds);
}

void TimerStepClock::cancelWait()
{
    m_timer.stop();
    m_done = nullptr;
}

InternalTestRunner::InternalTestRunner(QObject *parent)
    : InternalTestRunner(nullptr, parent)
{ }

InternalTestRunner::InternalTestRunner(std::unique_ptr<StepClock> clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? std::move(clock) : std::make_unique<TimerStepClock>())
    , m_script(internalTestScript())
{ }

InternalTestRunner::~InternalTestRunner()
{
    m_clock->cancelWait();
}

void InternalTestRunner::setMaxTextBytesSource(std::function<int()> source)
{
    m_maxTextBytes = std::move(source);
}

bool InternalTestRunner::start()
{
    if (m_running)
        return false;
    m_running = true;
    ++m_generation;
    m_next = 0;
    emit runningChanged(true);
    runUntilWait();
    return true;
}

void InternalTestRunner::stop()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_generation;
    m_clock->cancelWait();
    emit runningChanged(false);
}

void InternalTestRunner::runUntilWait()
{
    // Every pass holds waits, so this loop always returns to the event loop within one pass.
    const quint64 generation = m_generation;
    auto stillCurrent = [this, generation] { return m_running && m_generation == generation; };
    while (stillCurrent()) {
        const ScriptStep &step = m_script.at(m_next);
        m_next = (m_next + 1) % m_script.size();
        switch (step.kind) {
        case ScriptStep::Kind::SendFrame:
            emit sendFrameValues(frameValues(step.frame));
            break;
        case ScriptStep::Kind::LoadDemoText:
            emit loadDemoTextRequested();
            break;
        case ScriptStep::Kind::Synthesize:
            emit synthesizeRequested();
            break;
        case ScriptStep::Kind::Wait:
            waitThenContinue(step.milliseconds);
            return;
        case ScriptStep::Kind::FinalWait: {
            const int ms = finalWaitMilliseconds(m_maxTextBytes ? m_maxTextBytes() : 0);
            if (ms > 0) {
                waitThenContinue(ms);
                return;
            }
            break;   // neither link's limit: the next pass follows at once
        }
        }
    }
}

void InternalTestRunner::waitThenContinue(int milliseconds)
{
    const quint64 generation = m_generation;
    m_clock->startWait(milliseconds, [this, generation] {
        if (m_running && m_generation == generation)
            runUntilWait();
    });
}

QVariantList frameValues(const QByteArray &frame)
{
    QVariantList values;
    values.reserve(frame.size());
    for (const char byte : frame)
        values.append(int(quint8(byte)));
    return values;
}
