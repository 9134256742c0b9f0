#include "internaltest.h"

#include "codepage.h"
#include "frame.h"

namespace {

// The chip speaks the script's texts as GBK (code page 936).
QByteArray gbkSynthesisFrame(const QString &text)
{
    return synthesisFrame(quint8(Encoding::Gbk), toGbk(text));
}

class ScriptBuilder
{
public:
    void send(const QByteArray &frame, int waitMs)
    {
        m_steps.append({ScriptStep::Kind::SendFrame, frame, 0});
        wait(waitMs);
    }
    void wait(int ms) { m_steps.append({ScriptStep::Kind::Wait, {}, ms}); }
    void add(ScriptStep::Kind kind) { m_steps.append({kind, {}, 0}); }
    QList<ScriptStep> steps() const { return m_steps; }

private:
    QList<ScriptStep> m_steps;
};

}   // namespace

QString longTestSentence()
{
    return QStringLiteral("网址www.example.cn，-12.5%。-8℃。传真是:0755-12345678，看3D电影"
                          " sound101 sound102 [f0]这是发音风格为一字一顿的效果；[d]");
}

QByteArray longTextFrame()
{
    return gbkSynthesisFrame(longTestSentence());
}

QByteArray welcomeFrame()
{
    return gbkSynthesisFrame(QStringLiteral("欢迎观看语音合成系统的演示"));
}

QByteArray polyphoneFrame()
{
    return gbkSynthesisFrame(QStringLiteral("银行行长穿过人行道向骑着自行车的银行职员行走过去"));
}

QByteArray phaseMarkerFrame(int phase)
{
    return gbkSynthesisFrame(QStringLiteral("sound101 %1").arg(phase));
}

int finalWaitMilliseconds(int maxTextBytes)
{
    // Long enough for the chip to speak the demonstration text's first piece to its end.
    if (maxTextBytes == kSerialMaxTextBytes)
        return 500000;
    if (maxTextBytes == kUsbMaxTextBytes)
        return 70000;
    return 0;
}

QList<ScriptStep> internalTestScript()
{
    const QByteArray welcome = welcomeFrame();
    const QByteArray polyphone = polyphoneFrame();
    const QByteArray longText = longTextFrame();
    const QByteArray stop = commandFrame(Command::Stop);
    const QByteArray pause = commandFrame(Command::Pause);
    const QByteArray resume = commandFrame(Command::Resume);
    const QByteArray standby = commandFrame(Command::Standby);
    const QByteArray wakeUp = commandFrame(Command::WakeUp);
    ScriptBuilder s;

    // Phase 1: new text at growing intervals.
    s.send(phaseMarkerFrame(1), 1000);
    for (const int gap : {200, 500, 1000, 1500, 2000, 3000}) {
        s.send(welcome, gap);
        s.send(polyphone, gap);
        s.send(longText, gap);
    }
    s.send(welcome, 4000);
    s.send(polyphone, 8000);
    s.send(longText, 24000);

    // Phase 2: pause and resume, three, four and five times, then stop.
    s.send(phaseMarkerFrame(2), 1000);
    int pauses = 3;
    for (const QByteArray &text : {welcome, polyphone, longText}) {
        s.send(text, 1000);
        for (int i = 0; i < pauses; ++i) {
            s.send(pause, 1000);
            s.send(resume, 1000);
        }
        s.send(stop, 200);
        ++pauses;
    }

    // Phase 3: standby and wake-up in three series.
    struct Series
    {
        int afterText, afterStandby, afterShortWakeUp, afterLongWakeUp;
    };
    s.send(phaseMarkerFrame(3), 1000);
    for (const Series &series : {Series {1000, 1000, 200, 1000}, Series {2000, 2000, 200, 2000},
             Series {3000, 1000, 200, 1000}}) {
        const QByteArray texts[] = {welcome, polyphone, longText};
        for (int i = 0; i < 3; ++i) {
            s.send(texts[i], series.afterText);
            s.send(standby, series.afterStandby);
            s.send(wakeUp, i == 2 ? series.afterLongWakeUp : series.afterShortWakeUp);
        }
    }

    // Phase 4: the demonstration text synthesized seven times at growing intervals.
    s.send(phaseMarkerFrame(4), 1000);
    s.add(ScriptStep::Kind::LoadDemoText);
    for (const int gap : {1000, 1500, 2000, 3000, 5000, 10000, 20000}) {
        s.add(ScriptStep::Kind::Synthesize);
        s.wait(gap);
    }

    // Phase 5: the demonstration text once, then a long pause while the chip speaks it.
    s.send(phaseMarkerFrame(5), 1000);
    s.add(ScriptStep::Kind::LoadDemoText);
    s.add(ScriptStep::Kind::Synthesize);
    s.add(ScriptStep::Kind::FinalWait);
    return s.steps();
}
