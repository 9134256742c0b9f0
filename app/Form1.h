#pragma once

#include "codetable.h"
#include "mscomm.h"
#include "portresolver.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <memory>
#include <optional>

enum class TagBar : char;
class HidApi;
class HidLink;
class InternalTestRunner;
class LogJournal;
class OperatorMessages;
class WorkLog;
namespace Ui {
class Form1;
}

// What the window takes from outside: the command line's choices and the devices to talk to.
struct Form1Options
{
    PortResolver ports;   // COMn -> device
    bool internal = false;   // show the controls the window as built keeps hidden
    HidApi *hid = nullptr;   // the USB HID calls; nullptr: this system's hidapi
    QString tablePath;   // the code table; empty: beside the program
    QString workDir;   // start-up text and LOG.txt; empty: the working directory
};

// The main window: its controls, its window-level state and the serial control. Every handler
// runs on the window's thread and returns at once; waits are timers.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    Form1(Form1Options options, OperatorMessages *messages, QWidget *parent = nullptr);
    ~Form1() override;

    // Searches the present HID devices for the board and opens it; false when it is absent.
    bool FindTheHid();
    // Sends a frame given as numbers 0-255 (the internal test's form).
    void SendFrameData(const QVariantList &FrameBuff);

    // The work log's whole text, CR LF form.
    QString workLogText() const;
    MSComm *serialControl() const { return MSComm1; }
    // Closing without a message box: faults of the export go to standard error only.
    void setQuietClose(bool quiet) { m_quietClose = quiet; }

    // Window-level state, named as the operator's documentation names it.
    QString MaxTextNotice;
    bool UsbMode = false;
    int MaxTextBytes = 4091;
    quint8 FrameHead = 0xFD;
    int FrameLast = 0;
    int SendLength = 0;
    QByteArray FrameBytes;
    int FrameLength = 0;
    int TextByteCount = 0;
    int EncodingIndex = 1;
    int CommPortNumber = 1;
    QString HexPrefix;
    bool ContinuousPlay = false;
    double ContinuousPlayTicks = 0;
    bool TagSendEnabled = true;
    int PacketIndex = 0;
    quint8 UsbReplyPending = 0;

    // USB link state, kept by the link: the board found and usable, the device path and the
    // report lengths (report id included). hidapi keeps the handles themselves.
    struct HidCapabilities
    {
        int InputReportByteLength = 0;
        int OutputReportByteLength = 0;
    };
    bool HidFound() const;
    bool HidLinked() const;
    QByteArray HidPath() const;
    HidCapabilities HidCaps() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setupLinks();
    void wireControls();
    void stopTools();
    void setupTools();
    void showHiddenControls();
    void refreshPortList();
    void showPortInfo();
    void tell(const QString &message);
    void recoverJournals();

    // start-up and shutdown
    void Form_Load();
    void Form_Unload();

    // work log
    void Check5_Click();
    void Command2_Click();
    void Command15_Click();
    void Command1_Click();

    // send path
    void sendFrame(const QByteArray &frame);
    void sendTextFrame(const QByteArray &frame);
    void LogSentFrame(const QByteArray &frame);
    void TransmitFrame(const QByteArray &frame);
    void sendOverUsb(const QByteArray &frame);

    // serial link
    void Combo1_Click();
    void Combo1_PathEntered();
    void Option3_Click();
    void Combo2_Click();
    void MSComm1_OnComm();
    void readAnswers();
    void openSelectedPort();
    void onSerialFailed(const QString &reason);

    // USB link
    void Option4_Click();
    void Timer2_Timer();
    void onUsbAnswer(quint8 code);
    void usbContinuousStep();

    // synthesis and tags
    void Combo5_Click();
    void Command6_Click();
    std::optional<QByteArray> textToSend();
    std::optional<CodeTable> loadCodeTable();
    void HScroll1_Change();
    void HScroll2_Change();
    void HScroll3_Change();
    void scrollChanged(TagBar bar, int value);
    void Combo4_Click(int Index);
    void Command34_Click();
    void Command31_Click();
    void Command32_Click();

    // chip control
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command28_Click();
    void Command5_Click();
    void Command11_Click();
    void Command12_Click();
    void Command10_Click();
    void Command13_Click();
    void Command29_Click();
    void Command30_Click();
    void sendEditorFrame(bool withHeader);

    // test tools
    void Command3_Click();
    void Timer1_Timer();
    void Text2_Change();
    void Command14_Click();

    std::unique_ptr<Ui::Form1> ui;
    Form1Options m_options;
    OperatorMessages *m_messages;
    std::unique_ptr<LogJournal> m_journal;
    std::unique_ptr<WorkLog> m_log;
    MSComm *MSComm1;
    QTimer *Timer1;
    QTimer *Timer2;
    QTimer m_answerPause;
    HidLink *m_usb = nullptr;
    InternalTestRunner *m_internalTest = nullptr;
    QString m_workDir;
    bool m_unloaded = false;
    bool m_quietClose = false;
};
