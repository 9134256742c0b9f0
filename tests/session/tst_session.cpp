#include "fakelink.h"
#include "logsink.h"
#include "session.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

struct RecordedLog : LogSink
{
    void append(const QString &entry) override { text += entry; }
    QString text;
};

// A session with a serial link (9600 baud) and a USB link attached, serial current.
struct Fixture
{
    Fixture()
    {
        session.setLogSink(&log);
        session.attachLink(&serial, AnswerRule::SerialCharacters);
        session.attachLink(&usb, AnswerRule::UsbReports);
        session.setCurrentLink(&serial);
    }
    RecordedLog log;
    FakeLink serial {4091, 9600};
    FakeLink usb {512, 0};
    Session session;
};

QByteArray usbReport(quint8 code)
{
    QByteArray report(33, '\0');
    report[1] = char(code);
    return report;
}

}   // namespace

class TstSession : public QObject
{
    Q_OBJECT
private slots:
    void serialReads_data();
    void serialReads();
    void usbReports();
    void textFrameFollowsTheLink_data();
    void textFrameFollowsTheLink();
    void sendLogsThenHandsOver();
    void droppedFramesLogged();
};

void TstSession::serialReads_data()
{
    // Pieces arrive this many milliseconds apart; each is one read of the device.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QString>("lines");
    QTest::newRow("a stray lead byte takes nothing from the next read")
        << QList<QByteArray> {"\xFE", "O"} << 100 << QStringLiteral("<---- 返回：4F  芯片空闲\r\n");
    QTest::newRow("a version text in two pieces is one answer")
        << QList<QByteArray> {"SV3.4 ", "ORV4120 virtual"} << 10
        << QStringLiteral("<---- 返回：58  软件版本号：SV3.4 ORV4120 virtual\r\n");
    QTest::newRow("two answers in one read, the third dropped") << QList<QByteArray> {
        "AON"} << 0 << QStringLiteral("<---- 返回：41  接收成功\r\n<---- 返回：4F  芯片空闲\r\n");
}

void TstSession::serialReads()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, gapMs);
    QFETCH(QString, lines);
    Fixture f;
    f.session.setCurrentLink(&f.usb);   // answers of a link that is not current are read too
    QSignalSpy idle(&f.session, &Session::idleAnswerRead);
    for (const QByteArray &piece : pieces) {
        f.serial.arrive(piece);
        QTest::qWait(gapMs);
    }
    QTRY_COMPARE(f.log.text, lines);
    QCOMPARE(idle.size(), int(lines.count(QStringLiteral("4F"))));

    // Read at once when the last piece is announced, as a front end does that sees the answer
    // in the raw bytes: the same lines, now, and none again when the pause would have ended.
    Fixture early;
    QSignalSpy earlyIdle(&early.session, &Session::idleAnswerRead);
    qsizetype arrived = 0;
    connect(&early.session, &Session::bytesReceived, &early.session, [&] {
        if (++arrived == pieces.size())
            early.session.readArrivedAnswers();
    });
    for (const QByteArray &piece : pieces) {
        early.serial.arrive(piece);
        if (arrived < pieces.size())
            QTest::qWait(gapMs);
    }
    QCOMPARE(early.log.text, lines);
    QTest::qWait(60);
    QCOMPARE(early.log.text, lines);
    QCOMPARE(earlyIdle.size(), idle.size());
}

void TstSession::usbReports()
{
    Fixture f;
    f.session.setInterpretSerialAnswers(false);   // the USB side reads regardless
    QSignalSpy accepted(&f.session, &Session::reportAccepted);
    f.usb.arrive(usbReport(0x5E));
    f.usb.arrive(usbReport(0xAC));
    f.usb.arrive(QByteArray(1, '\0'));   // report id only
    QCOMPARE(f.log.text, QStringLiteral("<-0xAC接收成功，芯片原状态播音\r\n"));
    QCOMPARE(accepted.size(), 1);

    // Serial bytes wait while interpretation is off and are read with the next ones.
    f.serial.arrive("N");
    QTest::qWait(60);
    f.session.setInterpretSerialAnswers(true);
    f.serial.arrive("A");
    QTRY_VERIFY(f.log.text.endsWith(
        QStringLiteral("<---- 返回：4E  芯片正在播音\r\n<---- 返回：41  接收成功\r\n")));

    // Nor are they read at once then.
    f.session.setInterpretSerialAnswers(false);
    f.serial.arrive("O");
    const QString before = f.log.text;
    f.session.readArrivedAnswers();
    QCOMPARE(f.log.text, before);
}

void TstSession::textFrameFollowsTheLink_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("keepChars");
    QTest::addColumn<int>("status");
    const QString table = QStringLiteral(ORV_CODE_TABLE);
    const int loaded = int(CodeTable::LoadStatus::Loaded);
    QTest::newRow("serial: whole") << false << 1 << table << 512 << loaded;
    QTest::newRow("USB: cut before the character that makes 513")
        << true << 1 << table << 511 << loaded;
    QTest::newRow("BIG5 without the table") << false << 2 << QStringLiteral("/nonexistent") << 512
                                            << int(CodeTable::LoadStatus::Missing);
}

void TstSession::textFrameFollowsTheLink()
{
    QFETCH(bool, usb);
    QFETCH(int, encoding);
    QFETCH(QString, table);
    QFETCH(int, keepChars);
    QFETCH(int, status);
    Fixture f;
    f.session.setCurrentLink(usb ? static_cast<Link *>(&f.usb) : &f.serial);
    f.session.setCodeTablePath(table);
    const QString text = QString(511, u'a') + QStringLiteral("中");
    const TextFrame frame =
        f.session.textFrame(text, Command::Synthesize, quint8(encoding), encoding);
    QCOMPARE(frame.keepChars, keepChars);
    QCOMPARE(frame.cut, keepChars < text.size());
    QCOMPARE(int(frame.table), status);
    if (status != int(CodeTable::LoadStatus::Loaded)) {
        QVERIFY(frame.frame.isEmpty());
        return;
    }
    QCOMPARE(frame.frame.size(), 5 + 511 + (keepChars == 512 ? 2 : 0));
    QCOMPARE(frame.frame.left(5).toHex(),
        keepChars == 512 ? QByteArray("fd02030101") : QByteArray("fd02010101"));
}

void TstSession::sendLogsThenHandsOver()
{
    Fixture f;
    f.session.setHexPrefix(QStringLiteral("0x"));
    QSignalSpy sent(&f.session, &Session::frameSent);
    const QByteArray stop = QByteArray::fromHex("fd000102");
    f.session.send(stop);
    QCOMPARE(f.log.text, QStringLiteral("发出一帧，字节数 4\r\n----> 0xFD 0x00 0x01 0x02 \r\n"));
    QCOMPARE(f.serial.sent, QList<QByteArray> {stop});
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().at(1).value<Link *>(), static_cast<Link *>(&f.serial));

    f.serial.setOpen(false);   // a closed port: logged, not sent
    f.session.send(stop);
    QCOMPARE(f.serial.sent.size(), 1);
    QCOMPARE(f.log.text.count(QStringLiteral("发出一帧")), 2);
}

void TstSession::droppedFramesLogged()
{
    Fixture f;
    QSignalSpy dropped(&f.session, &Session::framesDropped);
    emit f.usb.framesDropped({QByteArray(40, 'a'), QByteArray(4, 'b')}, 33);
    emit f.serial.framesDropped({}, 0);   // nothing dropped: nothing to say
    QCOMPARE(f.log.text, QStringLiteral("未发送：2 帧，33 字节\r\n"));
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.first().at(0).value<Link *>(), static_cast<Link *>(&f.usb));
}

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
