// The serial link: port choice and speed.
#include "Form1.h"
#include "ui_Form1.h"

#include "frame.h"
#include "messages.h"
#include "mscomm.h"
#include "portlist.h"
#include "session.h"

#include <QLineEdit>

// How long after its last byte the chip has to answer a replay's state query after a reconnect:
// the no-answer bound of every serial frame, and a little more, so that the replay's end is what
// the status bar says last.
static constexpr int kReplayResumeBoundMs = 1000 + 200;

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
    stopReplay();
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

// The device that went away is back and open again. A replay that waited for the chip's 0x4F
// does not send its piece again at once: only the adapter may have gone, and the chip may still
// be speaking the piece (it would say it twice), or may have ended it while its 0x4F was lost.
// The replay asks the chip's state instead. An idle chip answers 0x4F, which goes on with the
// next piece as any 0x4F does; a chip still speaking answers 0x4E, and the 0x4F that ends its
// piece goes on. A chip that answers nothing within the no-answer bound ends the replay, with a
// note in the status bar.
void Form1::onSerialReconnected()
{
    m_portList->showInfo();
    if (!ContinuousPlay || m_session->currentLink() != MSComm1)
        return;
    m_session->send(commandFrame(Command::StatusQuery));
    m_replayResumeBound->start(
        int(MSComm1->wireTime(commandFrame(Command::StatusQuery).size()) / 1000)
        + kReplayResumeBoundMs);
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
