// The serial link: port choice, speed, and the chip's answers.
#include "Form1.h"
#include "ui_Form1.h"

#include "codes.h"
#include "frame.h"
#include "logshape.h"
#include "messages.h"
#include "worklog.h"

#include <QLineEdit>

#include <cmath>

static constexpr int kComItems = 20;   // "COM1" ... "COM20"

void Form1::refreshPortList()
{
    // Items past COM20 are the present devices under their own names.
    const int current = ui->Combo1->currentIndex();
    while (ui->Combo1->count() > kComItems)
        ui->Combo1->removeItem(kComItems);
    // The system's device list is read once for all the items.
    const QList<SerialDevice> devices = m_options.ports.presentDevices();
    for (int n = 1; n <= kComItems; ++n)
        ui->Combo1->setItemData(n - 1, m_options.ports.describe(n, devices), Qt::ToolTipRole);
    for (const SerialDevice &device : devices) {
        ui->Combo1->addItem(device.path, device.path);
        QString tip = device.path;
        if (!device.description.isEmpty())
            tip += QStringLiteral(" (") + device.description + u')';
        ui->Combo1->setItemData(ui->Combo1->count() - 1, tip, Qt::ToolTipRole);
    }
    if (current >= 0 && current < ui->Combo1->count())
        ui->Combo1->setCurrentIndex(current);
}

void Form1::showPortInfo()
{
    const QString state = MSComm1->PortOpen() ? QStringLiteral("已打开") : QStringLiteral("未打开");
    const int k = ui->Combo1->currentIndex();
    QString where;
    if (k >= 0 && k < kComItems)
        where = m_options.ports.describe(k + 1);
    else
        where = MSComm1->devicePath();
    ui->PortInfo->setText(where + QStringLiteral("，") + state);
}

void Form1::Combo1_Click()
{
    const int k = ui->Combo1->currentIndex();
    if (k < 0) {
        tell(Msg::PortMissing);
        return;
    }
    ContinuousPlay = false;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    if (k < kComItems) {
        CommPortNumber = k + 1;
        MSComm1->setCommPort(CommPortNumber);
    } else {
        MSComm1->setCommPath(ui->Combo1->itemData(k).toString());
    }
    openSelectedPort();
}

void Form1::Combo1_PathEntered()
{
    const QString typed = ui->Combo1->currentText().trimmed();
    const int match = ui->Combo1->findText(typed);
    if (match >= 0) {
        ui->Combo1->setCurrentIndex(match);
        Combo1_Click();
        return;
    }
    if (typed.isEmpty()) {
        tell(Msg::PortMissing);
        return;
    }
    ContinuousPlay = false;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    MSComm1->setCommPath(typed);
    openSelectedPort();
}

void Form1::openSelectedPort()
{
    if (!MSComm1->setPortOpen(true)) {
        m_log->append(QStringLiteral("串口打开失败：") + MSComm1->errorString() + kCrLf);
        tell(Msg::PortMissing);
    }
    showPortInfo();
}

void Form1::onSerialFailed(const QString &reason)
{
    m_log->append(reason + kCrLf);
    showPortInfo();
}

void Form1::Option3_Click()
{
    MaxTextBytes = kSerialMaxTextBytes;
    UsbMode = false;
}

void Form1::Combo2_Click()
{
    static const char *const kSettings[] = {
        "4800,N,8,1", "9600,N,8,1", "57600,N,8,1", "115200,N,8,1"};
    const int index = ui->Combo2->currentIndex();
    if (index >= 0 && index < 4)
        MSComm1->setSettings(QString::fromLatin1(kSettings[index]));
}

void Form1::MSComm1_OnComm()
{
    if (MSComm1->CommEvent() != MSComm::kEventReceive)
        return;
    if (!ui->Check1->isChecked())
        return;   // nothing read: the data waits for a receive event while the box is ticked
    if (m_answerPause.isActive())
        return;   // the read already scheduled takes these bytes too
    // Long enough for a 32-character version text to arrive whole at the current speed
    // (10 bits a character): about 35 ms at 9600 baud.
    const int baud = qMax(1, int(MSComm1->baudRate()));
    m_answerPause.start(int(std::ceil(32.0 * 10.0 * 1000.0 / baud)) + 2);
}

void Form1::readAnswers()
{
    const QString text = MSComm1->Input();
    const int n = int(qMin<qsizetype>(text.size(), 2));
    for (int i = 0; i < n; ++i) {
        const char16_t code = text.at(i).unicode();
        if (code == Answer::VersionText) {
            m_log->append(versionAnswerEntry(HexPrefix, text));
            continue;
        }
        if (code >= 0x80)
            continue;
        const std::optional<QString> label = serialAnswerLabel(quint8(code));
        if (!label)
            continue;
        m_log->append(serialAnswerEntry(HexPrefix, *label));
        if (code == Answer::Idle && ContinuousPlay) {
            Command6_Click();
            if (ContinuousPlayTicks > 0.0)
                ContinuousPlay = true;
        }
    }
}
