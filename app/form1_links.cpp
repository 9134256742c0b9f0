// The serial link: port choice and speed.
#include "Form1.h"
#include "ui_Form1.h"

#include "continuousreplay.h"
#include "frame.h"
#include "messages.h"
#include "mscomm.h"
#include "portlist.h"
#include "session.h"

#include <QLineEdit>

void Form1::Combo1_Click()   // 端口号
{
    if (!m_startingUp)
        m_portList->listDevices();   // the choice is made against the devices present now
    const int k = ui->Combo1->currentIndex();
    if (k < 0) {
        tell(Msg::PortMissing);
        return;
    }
    if (k < PortList::kComItems) {
        CommPortNumber = k + 1;
        reopenPort(QString());
    } else {
        reopenPort(m_portList->pathOfItem(k));
    }
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
    reopenPort(typed);
}

// Closes the port and opens COMn (path empty) or the device at path; a failure is logged with
// its reason and shown as the port message.
void Form1::reopenPort(const QString &path)
{
    m_replay->stop();
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    if (path.isEmpty())
        MSComm1->setCommPort(CommPortNumber, m_portList->pathFor(CommPortNumber),
            m_portList->deviceFor(CommPortNumber));
    else
        MSComm1->setCommPath(path, m_portList->deviceAt(path));
    if (!MSComm1->setPortOpen(true)) {
        m_session->log(QStringLiteral("串口打开失败：") + MSComm1->errorString());
        tell(Msg::PortMissing);
    }
    m_portList->showInfo();
}

// The port closed on a fault. The status bar says whether it opens again by itself: only an
// adapter known by its identity does; for any other device the operator picks the port again.
void Form1::onSerialLost()
{
    m_portList->showInfo();
    showNotice(MSComm1->awaitsReturn()
            ? tr("%1：串口已关闭，同一适配器回来时自动重新打开").arg(MSComm1->devicePath())
            : tr("%1：串口已关闭，不会自动重新打开，请重新选择端口").arg(MSComm1->devicePath()));
}

void Form1::Option3_Click()   // 串口
{
    m_session->setCurrentLink(MSComm1);
    showLinkStatus();
}

void Form1::Combo2_Click()   // 波特率
{
    static const char *const kSettings[] = {
        "4800,N,8,1", "9600,N,8,1", "57600,N,8,1", "115200,N,8,1"};
    const int index = ui->Combo2->currentIndex();
    if (index >= 0 && index < 4)
        MSComm1->setSettings(QString::fromLatin1(kSettings[index]));
}
