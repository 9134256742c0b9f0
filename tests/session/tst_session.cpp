#include "fakelink.h"
#include "logsink.h"
#include "session.h"
#include "transactions.h"

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
        session.attachLink(&serial, AnswerRule::SerialCharacters, QStringLiteral("serial"));
        session.attachLink(&usb, AnswerRule::UsbReports, QStringLiteral("usb"));
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
    void textPieces_data();
    void textPieces();
    void sendLogsThenHandsOver();
    void droppedFramesLogged();
    void transactionsFollowTheLinks();
    void linkRules();
    void noAnswer_data();
    void noAnswer();
    void whenReady_data();
    void whenReady();
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

void TstSession::textPieces_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QList<int>>("starts");   // where each piece starts; -1: an empty frame
    const QString ascii = QString(1100, u'a');
    QTest::newRow("serial: one piece") << false << ascii << 1 << QList<int> {0};
    QTest::newRow("USB: 512 bytes a piece") << true << ascii << 1 << QList<int> {0, 512, 1024};
    QTest::newRow("USB: a character is not split")
        << true << QString(511, u'a') + QStringLiteral("中") + QString(600, u'b') << 1
        << QList<int> {0, 511, 1022};
    QTest::newRow("no text, no pieces") << false << QString() << 1 << QList<int> {};
    QTest::newRow("BIG5 without the table: one empty piece")
        << true << ascii << 2 << QList<int> {-1};
}

void TstSession::textPieces()
{
    QFETCH(bool, usb);
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QList<int>, starts);
    Fixture f;
    f.session.setCurrentLink(usb ? static_cast<Link *>(&f.usb) : &f.serial);
    f.session.setCodeTablePath(QStringLiteral("/nonexistent"));
    const QList<TextFrame> pieces =
        f.session.textPieces(text, Command::Synthesize, quint8(encoding), encoding);
    QList<int> got;
    QString joined;
    for (const TextFrame &piece : pieces) {
        got << (piece.frame.isEmpty() ? -1 : piece.from);
        if (!piece.frame.isEmpty())
            joined += text.mid(piece.from, piece.keepChars);
        QCOMPARE(piece.frame,
            f.session
                .textFrame(text.mid(piece.from), Command::Synthesize, quint8(encoding), encoding)
                .frame);
    }
    QCOMPARE(got, starts);
    if (!starts.contains(-1))
        QCOMPARE(joined, text);   // every character once, in order
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

// Every frame the session sends and every answer its links read reach its transactions, and
// a restart starts them afresh on the same links.
void TstSession::transactionsFollowTheLinks()
{
    Fixture f;
    f.session.setCurrentLink(&f.usb);
    f.session.send(QByteArray::fromHex("fd000102"));
    emit f.usb.frameWritten({4, linkNow(), linkNow()});
    f.usb.arrive(usbReport(0xAA));
    f.usb.arrive(usbReport(0x41));
    QCOMPARE(f.session.transactions().recentRows().size(), size_t(1));
    const TransactionRow row = f.session.transactions().recentRows().front();
    QCOMPARE(row.link, QStringLiteral("usb"));
    QCOMPARE(row.answerItems.size(), 2);

    QSignalSpy restarted(&f.session, &Session::transactionsRestarted);
    f.session.restartTransactions();
    QCOMPARE(restarted.size(), 1);
    QVERIFY(f.session.transactions().recentRows().empty());
    f.serial.arrive("J");
    QCOMPARE(f.session.transactions().stats().unsolicited, quint64(1));

    // A model of its own counts from its start.
    std::unique_ptr<TransactionModel> run = f.session.newTransactions();
    f.serial.arrive("O");
    QCOMPARE(run->stats().unsolicited, quint64(1));
    QCOMPARE(f.session.transactions().stats().unsolicited, quint64(2));
}

void TstSession::linkRules()
{
    Fixture f;
    QVERIFY(!f.session.cannotCarry(Command::VersionQuery));   // serial is current
    QVERIFY(f.session.cannotCarry(Command::VersionQuery, &f.usb));
    f.session.setCurrentLink(&f.usb);
    QVERIFY(f.session.cannotCarry(Command::VersionQuery));
    QVERIFY(!f.session.cannotCarry(Command::Stop));

    f.session.resetLink();
    QCOMPARE(f.usb.resets, 1);
    QCOMPARE(f.serial.resets, 0);
}

void TstSession::noAnswer_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("notices");
    // "send": a frame over the current link; "written": the link wrote it; "rx": a byte
    // arrives; "usb": the USB link is current; "off": serial answers are not interpreted.
    QTest::newRow("no byte after the frame") << QStringLiteral("send written") << 1;
    QTest::newRow("any byte after the frame") << QStringLiteral("send written rx") << 0;
    QTest::newRow("a byte before the frame does not count")
        << QStringLiteral("rx send written") << 1;
    QTest::newRow("not interpreted") << QStringLiteral("off send written") << 0;
    QTest::newRow("interpretation turned off while waiting")
        << QStringLiteral("send written off") << 0;
    QTest::newRow("USB frames have their own bounds") << QStringLiteral("usb send written") << 0;
    QTest::newRow("not written: nothing left the port") << QStringLiteral("send") << 0;
}

void TstSession::noAnswer()
{
    QFETCH(QString, steps);
    QFETCH(int, notices);
    Fixture f;
    f.session.setAnswerBound(30);
    QSignalSpy silent(&f.session, &Session::noAnswer);
    for (const QString &step : steps.split(u' ')) {
        if (step == u"send")
            f.session.send(QByteArray::fromHex("fd000102"));
        else if (step == u"written")
            emit f.session.currentLink()->frameWritten({4, linkNow(), linkNow()});
        else if (step == u"rx")
            f.serial.arrive(QByteArray(1, '\x99'));
        else if (step == u"usb")
            f.session.setCurrentLink(&f.usb);
        else
            f.session.setInterpretSerialAnswers(false);
    }
    QTest::qWait(120);
    QCOMPARE(silent.size(), notices);
    if (notices)
        QCOMPARE(silent.first().at(0).value<Link *>(), static_cast<Link *>(&f.serial));
}

void TstSession::whenReady_data()
{
    QTest::addColumn<bool>("poweredUp");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("on already: at once") << false << QByteArray() << true;
    QTest::newRow("powered up: after 0x4A is logged") << true << QByteArray("J") << false;
    QTest::newRow("powered up: other answers do not count, the time-out does")
        << true << QByteArray("O") << false;
}

void TstSession::whenReady()
{
    QFETCH(bool, poweredUp);
    QFETCH(QByteArray, answer);
    QFETCH(bool, atOnce);
    Fixture f;
    QStringList calls;   // the log as it stood at each call
    QObject context;
    f.session.whenReady(poweredUp, &context, [&] { calls << f.log.text; });
    QCOMPARE(calls.size(), atOnce ? 1 : 0);
    if (!answer.isEmpty())
        f.serial.arrive(answer);
    if (answer == "J") {
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 1, 500);   // well before the time-out
        QVERIFY(calls.first().contains(QStringLiteral("4A")));
    } else {
        QTest::qWait(200);
        QCOMPARE(calls.size(), atOnce ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 1, 3000);
    }
    QTest::qWait(atOnce ? 0 : 1100);   // past the time-out: still once
    QCOMPARE(calls.size(), 1);
}

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
