// Test tools: continuous replay and the internal test.
#include "Form1.h"
#include "ui_Form1.h"

#include "hidlink.h"
#include "internaltestrunner.h"
#include "messages.h"
#include "mscomm.h"
#include "replay.h"
#include "session.h"
#include "timingpanel.h"

#include <QStatusBar>
#include <QTimer>

static const char *const kInternalTestCaption = QT_TRANSLATE_NOOP("Form1", "内部测试");
static const char *const kInternalTestRunningCaption = QT_TRANSLATE_NOOP("Form1", "停止内部测试");

void Form1::setupTools()
{
    m_replayAckBound = new QTimer(this);
    m_replayAckBound->setSingleShot(true);
    connect(m_replayAckBound, &QTimer::timeout, this, [this] {
        replayStopped(tr("内部连续播放已停止：%1 毫秒内没有收到 USB 板的接收回传（0xAA/0xAB/0xAC）")
                          .arg(m_usb->ackTimeout()));
    });
    m_replayResumeBound = new QTimer(this);
    m_replayResumeBound->setSingleShot(true);
    connect(m_session.get(), &Session::bytesReceived, m_replayResumeBound, [this](Link *link) {
        if (link == MSComm1)
            m_replayResumeBound->stop();   // the chip answered; its 0x4F goes on
    });
    connect(m_replayResumeBound, &QTimer::timeout, this, [this] {
        // This note tells of the query's silence too: the no-answer note, due at about the same
        // time and later when the machine is busy, would take its place in the status bar.
        m_session->cancelNoAnswer();
        replayStopped(tr("内部连续播放已停止：串口重新连接后芯片 1 秒内没有应答"));
    });
    m_internalTest = new InternalTestRunner(this);
    m_internalTest->setMaxTextBytesSource([this] { return maxTextBytes(); });
    connect(m_internalTest, &InternalTestRunner::sendFrameValues, this, &Form1::SendFrameData);
    connect(
        m_internalTest, &InternalTestRunner::loadDemoTextRequested, this, &Form1::Command31_Click);
    connect(m_internalTest, &InternalTestRunner::synthesizeRequested, this, &Form1::Command6_Click);
    connect(m_internalTest, &InternalTestRunner::runningChanged, this, [this](bool running) {
        ui->Command14->setText(tr(running ? kInternalTestRunningCaption : kInternalTestCaption));
        if (running)
            m_timing->startRun(TimingPanel::Tool::InternalTest);
        else
            m_timing->endRun(TimingPanel::Tool::InternalTest);
    });
}

void Form1::stopReplay()
{
    ContinuousPlay = false;
    m_replayArmed = false;
    m_replayAckBound->stop();
    m_replayResumeBound->stop();
}

// A bound ended the replay: its report is finished now rather than at the replay clock's next
// tick, whose report note would take the place of the cause in the status bar.
void Form1::replayStopped(const QString &cause)
{
    stopReplay();
    m_replayRun = false;
    m_timing->endRun(TimingPanel::Tool::Replay, cause);
}

// Over USB the replay goes on only once this piece's transfer has ended: its receipt is due
// within the bound, then the piece ends as onReportAccepted() says.
void Form1::raiseReplayWhenWritten(bool goesOn)
{
    m_replayArmed = true;
    m_replayGoesOn = goesOn;
}

void Form1::onUsbFrameWritten()
{
    if (!m_replayArmed)
        return;
    m_replayArmed = false;
    ContinuousPlay = m_replayGoesOn;
    m_replayReceiptRead = false;
    if (ContinuousPlay)
        m_replayAckBound->start(m_usb->ackTimeout());
}

void Form1::stopTools()
{
    if (m_internalTest)
        m_internalTest->stop();
    Timer1->stop();
    stopReplay();
}

void Form1::onSerialIdleAnswer()
{
    if (!ContinuousPlay)
        return;
    Command6_Click();
    if (ContinuousPlayTicks > 0.0)
        ContinuousPlay = true;
}

void Form1::Command3_Click()   // 内部连续播放
{
    const QString count = ui->Text2->text();
    if (!count.isEmpty()) {
        const std::optional<double> ticks = replayTicks(count);
        if (!ticks) {
            tell(Msg::ReplayCount);
            return;
        }
        ContinuousPlayTicks = *ticks;
        Timer1->start();
    }
    if (ContinuousPlayTicks > 0) {
        m_replayRun = true;
        m_timing->startRun(TimingPanel::Tool::Replay);
        Command6_Click();
        // after the synthesis, which clears it on entry
        if (usbMode())
            raiseReplayWhenWritten(true);
        else
            ContinuousPlay = true;
    } else {
        tell(Msg::ReplayCount);
    }
}

void Form1::Timer1_Timer()   // replay clock
{
    ContinuousPlayTicks -= 1;
    if (ContinuousPlayTicks <= 0) {
        stopReplay();
        Timer1->stop();
    }
    // The replay has ended (its time is up, or stop or another command ended it): its report.
    if (m_replayRun && !ContinuousPlay && !m_replayArmed) {
        m_replayRun = false;
        m_timing->endRun(TimingPanel::Tool::Replay);
    }
}

void Form1::Text2_Change()   // replay seconds
{
    const QString text = ui->Text2->text();
    if (text.isEmpty())
        return;
    // A non-digit, or more digits than a count can hold, empties the box.
    if (firstNonDigit(text) >= 0 || !replayTicks(text)) {
        tell(Msg::ReplayCount);
        ui->Text2->clear();
    }
}

void Form1::Command14_Click()   // 内部测试
{
    if (m_internalTest->isRunning()) {
        m_internalTest->stop();
        m_session->resetLink();   // the test's frames still queued go no further
    } else {
        m_internalTest->start();
    }
}
