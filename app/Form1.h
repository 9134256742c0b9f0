#pragma once

#include "link.h"
#include "portresolver.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringView>
#include <QVariantList>

#include <memory>
#include <optional>

enum class Command : quint8;
enum class TagBar : char;
class ContinuousReplay;
class HidApi;
class HidLink;
class InternalTestRunner;
class LogJournal;
class MSComm;
class QLabel;
class OperatorMessages;
class PortList;
class Session;
struct TextFrame;
class TimingPanel;
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

// The main window: its controls, its window-level state, the serial control and the USB link.
// Frames and answers go through the session below it. The port list, the timing panel and
// continuous replay are classes of their own that the window makes and wires to its controls.
// Every handler runs on the window's thread and returns at once; waits are timers.
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

    // Closing without a message box: faults of the export go to standard error only.
    void setQuietClose(bool quiet) { m_quietClose = quiet; }

    // What tests and tools read of the window's state.
    QString workLogText() const;
    MSComm *serialControl() const { return MSComm1; }
    HidLink *usbLink() const { return m_usb; }
    const PortResolver &ports() const { return m_options.ports; }
    Session *session() const { return m_session.get(); }
    int encodingIndex() const { return EncodingIndex; }
    int commPortNumber() const { return CommPortNumber; }
    bool continuousPlay() const;
    bool usbMode() const;
    int maxTextBytes() const;
    QString hexPrefix() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    class LogBox;

    void setupLinks();
    void setupStatusBar();
    void setupBarLevels();
    void showBarLevel(TagBar bar, int value);
    void showLinkStatus();
    void showTextStatus(QStringView sent, QStringView left, int bytes);
    void showNotice(const QString &notice);
    void setupTools();
    void wireControls();
    void showHiddenControls();
    void tell(const QString &message);
    void recoverJournals();
    void stopTools();

    // start-up and shutdown
    void Form_Load();
    void Form_Unload();

    // work log
    void Check5_Click();   // 加"0x"显示
    void Check1_Click();   // 回传解释
    void Command2_Click();   // 清空--工作记录
    void Command15_Click();   // 清空 (send box)
    void Command1_Click();   // 清空发送区 (hex editor)

    // serial link
    void Option3_Click();   // 串口
    void Combo1_Click();   // 端口号
    void Combo1_PathEntered();   // a device path typed into 端口号
    void Combo2_Click();   // 波特率
    void reopenPort(const QString &path);
    void onSerialLost();

    // USB link
    void Option4_Click();   // 内部USB(SPI)

    // synthesis and tags
    void Combo5_Click();   // 编码选择
    void Command6_Click();   // 合成
    std::optional<QByteArray> selectionFrame(Command command, quint8 parameter);
    bool tableUsable(const TextFrame &text);
    void HScroll1_Change();   // 音量
    void HScroll2_Change();   // 语速
    void HScroll3_Change();   // 语调
    void scrollChanged(TagBar bar, int value);
    void Combo4_Click(int Index);   // 发音人
    void Command34_Click();   // 控制标记恢复默认值[d]
    void Command31_Click();   // 载入--演示文本
    void Command32_Click();   // 载入----提示音

    // chip control
    void Command7_Click();   // 停止
    void Command8_Click();   // 暂停
    void Command9_Click();   // 恢复
    void Command28_Click();   // 查询
    void Command5_Click();   // STANDBY
    void Command11_Click();   // 唤醒
    void Command12_Click();   // 内部版本查询
    void Command10_Click();   // 缓存存储
    void Command13_Click();   // 缓存播放
    void Command29_Click();   // 直接播放
    void Command30_Click();   // 添加命令头播放(自动)
    void sendEditorFrame(bool withHeader);

    void showHexDecode();

    // test tools
    void setupReplay();
    void Command3_Click();   // 内部连续播放
    void Text2_Change();   // replay seconds
    void Command14_Click();   // 内部测试

    std::unique_ptr<Ui::Form1> ui;
    Form1Options m_options;
    OperatorMessages *m_messages;
    std::unique_ptr<LogJournal> m_journal;
    std::unique_ptr<WorkLog> m_log;
    std::unique_ptr<LogBox> m_logBox;
    std::unique_ptr<Session> m_session;
    MSComm *MSComm1 = nullptr;
    HidLink *m_usb = nullptr;
    PortList *m_portList = nullptr;
    QLabel *m_linkStatus = nullptr;   // status bar: the link in use
    QLabel *m_textStatus = nullptr;   // status bar: what the last text frame carried
    ContinuousReplay *m_replay = nullptr;   // its clock is Timer1
    InternalTestRunner *m_internalTest = nullptr;
    QString m_workDir;
    bool m_unloaded = false;
    bool m_quietClose = false;
    bool m_sized = false;   // the first show gave the window its size
    bool m_startingUp = false;
    TimingPanel *m_timing = nullptr;

    // Window-level state under its documented names.
    int EncodingIndex = 1;   // list index of 编码选择, the synthesis parameter
    int CommPortNumber = 1;   // the COMn last chosen
    bool TagSendEnabled = true;   // the tone bars send tags
};
