#include "Form1.h"
#include "ui_Form1.h"

#include "codepage.h"
#include "continuousreplay.h"
#include "controltags.h"
#include "frame.h"
#include "framecopymenu.h"
#include "guardedfile.h"
#include "hidlink.h"
#include "logexport.h"
#include "logjournal.h"
#include "logshape.h"
#include "logsink.h"
#include "messages.h"
#include "mscomm.h"
#include "operatormessages.h"
#include "portlist.h"
#include "screenroom.h"
#include "session.h"
#include "textform.h"
#include "timingpanel.h"
#include "version.h"
#include "worklog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

// The work log box as the session's sink.
class Form1::LogBox : public LogSink
{
public:
    explicit LogBox(WorkLog &log)
        : m_log(log)
    { }
    void append(const QString &entry) override { m_log.append(entry); }
    void appendKeepingCaret(const QString &entry) override { m_log.appendKeepingCaret(entry); }

private:
    WorkLog &m_log;
};

Form1::Form1(Form1Options options, OperatorMessages *messages, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Form1>())
    , m_options(std::move(options))
    , m_messages(messages)
{
    ui->setupUi(this);
    setWindowTitle(windowTitle().arg(QString::fromLatin1(kVersionMajorMinor)));
    // The wrapping labels take the height they need at the narrowest their column gets.
    ui->Frame16Caption->setMinimumHeight(
        ui->Frame16Caption->heightForWidth(ui->Text3->minimumWidth()));
    ui->PortInfo->setMinimumHeight(3 * ui->PortInfo->fontMetrics().lineSpacing());
    // The work log takes the height left in its column and grows with the window; the send box
    // and the hex editor keep a useful few lines.
    const auto lines = [](QPlainTextEdit *box, int count) {
        const QMargins margins = box->contentsMargins();
        return count * box->fontMetrics().lineSpacing() + 2 * box->document()->documentMargin()
            + margins.top() + margins.bottom() + 2 * box->frameWidth();
    };
    ui->Text3->setMinimumHeight(lines(ui->Text3, 4));
    ui->Text3->setMaximumHeight(lines(ui->Text3, 6));
    ui->Text5->setMinimumHeight(lines(ui->Text5, 3));
    ui->Text5->setMaximumHeight(lines(ui->Text5, 4));
    ui->Text4->setMinimumHeight(lines(ui->Text4, 8));
    // On a screen smaller than the controls need, the window scrolls instead of squashing them.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("CentralScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);   // the controls inside take the focus
    scroll->setWidget(takeCentralWidget());
    setCentralWidget(scroll);
    connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget *, QWidget *now) {
        if (now && scroll->widget()->isAncestorOf(now))
            scroll->ensureWidgetVisible(now);   // Tab brings a control scrolled away into view
    });
    m_workDir = m_options.workDir.isEmpty() ? QDir::currentPath() : m_options.workDir;

    ui->Text4->setBackgroundRole(QPalette::Button);
    ui->Text4->setAutoFillBackground(true);
    QPalette logPalette = ui->Text4->palette();
    logPalette.setColor(QPalette::Base, logPalette.color(QPalette::Button));
    ui->Text4->setPalette(logPalette);
    ui->Text4->setUndoRedoEnabled(false);   // the log only grows; no undo history to keep

    m_journal = std::make_unique<LogJournal>(m_workDir);
    m_log = std::make_unique<WorkLog>(ui->Text4, m_journal.get());
    m_logBox = std::make_unique<LogBox>(*m_log);
    m_journal->onUnprotected([this](const QString &notice) {
        std::fprintf(stderr, "%s\n", notice.toLocal8Bit().constData());
        tell(notice);
    });
    if (m_options.internal)
        showHiddenControls();

    // The voices by their Chinese names, or in pinyin.
    [[maybe_unused]] static const char *const kVoiceNames[] = {QT_TRANSLATE_NOOP("Voice", "晓燕"),
        QT_TRANSLATE_NOOP("Voice", "子轩"), QT_TRANSLATE_NOOP("Voice", "晓萍"),
        QT_TRANSLATE_NOOP("Voice", "志刚"), QT_TRANSLATE_NOOP("Voice", "欣妍"),
        QT_TRANSLATE_NOOP("Voice", "乐乐")};
    for (const QString &name : voiceNames())
        ui->Combo4->addItem(QCoreApplication::translate("Voice", name.toUtf8().constData()));
    setupLinks();
    setupStatusBar();
    m_timing = new TimingPanel(this, m_session.get(), m_workDir);
    connect(m_timing, &TimingPanel::notice, this, &Form1::showNotice);
    setupBarLevels();
    setupTools();
    wireControls();
    recoverJournals();
    Form_Load();
}

Form1::~Form1()
{
    if (!m_unloaded)
        Form_Unload();
}

void Form1::setupLinks()
{
    m_session = std::make_unique<Session>();
    m_session->setLogSink(m_logBox.get());
    m_session->setCodeTablePath(m_options.tablePath);

    MSComm1 = new MSComm(&m_options.ports, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    m_session->attachLink(MSComm1, AnswerRule::SerialCharacters, QStringLiteral("串口"));
    m_portList = new PortList(ui->Combo1, ui->PortInfo, m_options.ports, MSComm1, this);
    connect(m_portList, &PortList::infoShown, this, &Form1::showLinkStatus);

    m_usb = new HidLink(m_options.hid ? *m_options.hid : systemHidApi(), this);
    m_usb->setObjectName(QStringLiteral("UsbLink"));
    m_session->attachLink(m_usb, AnswerRule::UsbReports, QStringLiteral("USB"));
    m_session->setCurrentLink(MSComm1);
}

void Form1::showHiddenControls()
{
    for (QWidget *w : std::initializer_list<QWidget *> {
             ui->Option4, ui->Command12, ui->Command3, ui->Text2, ui->Command14})
        w->setVisible(true);
}

void Form1::tell(const QString &message)
{
    if (m_messages)
        m_messages->show(Msg::shown(message));
}

QString Form1::workLogText() const
{
    return m_log->text();
}

bool Form1::usbMode() const
{
    return m_session->currentLink() == m_usb;
}

int Form1::maxTextBytes() const
{
    return m_session->maxTextBytes();
}

QString Form1::hexPrefix() const
{
    return m_session->hexPrefix();
}

void Form1::recoverJournals()
{
    for (const LogFile::ExportResult &result : LogJournal::recoverOrphans(m_workDir)) {
        if (result.written)
            m_log->append(
                QStringLiteral("上次运行未正常结束，其工作记录已导出到 ") + result.path + kCrLf);
        else
            m_log->append(QStringLiteral("上次运行未正常结束，其工作记录无法导出（") + result.reason
                + QStringLiteral("），仍保留，下次启动时再导出") + kCrLf);
    }
}

void Form1::wireControls()
{
    addFrameCopyEntries(ui->Text5);
    connect(ui->Check5, &QCheckBox::clicked, this, &Form1::Check5_Click);
    connect(ui->Check1, &QCheckBox::toggled, this, &Form1::Check1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(ui->Command15, &QPushButton::clicked, this, &Form1::Command15_Click);
    connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    connect(ui->Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
    connect(ui->Combo1->lineEdit(), &QLineEdit::returnPressed, this, &Form1::Combo1_PathEntered);
    connect(ui->Option3, &QRadioButton::clicked, this, &Form1::Option3_Click);
    connect(ui->Option4, &QRadioButton::clicked, this, &Form1::Option4_Click);
    connect(ui->Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
    connect(MSComm1, &Link::failed, this, &Form1::onSerialLost);
    connect(MSComm1, &MSComm::reconnected, m_portList, &PortList::showInfo);
    connect(MSComm1, &MSComm::reconnected, m_replay, &ContinuousReplay::serialReconnected);
    connect(m_usb, &HidLink::boardMissing, this, [this] { tell(Msg::UsbMissing); });

    connect(ui->Combo5, &QComboBox::activated, this, &Form1::Combo5_Click);
    connect(ui->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(ui->HScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    connect(ui->HScroll2, &QScrollBar::valueChanged, this, &Form1::HScroll2_Change);
    connect(ui->HScroll3, &QScrollBar::valueChanged, this, &Form1::HScroll3_Change);
    connect(ui->Combo4, &QComboBox::activated, this, [this] { Combo4_Click(0); });
    connect(ui->Command34, &QPushButton::clicked, this, &Form1::Command34_Click);
    connect(ui->Command31, &QPushButton::clicked, this, &Form1::Command31_Click);
    connect(ui->Command32, &QPushButton::clicked, this, &Form1::Command32_Click);

    connect(ui->Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
    connect(ui->Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
    connect(ui->Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
    connect(ui->Command28, &QPushButton::clicked, this, &Form1::Command28_Click);
    connect(ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(ui->Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
    connect(ui->Command12, &QPushButton::clicked, this, &Form1::Command12_Click);
    connect(ui->Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(ui->Command13, &QPushButton::clicked, this, &Form1::Command13_Click);
    connect(ui->Command29, &QPushButton::clicked, this, &Form1::Command29_Click);
    connect(ui->Command30, &QPushButton::clicked, this, &Form1::Command30_Click);

    connect(ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(ui->Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    connect(ui->Command14, &QPushButton::clicked, this, &Form1::Command14_Click);

    // The hex editor's decode waits for typing to pause.
    auto *decodeSettle = new QTimer(this);
    decodeSettle->setSingleShot(true);
    decodeSettle->setInterval(150);
    connect(decodeSettle, &QTimer::timeout, this, &Form1::showHexDecode);
    connect(ui->Text5, &QPlainTextEdit::textChanged, decodeSettle, qOverload<>(&QTimer::start));
    ui->Text5Decode->setMinimumHeight(3 * ui->Text5Decode->fontMetrics().lineSpacing());
    decodeSettle->start();   // the frame the editor starts with
}

void Form1::Form_Load()
{
    // The start-up text is GBK in the working directory; it is created empty when missing.
    const QString startName = QStringLiteral("初始默认文本.txt");
    QByteArray startText;
    QString problem;
    if (LogFile::readStartText(QDir(m_workDir).absoluteFilePath(startName), &startText, &problem))
        ui->Text3->setPlainText(fromCrLf(fromGbk(startText)));
    else
        ui->Text3->clear();
    if (!problem.isEmpty())
        m_log->append(startName + u' ' + problem + kCrLf);

    if (ui->Option3->isChecked())
        m_session->setCurrentLink(MSComm1);
    if (ui->Option4->isChecked()) {
        m_session->setCurrentLink(m_usb);
        tell(QString::number(maxTextBytes()) + Msg::shown(Msg::MaxTextNotice));
        FindTheHid();
    }
    m_session->setHexPrefix(QString());
    m_replay->stop();
    ui->Check2->setChecked(true);
    ui->Check3->setChecked(true);
    TagSendEnabled = true;

    ui->Combo5->setCurrentIndex(1);
    Combo5_Click();
    ui->Combo2->setCurrentIndex(1);
    Combo2_Click();
    MSComm1->setSettings(QStringLiteral("9600,N,8,1"));
    MSComm1->setInBufferSize(2);
    ui->Combo3->setCurrentIndex(1);
    m_startingUp = true;   // the devices are listed once for the whole start-up
    m_portList->refresh();
    ui->Combo1->setCurrentIndex(0);
    Combo1_Click();
    m_startingUp = false;
    ui->Combo6->setCurrentIndex(0);
    ui->Combo7->setCurrentIndex(0);

    // The single retry; a failure here ends the start-up without a second message.
    if (!MSComm1->PortOpen()) {
        MSComm1->setCommPort(CommPortNumber, m_portList->pathFor(CommPortNumber),
            m_portList->deviceFor(CommPortNumber));
        MSComm1->setPortOpen(true);
    }
}

void Form1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_sized || event->spontaneous())
        return;
    m_sized = true;
    resize(firstSize(*this, static_cast<QScrollArea *>(centralWidget())->widget()));
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    stopTools();
    m_timing->endAllRuns();
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);

    const LogFile::ExportResult result = m_log->exportTo(m_workDir);
    if (result.written && !result.fallback) {
        m_journal->remove();
        return;
    }
    QString notice;
    if (result.written) {
        m_journal->remove();
        notice = tr("工作记录无法追加到 %1（%2），已保存到 %3")
                     .arg(QDir(m_workDir).absoluteFilePath(LogFile::kFileName), result.reason,
                         result.path);
    } else {
        notice = tr("工作记录无法保存（%1），它保留在 %2，下次启动时会再次导出")
                     .arg(result.reason, m_journal->paths().join(tr("、")));
    }
    std::fprintf(stderr, "%s\n", notice.toLocal8Bit().constData());
    if (m_messages && !m_quietClose)
        m_messages->showAndWait(notice);
}

// ---- work log ----

void Form1::Check5_Click()   // 加"0x"显示
{
    m_session->setHexPrefix(ui->Check5->isChecked() ? QStringLiteral("0x") : QString());
}

void Form1::Check1_Click()   // 回传解释
{
    m_session->setInterpretSerialAnswers(ui->Check1->isChecked());
}

void Form1::Command2_Click()   // 清空--工作记录
{
    m_log->clear();
}

void Form1::Command15_Click()   // 清空
{
    ui->Text3->clear();
}

void Form1::Command1_Click()   // 清空发送区
{
    ui->Text5->clear();
}

// ---- the public send operation ----

void Form1::SendFrameData(const QVariantList &FrameBuff)
{
    int bad = -1;
    const std::optional<QByteArray> frame = frameFromValues(FrameBuff, &bad);
    if (!frame) {
        m_session->log(
            QStringLiteral("帧数据第 %1 个元素不是 0-255 的整数，此帧未发送").arg(bad + 1));
        return;
    }
    if (frame->isEmpty()) {
        m_session->log(QStringLiteral("帧数据为空，此帧未发送"));
        return;
    }
    m_session->send(*frame);
}
