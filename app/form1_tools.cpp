// Test tools: continuous replay and the internal test.
#include "Form1.h"
#include "ui_Form1.h"

#include "continuousreplay.h"
#include "hidlink.h"
#include "internaltestrunner.h"
#include "messages.h"
#include "mscomm.h"
#include "replay.h"
#include "session.h"
#include "timingpanel.h"

#include <QTextCursor>

static const char *const kInternalTestCaption = QT_TRANSLATE_NOOP("Form1", "内部测试");
static const char *const kInternalTestRunningCaption = QT_TRANSLATE_NOOP("Form1", "停止内部测试");

void Form1::setupTools()
{
    setupReplay();
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

// The replay plays the send box through 合成, and walks on through the rest of it over USB.
void Form1::setupReplay()
{
    m_replay = new ContinuousReplay(m_session.get(), MSComm1, m_usb, this);
    m_replay->setSynthesis([this] { Command6_Click(); });
    m_replay->setAckTimeout([this] { return m_usb->ackTimeout(); });
    m_replay->setRestOfText([this] {
        QPlainTextEdit *box = ui->Text3;
        const int total = box->document()->characterCount() - 1;
        const int start = qMin(box->textCursor().selectionEnd(), total);
        QTextCursor rest(box->document());
        rest.setPosition(start);
        rest.setPosition(total, QTextCursor::KeepAnchor);
        return ContinuousReplay::Rest {rest.selectedText(), start, EncodingIndex};
    });
    connect(m_replay, &ContinuousReplay::pieceSent, this,
        [this](int at, const TextFrame &piece, const QString &sent, const QString &left) {
            // The selection shows the piece in play.
            QPlainTextEdit *box = ui->Text3;
            const int total = box->document()->characterCount() - 1;
            QTextCursor kept(box->document());
            kept.setPosition(qMin(at, total));
            kept.setPosition(qMin(at + piece.keepChars, total), QTextCursor::KeepAnchor);
            box->setTextCursor(kept);
            box->setFocus();
            showTextStatus(sent, left, piece.byteCount);
        });
    connect(m_replay, &ContinuousReplay::pieceUnframed, this, &Form1::tableUsable);
    connect(m_replay, &ContinuousReplay::runStarted, this,
        [this] { m_timing->startRun(TimingPanel::Tool::Replay); });
    connect(m_replay, &ContinuousReplay::runEnded, this, [this](ContinuousReplay::End how) {
        QString cause;
        if (how == ContinuousReplay::End::NoReceipt)
            cause = tr("内部连续播放已停止：%1 毫秒内没有收到 USB 板的接收回传（0xAA/0xAB/0xAC）")
                        .arg(m_usb->ackTimeout());
        else if (how == ContinuousReplay::End::SilentAfterReconnect)
            cause = tr("内部连续播放已停止：串口重新连接后芯片 1 秒内没有应答");
        m_timing->endRun(TimingPanel::Tool::Replay, cause);
    });
}

bool Form1::continuousPlay() const
{
    return m_replay->isPlaying();
}

void Form1::stopTools()
{
    if (m_internalTest)
        m_internalTest->stop();
    m_replay->stopAll();
}

void Form1::Command3_Click()   // 内部连续播放
{
    if (!m_replay->start(ui->Text2->text()))
        tell(Msg::ReplayCount);
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
