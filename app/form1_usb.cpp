// The USB HID link: the option, discovery, and continuous play through a long text.
#include "Form1.h"
#include "ui_Form1.h"

#include "hidlink.h"
#include "messages.h"
#include "session.h"

#include <QTextCursor>

bool Form1::FindTheHid()
{
    const bool found = m_usb->find();
    showLinkStatus();
    return found;
}

void Form1::Option4_Click()   // 内部USB(SPI)
{
    m_session->setCurrentLink(m_usb);
    showLinkStatus();
    tell(QString::number(maxTextBytes()) + Msg::shown(Msg::MaxTextNotice));
    FindTheHid();
}

void Form1::onReportAccepted()
{
    if (!ContinuousPlay)
        return;
    m_replayAckBound->stop();
    // Pass over the part just sent and select the rest of the text.
    QPlainTextEdit *box = ui->Text3;
    const int total = box->document()->characterCount() - 1;
    const QTextCursor before = box->textCursor();
    const int start = qMin(before.selectionEnd(), total);
    QTextCursor rest(box->document());
    rest.setPosition(start);
    rest.setPosition(total, QTextCursor::KeepAnchor);
    box->setTextCursor(rest);
    if (total - start == 0) {
        stopReplay();
        return;
    }
    Command6_Click();
    raiseReplayWhenWritten(box->textCursor().selectionEnd() < total);
}
