// Chip control: the control commands, the cache and the hexadecimal frame editor.
#include "Form1.h"
#include "ui_Form1.h"

#include "cache.h"
#include "continuousreplay.h"
#include "frame.h"
#include "framedecoder.h"
#include "hexeditor.h"
#include "language.h"
#include "messages.h"
#include "session.h"
#include "textform.h"

void Form1::Command7_Click()   // 停止
{
    m_replay->stop();
    m_session->resetLink();   // frames still queued would only delay the stop
    m_session->send(commandFrame(Command::Stop));
}

void Form1::Command8_Click()   // 暂停
{
    m_session->send(commandFrame(Command::Pause));
}

void Form1::Command9_Click()   // 恢复
{
    m_session->send(commandFrame(Command::Resume));
}

void Form1::Command28_Click()   // 查询
{
    m_session->send(commandFrame(Command::StatusQuery));
}

void Form1::Command5_Click()   // STANDBY
{
    m_session->send(commandFrame(Command::Standby));
}

void Form1::Command11_Click()   // 唤醒
{
    m_session->send(commandFrame(Command::WakeUp));
}

void Form1::Command12_Click()   // 内部版本查询
{
    m_session->send(commandFrame(Command::VersionQuery));
}

// ---- cache ----

void Form1::Command10_Click()   // 缓存存储
{
    m_replay->stop();
    ui->Text3->setFocus();
    ui->Command6->setEnabled(false);
    const int segment = ui->Combo6->currentIndex();
    if (segment < 0 || segment >= kCacheSegments) {
        tell(Msg::NoSegment);
    } else if (const std::optional<QByteArray> frame =
                   selectionFrame(Command::CacheStore, quint8(segment))) {
        m_session->send(*frame);
    }
    ui->Text3->setFocus();
    ui->Command6->setEnabled(true);   // on every way out
}

void Form1::Command13_Click()   // 缓存播放
{
    m_replay->stop();
    const int index = ui->Combo7->currentIndex();
    if (index < 0) {
        tell(Msg::NoRepeatCount);
        return;
    }
    m_session->send(cachePlayFrame(index + 1, EncodingIndex));
}

// ---- hexadecimal frame editor ----

void Form1::sendEditorFrame(bool withHeader)
{
    m_replay->stop();
    const QString text = toCrLf(ui->Text5->toPlainText());
    const HexParse parse = withHeader ? headerPlayFrame(text, quint8(ui->Combo5->currentIndex()))
                                      : directPlayFrame(text);
    switch (parse.status) {
    case HexStatus::Empty:
        return;
    case HexStatus::Mismatch:
        tell(Msg::HexMismatch);
        return;
    case HexStatus::TooLong:
        tell(Msg::HexTooLong);
        return;
    case HexStatus::Parsed:
        m_session->send(parse.bytes);
        return;
    }
}

void Form1::Command29_Click()   // 直接播放
{
    sendEditorFrame(false);
}

void Form1::Command30_Click()   // 添加命令头播放(自动)
{
    sendEditorFrame(true);
}

// What the frame typed into the hex editor decodes to, before anything is sent: as it stands
// (直接播放) and behind the generated header (添加命令头播放).
void Form1::showHexDecode()
{
    const QString text = toCrLf(ui->Text5->toPlainText());
    const HexParse parse = parseHexText(text);
    switch (parse.status) {
    case HexStatus::Empty:
        ui->Text5Decode->clear();
        return;
    case HexStatus::Mismatch:
    case HexStatus::TooLong:
        ui->Text5Decode->setText(
            tr("格式不匹配：第 %1 个字符不是16进制数值").arg(parse.badOffset + 1));
        return;
    case HexStatus::Parsed:
        break;
    }
    const Wording wording = windowWording();
    const DecodedFrame direct = decodeFrame(parse.bytes, EncodingIndex, wording);
    QStringList lines {tr("直接播放：%1").arg(frameSummary(direct, wording))};
    if (direct.problems.size() > 1) {
        QStringList all;
        for (const FrameProblem &problem : direct.problems)
            all << problem.message;
        lines << tr("问题：%1").arg(all.join(tr("；")));
    }
    const HexParse withHeader = headerPlayFrame(text, quint8(ui->Combo5->currentIndex()));
    if (withHeader.status == HexStatus::Parsed && direct.hasErrors())
        lines << tr("添加命令头：%1")
                     .arg(frameSummary(decodeFrame(withHeader.bytes, 1, wording), wording));
    ui->Text5Decode->setText(lines.join(u'\n'));
}
