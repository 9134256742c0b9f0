<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Form1</name>
    <message>
        <source>Korvel-ORV4120语音合成芯片-PC端演示程序 V%1</source>
        <translation>Korvel-ORV4120 Speech Synthesis Chip - PC Demo V%1</translation>
    </message>
    <message>
        <source>发送文本--（PC默认为GBK编码格式）</source>
        <translation>Send text -- (the PC sends GBK by default)</translation>
    </message>
    <message>
        <source>欢迎光临
</source>
        <translation>欢迎光临
</translation>
    </message>
    <message>
        <source>在这里输入要合成的文字，或按“载入--演示文本”，然后按“合成”</source>
        <translation>Type the text to synthesize here, or press “Load -- demo”, then “Synthesize”</translation>
    </message>
    <message>
        <source>合成</source>
        <translation>Synthesize</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>载入--演示文本</source>
        <translation>Load -- demo</translation>
    </message>
    <message>
        <source>载入----提示音</source>
        <translation>Load -- tones</translation>
    </message>
    <message>
        <source>发送编码--（用户自已自由定义要发送的16进制编码）（可测试任意编码格式）（格式严格匹配，格式为：2位16进制数值+1个空格符）</source>
        <translation>Send hex -- (bytes of your own choosing, in hexadecimal) (any encoding can be tested) (strict format: 2 hex digits + 1 space per byte)</translation>
    </message>
    <message>
        <source>FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 CD B3 B5 C4 D1 DD CA BE A3 A1
</source>
        <translation>FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 CD B3 B5 C4 D1 DD CA BE A3 A1
</translation>
    </message>
    <message>
        <source>帧的内容</source>
        <translation>Frame contents</translation>
    </message>
    <message>
        <source>直接播放</source>
        <translation>Play as is</translation>
    </message>
    <message>
        <source>添加命令头播放(自动)</source>
        <translation>With header (auto)</translation>
    </message>
    <message>
        <source>清空发送区</source>
        <translation>Clear hex</translation>
    </message>
    <message>
        <source>工作记录：</source>
        <translation>Work log:</translation>
    </message>
    <message>
        <source>加&quot;0x&quot;显示</source>
        <translation>Show &quot;0x&quot;</translation>
    </message>
    <message>
        <source>回传解释</source>
        <translation>Explain answers</translation>
    </message>
    <message>
        <source>清空--工作记录</source>
        <translation>Clear -- work log</translation>
    </message>
    <message>
        <source>TTS属性</source>
        <translation>TTS settings</translation>
    </message>
    <message>
        <source>发音人</source>
        <translation>Voice</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>语速</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source>语调</source>
        <translation>Pitch</translation>
    </message>
    <message>
        <source>控制标记恢复默认值[d]</source>
        <translation>Reset tags [d]</translation>
    </message>
    <message>
        <source>按姓名处理</source>
        <translation>Names</translation>
    </message>
    <message>
        <source>读标点符号</source>
        <translation>Punctuation</translation>
    </message>
    <message>
        <source>1读成&quot;幺&quot;</source>
        <translation>1 as &quot;yao&quot;</translation>
    </message>
    <message>
        <source>系统设置</source>
        <translation>System settings</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>内部USB(SPI)</source>
        <translation>Internal USB (SPI)</translation>
    </message>
    <message>
        <source>端口号</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>COM1</source>
        <translation>COM1</translation>
    </message>
    <message>
        <source>COM2</source>
        <translation>COM2</translation>
    </message>
    <message>
        <source>COM3</source>
        <translation>COM3</translation>
    </message>
    <message>
        <source>COM4</source>
        <translation>COM4</translation>
    </message>
    <message>
        <source>COM5</source>
        <translation>COM5</translation>
    </message>
    <message>
        <source>COM6</source>
        <translation>COM6</translation>
    </message>
    <message>
        <source>COM7</source>
        <translation>COM7</translation>
    </message>
    <message>
        <source>COM8</source>
        <translation>COM8</translation>
    </message>
    <message>
        <source>COM9</source>
        <translation>COM9</translation>
    </message>
    <message>
        <source>COM10</source>
        <translation>COM10</translation>
    </message>
    <message>
        <source>COM11</source>
        <translation>COM11</translation>
    </message>
    <message>
        <source>COM12</source>
        <translation>COM12</translation>
    </message>
    <message>
        <source>COM13</source>
        <translation>COM13</translation>
    </message>
    <message>
        <source>COM14</source>
        <translation>COM14</translation>
    </message>
    <message>
        <source>COM15</source>
        <translation>COM15</translation>
    </message>
    <message>
        <source>COM16</source>
        <translation>COM16</translation>
    </message>
    <message>
        <source>COM17</source>
        <translation>COM17</translation>
    </message>
    <message>
        <source>COM18</source>
        <translation>COM18</translation>
    </message>
    <message>
        <source>COM19</source>
        <translation>COM19</translation>
    </message>
    <message>
        <source>COM20</source>
        <translation>COM20</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>波特率4800</source>
        <translation>4800 baud</translation>
    </message>
    <message>
        <source>波特率9600</source>
        <translation>9600 baud</translation>
    </message>
    <message>
        <source>波特率57600</source>
        <translation>57600 baud</translation>
    </message>
    <message>
        <source>波特率115200</source>
        <translation>115200 baud</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>查询</source>
        <translation>Query</translation>
    </message>
    <message>
        <source>STANDBY</source>
        <translation>STANDBY</translation>
    </message>
    <message>
        <source>唤醒</source>
        <translation>Wake up</translation>
    </message>
    <message>
        <source>内部版本查询</source>
        <translation>Version query</translation>
    </message>
    <message>
        <source>起始区段</source>
        <translation>Start segment</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <source>11</source>
        <translation>11</translation>
    </message>
    <message>
        <source>12</source>
        <translation>12</translation>
    </message>
    <message>
        <source>13</source>
        <translation>13</translation>
    </message>
    <message>
        <source>14</source>
        <translation>14</translation>
    </message>
    <message>
        <source>15</source>
        <translation>15</translation>
    </message>
    <message>
        <source>缓存存储</source>
        <translation>Cache store</translation>
    </message>
    <message>
        <source>重播次数</source>
        <translation>Repeat count</translation>
    </message>
    <message>
        <source>01</source>
        <translation>01</translation>
    </message>
    <message>
        <source>02</source>
        <translation>02</translation>
    </message>
    <message>
        <source>03</source>
        <translation>03</translation>
    </message>
    <message>
        <source>04</source>
        <translation>04</translation>
    </message>
    <message>
        <source>05</source>
        <translation>05</translation>
    </message>
    <message>
        <source>06</source>
        <translation>06</translation>
    </message>
    <message>
        <source>07</source>
        <translation>07</translation>
    </message>
    <message>
        <source>08</source>
        <translation>08</translation>
    </message>
    <message>
        <source>09</source>
        <translation>09</translation>
    </message>
    <message>
        <source>缓存播放</source>
        <translation>Cache play</translation>
    </message>
    <message>
        <source>编码选择：</source>
        <translation>Encoding:</translation>
    </message>
    <message>
        <source>编码选择</source>
        <translation>Encoding</translation>
    </message>
    <message>
        <source>GB2312</source>
        <translation>GB2312</translation>
    </message>
    <message>
        <source>GBK</source>
        <translation>GBK</translation>
    </message>
    <message>
        <source>BIG5</source>
        <translation>BIG5</translation>
    </message>
    <message>
        <source>Unicode小头</source>
        <translation>UTF-16LE</translation>
    </message>
    <message>
        <source>Unicode大头</source>
        <translation>UTF-16BE</translation>
    </message>
    <message>
        <source>其它</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>内部连续播放</source>
        <translation>Internal replay</translation>
    </message>
    <message>
        <source>内部连续播放秒数</source>
        <translation>Internal replay seconds</translation>
    </message>
    <message>
        <source>每</source>
        <translation>Every</translation>
    </message>
    <message>
        <source>30</source>
        <translation>30</translation>
    </message>
    <message>
        <source>每 秒</source>
        <translation>Every  s</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>内部测试</source>
        <translation>Internal test</translation>
    </message>
    <message>
        <source>输出方式选择</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>DA输出</source>
        <translation>DA output</translation>
    </message>
    <message>
        <source>PWM 输出(默认)</source>
        <translation>PWM (default)</translation>
    </message>
    <message>
        <source>输出方式设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>同时发送</source>
        <translation>Together</translation>
    </message>
    <message>
        <source>插入</source>
        <translation>Insert</translation>
    </message>
    <message>
        <source>重复播放--测试用</source>
        <translation>Repeat (test)</translation>
    </message>
    <message>
        <source>背景音乐:</source>
        <translation>Music:</translation>
    </message>
    <message>
        <source>工作记录无法追加到 %1（%2），已保存到 %3</source>
        <translation>The work log could not be appended to %1 (%2); it was saved to %3</translation>
    </message>
    <message>
        <source>工作记录无法保存（%1），它保留在 %2，下次启动时会再次导出</source>
        <translation>The work log could not be saved (%1); it stays in %2 and is exported again at the next start</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1：1 秒内无应答，请检查板子连接和波特率</source>
        <translation>%1: no answer within 1 s; check the board connection and the baud rate</translation>
    </message>
    <message>
        <source>发送情况</source>
        <translation>Text sent</translation>
    </message>
    <message>
        <source>当前连接</source>
        <translation>Current link</translation>
    </message>
    <message>
        <source>内部USB(SPI)：USB 板 %1</source>
        <translation>Internal USB (SPI): USB board %1</translation>
    </message>
    <message>
        <source>内部USB(SPI)：未找到 USB 板</source>
        <translation>Internal USB (SPI): no USB board found</translation>
    </message>
    <message>
        <source>串口 %1</source>
        <translation>Serial port %1</translation>
    </message>
    <message>
        <source>已发送 %1 字（%2 字节）</source>
        <translation>Sent %1 characters (%2 bytes)</translation>
    </message>
    <message>
        <source>，其余 %1 字未发送</source>
        <translation>, %1 characters not sent</translation>
    </message>
    <message>
        <source>；GBK 中没有、以“?”发送：%1</source>
        <translation>; not in GBK, sent as “?”: %1</translation>
    </message>
    <message>
        <source>；BIG5 中没有、以“？”发送：%1</source>
        <translation>; not in BIG5, sent as “？”: %1</translation>
    </message>
    <message>
        <source>；不在 GB2312 中、芯片可能读不出：%1</source>
        <translation>; outside GB2312, the chip may not read: %1</translation>
    </message>
    <message>
        <source>格式不匹配：第 %1 个字符不是16进制数值</source>
        <translation>Format mismatch: character %1 is not a hexadecimal value</translation>
    </message>
    <message>
        <source>直接播放：%1</source>
        <translation>As is: %1</translation>
    </message>
    <message>
        <source>问题：%1</source>
        <translation>Problems: %1</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>添加命令头：%1</source>
        <translation>With header: %1</translation>
    </message>
    <message>
        <source>停止内部测试</source>
        <translation>Stop internal test</translation>
    </message>
    <message>
        <source>%1：串口已关闭，同一适配器回来时自动重新打开</source>
        <translation>%1: the port is closed; it opens again by itself when the same adapter comes back</translation>
    </message>
    <message>
        <source>%1：串口已关闭，不会自动重新打开，请重新选择端口</source>
        <translation>%1: the port is closed and does not open again by itself; pick the port again</translation>
    </message>
    <message>
        <source>内部连续播放已停止：%1 毫秒内没有收到 USB 板的接收回传（0xAA/0xAB/0xAC）</source>
        <translation>Internal replay stopped: no receipt (0xAA/0xAB/0xAC) from the USB board within %1 ms</translation>
    </message>
    <message>
        <source>内部连续播放已停止：串口重新连接后芯片 1 秒内没有应答</source>
        <translation>Internal replay stopped: the chip did not answer within 1 s after the serial port came back</translation>
    </message>
</context>
<context>
    <name>FrameCopyMenu</name>
    <message>
        <source>复制为 C 数组</source>
        <translation>Copy as C array</translation>
    </message>
    <message>
        <source>复制为 Python bytes</source>
        <translation>Copy as Python bytes</translation>
    </message>
</context>
<context>
    <name>LogJournal</name>
    <message>
        <source>工作记录无法写入日志文件（%1），此时程序若崩溃，工作记录将丢失；正常关闭窗口时仍会导出</source>
        <translation>The work log cannot be written to its journal file (%1): if the program crashes now, the work log is lost; closing the window normally still exports it</translation>
    </message>
</context>
<context>
    <name>Msg</name>
    <message>
        <source>串口不存在或被占用,若电脑没有串口，请使用USB转串口设备</source>
        <translation>The serial port does not exist or is in use. If the computer has no serial port, please use a USB-to-serial adapter</translation>
    </message>
    <message>
        <source>USB连接失败</source>
        <translation>USB connection failed</translation>
    </message>
    <message>
        <source>您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ 找不到GBKToBig5AndUnicode.dat文件！ 无法解析文件编码！ 请选择GBK编码，再合成！</source>
        <translation>The encoding you have chosen is Big5 or Unicode (see the encoding choice at the lower right of the window)! GBKToBig5AndUnicode.dat cannot be found! The text cannot be converted! Please choose GBK and synthesize again!</translation>
    </message>
    <message>
        <source>您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ GBKToBig5AndUnicode.dat文件不完整（应为96264字节）！ 无法解析文件编码！ 请重新生成该文件，或选择GBK编码，再合成！</source>
        <translation>The encoding you have chosen is Big5 or Unicode (see the encoding choice at the lower right of the window)! GBKToBig5AndUnicode.dat is incomplete (it should be 96264 bytes)! The text cannot be converted! Please generate the file again, or choose GBK, and synthesize again!</translation>
    </message>
    <message>
        <source>您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ GBKToBig5AndUnicode.dat文件无法读取（%1）！ 无法解析文件编码！ 请选择GBK编码，再合成！</source>
        <translation>The encoding you have chosen is Big5 or Unicode (see the encoding choice at the lower right of the window)! GBKToBig5AndUnicode.dat cannot be read (%1)! The text cannot be converted! Please choose GBK and synthesize again!</translation>
    </message>
    <message>
        <source>格式不匹配，不是16进制数值</source>
        <translation>Format mismatch: not hexadecimal values</translation>
    </message>
    <message>
        <source>16进制数值太多：一帧最多可带65533个数据字节，请分成几帧发送</source>
        <translation>Too many hexadecimal values: a frame carries at most 65533 data bytes; please send them in several frames</translation>
    </message>
    <message>
        <source>请输入大于等于1的整数</source>
        <translation>Please enter a whole number of 1 or more</translation>
    </message>
    <message>
        <source>请在“起始区段”中选择一个区段（0-15）</source>
        <translation>Please choose a segment (0-15) under “Start segment”</translation>
    </message>
    <message>
        <source>请在“重播次数”中选择次数（01-15）</source>
        <translation>Please choose a count (01-15) under “Repeat count”</translation>
    </message>
    <message>
        <source>字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测试！目前F320最多仅能缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，大于帧与帧之间的最短间隔时间8ms，不可测试！</source>
        <translation> bytes: this is the longest text sent at a time (without the 5-byte frame head)! Please test long texts directly on the F320! At present the F320 can buffer no more than this many bytes! More would have to be sent in packets, but the handshake takes 20 ms, longer than the shortest gap of 8 ms between frames, so it cannot be tested!</translation>
    </message>
</context>
<context>
    <name>PortList</name>
    <message>
        <source>无此设备</source>
        <translation>no such device</translation>
    </message>
    <message>
        <source>已打开</source>
        <translation>open</translation>
    </message>
    <message>
        <source>未打开</source>
        <translation>not open</translation>
    </message>
    <message>
        <source>%1，%2</source>
        <translation>%1, %2</translation>
    </message>
</context>
<context>
    <name>TimingPanel</name>
    <message>
        <source>时序</source>
        <translation>Timing</translation>
    </message>
    <message>
        <source>每帧的应答、延迟和播音时间</source>
        <translation>Answers, latency and speech time of each frame</translation>
    </message>
    <message>
        <source>测试报告：%1</source>
        <translation>Test report: %1</translation>
    </message>
    <message>
        <source>测试报告未能写完（缺 %1 行）：%2；可用“另存报告…”存到别处</source>
        <translation>Test report not complete (%1 rows missing): %2; use “Save report as…” to save it elsewhere</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>测试报告无法保存：%1</source>
        <translation>Test report cannot be saved: %1</translation>
    </message>
    <message>
        <source>测试报告无法写入：%1</source>
        <translation>Test report cannot be written: %1</translation>
    </message>
</context>
<context>
    <name>TimingRows</name>
    <message>
        <source>串口</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>被新帧取代</source>
        <translation>replaced by a new frame</translation>
    </message>
    <message>
        <source>待机</source>
        <translation>standby</translation>
    </message>
    <message>
        <source>芯片重启</source>
        <translation>chip restarted</translation>
    </message>
    <message>
        <source>未结束</source>
        <translation>unfinished</translation>
    </message>
    <message>
        <source>未发出</source>
        <translation>not sent</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>接收失败(45)</source>
        <translation>refused (45)</translation>
    </message>
    <message>
        <source>收据后无芯片应答</source>
        <translation>no chip answer after receipt</translation>
    </message>
    <message>
        <source>无状态应答</source>
        <translation>no state answer</translation>
    </message>
    <message>
        <source>无版本文本</source>
        <translation>no version text</translation>
    </message>
    <message>
        <source>停止后无 4F</source>
        <translation>no 4F after stop</translation>
    </message>
    <message>
        <source>应答早于帧发完</source>
        <translation>answer before the frame ended</translation>
    </message>
    <message>
        <source>无帧等待的应答</source>
        <translation>answer with no frame waiting</translation>
    </message>
    <message>
        <source>结束时仍在等待</source>
        <translation>still waiting at the end</translation>
    </message>
    <message>
        <source>（无帧）</source>
        <translation>(no frame)</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>帧</source>
        <translation>Frame</translation>
    </message>
    <message>
        <source>应答</source>
        <translation>Answers</translation>
    </message>
    <message>
        <source>延迟 ms</source>
        <translation>Latency ms</translation>
    </message>
    <message>
        <source>播音 s</source>
        <translation>Speech s</translation>
    </message>
    <message>
        <source>问题</source>
        <translation>Problems</translation>
    </message>
</context>
<context>
    <name>TimingView</name>
    <message>
        <source>每帧的时序</source>
        <translation>Timing of each frame</translation>
    </message>
    <message>
        <source>时序统计</source>
        <translation>Timing counts</translation>
    </message>
    <message>
        <source>测试报告</source>
        <translation>Test report</translation>
    </message>
    <message>
        <source>保存报告</source>
        <translation>Save report</translation>
    </message>
    <message>
        <source>清空时序</source>
        <translation>Clear timing</translation>
    </message>
    <message>
        <source>延迟 ms</source>
        <translation>Latency ms</translation>
    </message>
    <message>
        <source>播音 s</source>
        <translation>Speech s</translation>
    </message>
    <message>
        <source>时间 s</source>
        <translation>Time s</translation>
    </message>
    <message>
        <source>延迟和播音时间</source>
        <translation>Latency and speech time</translation>
    </message>
    <message>
        <source>另存报告…</source>
        <translation>Save report as…</translation>
    </message>
    <message>
        <source>测试报告保存到</source>
        <translation>Save the test report in</translation>
    </message>
    <message>
        <source>图表模块无法载入：%1</source>
        <translation>The chart module cannot be loaded: %1</translation>
    </message>
</context>
<context>
    <name>Voice</name>
    <message>
        <source>晓燕</source>
        <translation>Xiaoyan</translation>
    </message>
    <message>
        <source>子轩</source>
        <translation>Zixuan</translation>
    </message>
    <message>
        <source>晓萍</source>
        <translation>Xiaoping</translation>
    </message>
    <message>
        <source>志刚</source>
        <translation>Zhigang</translation>
    </message>
    <message>
        <source>欣妍</source>
        <translation>Xinyan</translation>
    </message>
    <message>
        <source>乐乐</source>
        <translation>Lele</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>虚拟板</source>
        <translation>virtual board</translation>
    </message>
</context>
</TS>
