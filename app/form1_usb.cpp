// The USB HID link: the option, discovery, reports out and the board's answers in.
#include "Form1.h"
#include "ui_Form1.h"

#include "HidAPI.h"
#include "codes.h"
#include "frame.h"
#include "hidlink.h"
#include "logshape.h"
#include "messages.h"
#include "worklog.h"

#include <QTextCursor>

// While no board is found there is nothing to read: Timer2 then ticks slowly.
static constexpr int kPollWithBoardMs = 1;
static constexpr int kPollWithoutBoardMs = 250;

void Form1::setupLinks()
{
    HidApi &api = m_options.hid ? *m_options.hid : systemHidApi();
    m_usb = new HidLink(api, this);
    connect(m_usb, &HidLink::answerReceived, this, &Form1::onUsbAnswer);
    connect(m_usb, &HidLink::logEntry, this, [this](const QString &entry) {
        if (entry == kUsbMissingEntry)
            m_log->appendKeepingCaret(entry);
        else
            m_log->append(entry);
    });
    connect(m_usb, &HidLink::boardMissing, this, [this] { tell(Msg::UsbMissing); });
}

bool Form1::FindTheHid()
{
    const bool found = m_usb->find();
    Timer2->setInterval(found ? kPollWithBoardMs : kPollWithoutBoardMs);
    return found;
}

bool Form1::HidFound() const
{
    return m_usb && m_usb->hidFound();
}

bool Form1::HidLinked() const
{
    return m_usb && m_usb->hidLinked();
}

QByteArray Form1::HidPath() const
{
    return m_usb ? m_usb->devicePath() : QByteArray();
}

Form1::HidCapabilities Form1::HidCaps() const
{
    if (!m_usb || !m_usb->hidFound())
        return {};
    return {m_usb->inputReportBytes(), m_usb->outputReportBytes()};
}

void Form1::Option4_Click()   // 内部USB(SPI)
{
    MaxTextBytes = kUsbMaxTextBytes;
    UsbMode = true;
    tell(QString::number(MaxTextBytes) + MaxTextNotice);
    FindTheHid();
}

void Form1::sendOverUsb(const QByteArray &frame)
{
    m_usb->send(frame, FrameLast);   // queued behind a frame still in transfer; never waits
    Timer2->setInterval(m_usb->hidFound() ? kPollWithBoardMs : kPollWithoutBoardMs);
}

void Form1::Timer2_Timer()
{
    m_usb->poll();
    const int interval = m_usb->hidFound() ? kPollWithBoardMs : kPollWithoutBoardMs;
    if (Timer2->interval() != interval)
        Timer2->setInterval(interval);
}

void Form1::onUsbAnswer(quint8 code)
{
    if (code == Answer::ReportAccepted) {
        UsbReplyPending = 0;
        usbContinuousStep();
        return;
    }
    if (const std::optional<QString> label = usbAnswerLabel(code))
        m_log->append(usbAnswerEntry(*label));
}

void Form1::usbContinuousStep()
{
    if (!ContinuousPlay)
        return;
    // Pass over the part just sent and select the rest of the text.
    QPlainTextEdit *box = ui->Text3;
    const int total = box->document()->characterCount() - 1;
    const QTextCursor before = box->textCursor();
    const int start = qMin(before.selectionEnd(), total);
    QTextCursor rest(box->document());
    rest.setPosition(start);
    rest.setPosition(total, QTextCursor::KeepAnchor);
    box->setTextCursor(rest);
    if (total - start != 0)
        Command6_Click();
    const QTextCursor after = box->textCursor();
    ContinuousPlay = after.selectionEnd() < total;
}
