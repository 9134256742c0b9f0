// Text synthesis: the encoding, the synthesis command, control tags and the loadable texts.
#include "Form1.h"
#include "ui_Form1.h"

#include "codetable.h"
#include "controltags.h"
#include "frame.h"
#include "messages.h"
#include "textbytes.h"

#include <QTextCursor>

void Form1::Combo5_Click()
{
    const int index = ui->Combo5->currentIndex();
    if (isValidEncoding(index))
        EncodingIndex = index;
}

std::optional<CodeTable> Form1::loadCodeTable()
{
    // The table is read afresh for every conversion that needs it, so a file put beside the
    // program while it runs is taken at once.
    const QString path =
        m_options.tablePath.isEmpty() ? CodeTable::defaultPath() : m_options.tablePath;
    CodeTable::Load load = CodeTable::load(path);
    if (load.status == CodeTable::LoadStatus::Loaded)
        return std::move(load.table);
    switch (load.status) {
    case CodeTable::LoadStatus::TooShort:
        tell(Msg::TableShort);
        break;
    case CodeTable::LoadStatus::Unreadable:
        tell(Msg::TableUnreadable.arg(load.errorString));
        break;
    default:
        tell(Msg::TableMissing);
        break;
    }
    return std::nullopt;
}

std::optional<QByteArray> Form1::textToSend()
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

    // Count and cut first; the selection shows what the frame carries even when the table is
    // missing afterwards.
    const TextCut cut = cutToFit(selection, EncodingIndex, MaxTextBytes);
    TextByteCount = cut.byteCount;
    const int start = cursor.selectionStart();
    if (cut.cut) {
        QTextCursor kept(box->document());
        kept.setPosition(start);
        kept.setPosition(start + cut.keepChars, QTextCursor::KeepAnchor);
        box->setTextCursor(kept);
    }
    std::optional<CodeTable> table;
    if (needsCodeTable(EncodingIndex) && !(table = loadCodeTable()))
        return std::nullopt;
    const std::optional<QByteArray> bytes = encodeText(
        QStringView(selection).left(cut.keepChars), EncodingIndex, table ? &*table : nullptr);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    return bytes;
}

void Form1::Command6_Click()   // 合成
{
    ContinuousPlay = false;
    ui->Text3->setFocus();
    if (const std::optional<QByteArray> text = textToSend()) {
        FrameBytes = synthesisFrame(quint8(EncodingIndex), *text);
        FrameLength = int(FrameBytes.size());
        sendTextFrame(FrameBytes);
    }
    ui->Text3->setFocus();
    ui->Command6->setEnabled(true);
}

void Form1::HScroll1_Change()
{
    scrollChanged(TagBar::Volume, ui->HScroll1->value());
}

void Form1::HScroll2_Change()
{
    scrollChanged(TagBar::Rate, ui->HScroll2->value());
}

void Form1::HScroll3_Change()
{
    scrollChanged(TagBar::Intonation, ui->HScroll3->value());
}

void Form1::scrollChanged(TagBar bar, int value)
{
    ContinuousPlay = false;
    if (!TagSendEnabled)
        return;
    if (const std::optional<QByteArray> frame = barTagFrame(bar, value))
        sendFrame(*frame);
}

void Form1::Combo4_Click(int Index)
{
    Q_UNUSED(Index);   // the voice list is the only member of its control array
    if (const std::optional<QByteArray> frame = voiceTagFrame(ui->Combo4->currentIndex()))
        sendFrame(*frame);
}

void Form1::Command34_Click()   // 控制标记恢复默认值[d]
{
    ContinuousPlay = false;
    TagSendEnabled = false;
    ui->HScroll1->setValue(kTagBarDefault);
    ui->HScroll3->setValue(kTagBarDefault);
    ui->HScroll2->setValue(kTagBarDefault);
    TagSendEnabled = true;
    sendFrame(resetTagFrame());
}
