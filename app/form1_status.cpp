// What the window tells the operator beside the work log: the status bar and the tone bars'
// levels. Nothing here reaches the work log or LOG.txt.
#include "Form1.h"
#include "ui_Form1.h"

#include "controltags.h"
#include "hidlink.h"
#include "mscomm.h"
#include "portlist.h"
#include "session.h"
#include "textcheck.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

void Form1::setupStatusBar()
{
    // A serial frame that gets no answer at all within a second of its last byte leaving the
    // wire is named with the device COMn stands for: a COM1 that is the PC's own port, or a wrong
    // speed, otherwise looks like a chip that never speaks.
    connect(m_session.get(), &Session::noAnswer, this, [this](Link *link) {
        if (link != MSComm1)
            return;
        showNotice(tr("%1：1 秒内无应答，请检查板子连接和波特率")
                       .arg(m_portList->portName(CommPortNumber)));
    });
    m_textStatus = new QLabel(this);
    m_textStatus->setObjectName(QStringLiteral("TextStatus"));
    m_textStatus->setAccessibleName(tr("发送情况"));
    m_textStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_linkStatus = new QLabel(this);
    m_linkStatus->setObjectName(QStringLiteral("LinkStatus"));
    m_linkStatus->setAccessibleName(tr("当前连接"));
    statusBar()->addWidget(m_textStatus, 1);
    statusBar()->addPermanentWidget(m_linkStatus);
    connect(MSComm1, &Link::openChanged, this, &Form1::showLinkStatus);
    connect(m_usb, &Link::openChanged, this, &Form1::showLinkStatus);
    // A notice stays until the next frame goes out.
    connect(m_session.get(), &Session::frameSent, statusBar(), &QStatusBar::clearMessage);
}

void Form1::showNotice(const QString &notice)
{
    statusBar()->showMessage(notice);
}

void Form1::showLinkStatus()
{
    if (!m_linkStatus)
        return;
    if (usbMode()) {
        m_linkStatus->setText(m_usb->hidFound()
                ? tr("内部USB(SPI)：USB 板 %1").arg(QString::fromLocal8Bit(m_usb->devicePath()))
                : tr("内部USB(SPI)：未找到 USB 板"));
        return;
    }
    m_linkStatus->setText(tr("串口 %1").arg(ui->PortInfo->text()));
}

// "已发送 2599 字（4091 字节），其余 N 字未发送", and the characters the encoding cannot carry.
void Form1::showTextStatus(QStringView sent, QStringView left, int bytes)
{
    const CodeTable::Load table = m_session->codeTable();
    const TextCheck check = checkText(sent, EncodingIndex, table.table ? &*table.table : nullptr);
    QString status = tr("已发送 %1 字（%2 字节）").arg(check.characters).arg(bytes);
    if (!left.isEmpty())
        status += tr("，其余 %1 字未发送").arg(checkText(left, 1, nullptr).characters);
    const auto listOf = [&check](UncarriedKind kind) {
        QString characters;
        for (const UncarriedCharacter &c : check.uncarried) {
            if (c.kind == kind)
                characters += c.character;
        }
        return characters;
    };
    const QString outsideGbk = listOf(UncarriedKind::OutsideGbk);
    const QString noBig5 = listOf(UncarriedKind::NoBig5);
    const QString outsideGb2312 = listOf(UncarriedKind::OutsideGb2312);
    if (!outsideGbk.isEmpty())
        status += tr("；GBK 中没有、以“?”发送：%1").arg(outsideGbk);
    if (!noBig5.isEmpty())
        status += tr("；BIG5 中没有、以“？”发送：%1").arg(noBig5);
    if (!outsideGb2312.isEmpty())
        status += tr("；不在 GB2312 中、芯片可能读不出：%1").arg(outsideGb2312);
    m_textStatus->setText(status);
}

void Form1::setupBarLevels()
{
    // The level each bar sends ("[v5]"), beside the bar; it follows the thumb while it is dragged.
    const struct
    {
        QScrollBar *bar;
        TagBar tag;
    } bars[] = {{ui->HScroll1, TagBar::Volume}, {ui->HScroll2, TagBar::Rate},
        {ui->HScroll3, TagBar::Intonation}};
    int row = 1;
    for (const auto &[bar, tag] : bars) {
        auto *level = new QLabel(this);
        level->setObjectName(bar->objectName() + QStringLiteral("Level"));
        level->setMinimumWidth(level->fontMetrics().horizontalAdvance(QStringLiteral("[v10]")));
        ui->Frame11Layout->addWidget(level, row++, 2);
        const TagBar letter = tag;
        connect(bar, &QScrollBar::sliderMoved, this,
            [this, letter](int value) { showBarLevel(letter, value); });
        connect(bar, &QScrollBar::valueChanged, this,
            [this, letter](int value) { showBarLevel(letter, value); });
        showBarLevel(tag, bar->value());
    }
}

void Form1::showBarLevel(TagBar bar, int value)
{
    const char *name = bar == TagBar::Volume ? "HScroll1Level"
        : bar == TagBar::Rate                ? "HScroll2Level"
                                             : "HScroll3Level";
    if (auto *level = findChild<QLabel *>(QLatin1String(name)))
        level->setText(QStringLiteral("[%1%2]").arg(QChar(char(bar))).arg(value - 1));
}
