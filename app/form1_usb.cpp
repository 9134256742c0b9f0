// The USB HID link: the option, discovery, and continuous play through a long text.
#include "Form1.h"
#include "ui_Form1.h"

#include "codes.h"
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

// Over USB a replay piece is done when, after its receipt (0xAA-0xAC), the board says it can take
// the next text (a 0x5E that no report waited for) or the chip says it is idle (0x4F), whichever
// comes first. Boards differ: one answers the closing report only once the chip is ready, one at
// once, one never; the chip's 0x4F comes with each. A 0x5E read before the receipt (a board that
// answers the closing report at once) does not end the piece: the chip has only begun to speak
// it, and the next piece would cut it off. A 0x4F or 0x5E of the piece before, read after this
// piece was written, also comes before this piece's receipt and starts nothing.
void Form1::onReportAccepted()
{
    if (ContinuousPlay && m_replayReceiptRead)
        nextReplayPiece();
}

void Form1::onUsbAnswer(quint8 code)
{
    if (!ContinuousPlay)
        return;
    if (code == Answer::Received || isUsbReceipt(code)) {
        m_replayReceiptRead = true;
        m_replayAckBound->stop();   // the chip speaks as long as the piece needs
    } else if (code == Answer::Idle && m_replayReceiptRead) {
        nextReplayPiece();
    }
}

void Form1::nextReplayPiece()
{
    m_replayReceiptRead = false;
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
