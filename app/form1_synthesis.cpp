// Text synthesis: the encoding, the synthesis command, control tags and the loadable texts.
#include "Form1.h"
#include "ui_Form1.h"

#include "codes.h"
#include "continuousreplay.h"
#include "controltags.h"
#include "demotexts.h"
#include "messages.h"
#include "session.h"
#include "textbytes.h"
#include "transactions.h"

#include <QTextCursor>

void Form1::Combo5_Click()   // 编码选择
{
    const int index = ui->Combo5->currentIndex();
    if (isValidEncoding(index))
        EncodingIndex = index;
    m_session->transactions().setStoreEncoding(EncodingIndex);
}

// Whether the code table served the text; the operator is told why not.
bool Form1::tableUsable(const TextFrame &text)
{
    switch (text.table) {
    case CodeTable::LoadStatus::Loaded:
        return true;
    case CodeTable::LoadStatus::TooShort:
        tell(Msg::TableShort);
        return false;
    case CodeTable::LoadStatus::Unreadable:
        tell(Msg::shown(Msg::TableUnreadable).arg(text.tableError));
        return false;
    case CodeTable::LoadStatus::Missing:
        tell(Msg::TableMissing);
        return false;
    }
    return false;
}

// The frame for the selection of the send box (all of it when nothing is selected), cut to what
// one frame carries; the selection shrinks to the part that is sent. None for an empty box, and
// when the code table cannot be used (the operator is told why).
std::optional<QByteArray> Form1::selectionFrame(Command command, quint8 parameter)
{
    QPlainTextEdit *box = ui->Text3;
    QTextCursor cursor = box->textCursor();
    if (!cursor.hasSelection()) {
        cursor.select(QTextCursor::Document);
        box->setTextCursor(cursor);
    }
    const QString selection = cursor.selectedText();
    if (selection.isEmpty())
        return std::nullopt;   // empty box: nothing to send, nothing to say

    const TextFrame text = m_session->textFrame(selection, command, parameter, EncodingIndex);
    // The selection shows what the frame carries even when the table is missing afterwards.
    if (text.cut) {
        const int start = cursor.selectionStart();
        QTextCursor kept(box->document());
        kept.setPosition(start);
        kept.setPosition(start + text.keepChars, QTextCursor::KeepAnchor);
        box->setTextCursor(kept);
    }
    if (!tableUsable(text) || text.frame.isEmpty())
        return std::nullopt;
    showTextStatus(QStringView(selection).left(text.keepChars),
        QStringView(selection).mid(text.keepChars), text.byteCount);
    return text.frame;
}

void Form1::Command6_Click()   // 合成
{
    m_replay->stop();
    ui->Text3->setFocus();
    if (const std::optional<QByteArray> frame =
            selectionFrame(Command::Synthesize, quint8(EncodingIndex)))
        m_session->send(*frame);
    ui->Text3->setFocus();
    ui->Command6->setEnabled(true);
}

void Form1::HScroll1_Change()   // 音量
{
    scrollChanged(TagBar::Volume, ui->HScroll1->value());
}

void Form1::HScroll2_Change()   // 语速
{
    scrollChanged(TagBar::Rate, ui->HScroll2->value());
}

void Form1::HScroll3_Change()   // 语调
{
    scrollChanged(TagBar::Intonation, ui->HScroll3->value());
}

void Form1::scrollChanged(TagBar bar, int value)
{
    m_replay->stop();
    if (!TagSendEnabled)
        return;
    if (const std::optional<QByteArray> frame = barTagFrame(bar, value))
        m_session->send(*frame);
}

void Form1::Combo4_Click(int Index)   // 发音人
{
    Q_UNUSED(Index);   // the voice list is the only member of its control array
    if (const std::optional<QByteArray> frame = voiceTagFrame(ui->Combo4->currentIndex()))
        m_session->send(*frame);
}

void Form1::Command34_Click()   // 控制标记恢复默认值[d]
{
    m_replay->stop();
    TagSendEnabled = false;
    ui->HScroll1->setValue(kTagBarDefault);
    ui->HScroll3->setValue(kTagBarDefault);
    ui->HScroll2->setValue(kTagBarDefault);
    TagSendEnabled = true;
    m_session->send(resetTagFrame());
}

void Form1::Command31_Click()   // 载入--演示文本
{
    ui->Text3->clear();
    ui->Text3->setPlainText(demonstrationText());   // nothing selected afterwards
}

void Form1::Command32_Click()   // 载入----提示音
{
    ui->Text3->clear();
    ui->Text3->setPlainText(promptSoundCatalogue());
}
