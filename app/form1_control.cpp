// Chip control: the control commands.
#include "Form1.h"

#include "frame.h"

void Form1::Command7_Click()   // 停止
{
    ContinuousPlay = false;
    sendFrame(commandFrame(Command::Stop));
}

void Form1::Command8_Click()   // 暂停
{
    sendFrame(commandFrame(Command::Pause));
}

void Form1::Command9_Click()   // 恢复
{
    sendFrame(commandFrame(Command::Resume));
}

void Form1::Command28_Click()   // 查询
{
    sendFrame(commandFrame(Command::StatusQuery));
}

void Form1::Command5_Click()   // STANDBY
{
    sendFrame(commandFrame(Command::Standby));
}

void Form1::Command11_Click()   // 唤醒
{
    sendFrame(commandFrame(Command::WakeUp));
}

void Form1::Command12_Click()   // 内部版本查询
{
    sendFrame(commandFrame(Command::VersionQuery));
}
