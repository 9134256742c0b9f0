#include "codepage.h"
#include "continuousreplay.h"
#include "fakelink.h"
#include "frame.h"
#include "session.h"

#include <QSignalSpy>
#include <QtTest>

using End = ContinuousReplay::End;

namespace {

const QByteArray kStatusQuery = QByteArray::fromHex("fd000121");

QByteArray gbkFrame(const QString &text)
{
    return synthesisFrame(1, toGbk(text));
}

// A replay on a session with a serial and a USB link driven by hand. The front end's synthesis
// is played by hand too: it ends the replay on entry, as every sender does, and sends the first
// `first` characters of the text, which the USB walk then goes on from.
struct Replay
{
    explicit Replay(const QString &sendBox = QStringLiteral("你好"), int first = 2)
        : text(sendBox)
        , firstChars(first)
    {
        session.attachLink(&serial, AnswerRule::SerialCharacters);
        session.attachLink(&usb, AnswerRule::UsbReports);
        replay.setSynthesis([this] {
            replay.stop();
            ++plays;
            session.send(gbkFrame(text.left(firstChars)));
        });
        replay.setRestOfText([this] {
            return ContinuousReplay::Rest {text.mid(firstChars), firstChars, 1};
        });
        replay.setAckTimeout([] { return 200; });
    }
    void overUsb() { session.setCurrentLink(&usb); }
    // The chip is idle: the session reads the serial 0x4F after its pause.
    void serialIdle()
    {
        QSignalSpy read(&session, &Session::idleAnswerRead);
        serial.arrive("O");
        QVERIFY(read.wait(1000));
    }
    // The USB link wrote the last frame handed to it; then the board reports these codes.
    void usbWritten() { emit usb.frameWritten({usb.sent.last().size(), linkNow(), linkNow()}); }
    void usbAnswers(std::initializer_list<quint8> codes)
    {
        for (const quint8 code : codes)
            usb.arrive(QByteArray(1, '\0') + char(code));
    }

    QString text;
    int firstChars;
    int plays = 0;
    Session session;
    FakeLink serial;
    FakeLink usb {512};
    ContinuousReplay replay {&session, &serial, &usb};
    QSignalSpy ended {&replay, &ContinuousReplay::runEnded};
};

}   // namespace

class TstReplay : public QObject
{
    Q_OBJECT
private slots:
    void startsOnlyWithSeconds_data();
    void startsOnlyWithSeconds();
    void serialRepeatsWhileSecondsLeft();
    void usbWalksThroughTheText_data();
    void usbWalksThroughTheText();
    void usbPieceWithoutReceipt();
    void usbPieceWithoutTable();
    void afterReconnect_data();
    void afterReconnect();
};

void TstReplay::startsOnlyWithSeconds_data()
{
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<bool>("counted");   // the count is taken and the clock runs
    QTest::newRow("a count") << QStringLiteral("5") << true << true;
    QTest::newRow("zero") << QStringLiteral("0") << false << true;
    QTest::newRow("none typed, none left") << QString() << false << false;
    QTest::newRow("not a count") << QStringLiteral("5s") << false << false;
    QTest::newRow("beyond what a double counts down")
        << QStringLiteral("9007199254740993") << false << false;
}

void TstReplay::startsOnlyWithSeconds()
{
    QFETCH(QString, seconds);
    QFETCH(bool, starts);
    QFETCH(bool, counted);
    Replay r;
    QSignalSpy started(&r.replay, &ContinuousReplay::runStarted);
    QCOMPARE(r.replay.start(seconds), starts);
    QCOMPARE(r.replay.isPlaying(), starts);
    QCOMPARE(r.plays, starts ? 1 : 0);
    QCOMPARE(started.size(), starts ? 1 : 0);
    QCOMPARE(r.replay.clock()->isActive(), counted);
}

// Every 0x4F plays once more while seconds are left; the tick that uses up the last second ends
// the replay, and the next tick after the replay ended ends its run, once.
void TstReplay::serialRepeatsWhileSecondsLeft()
{
    Replay r;
    QVERIFY(r.replay.start(QStringLiteral("2")));
    r.serialIdle();
    QCOMPARE(r.plays, 2);
    QVERIFY(r.replay.isPlaying());
    r.replay.tick();
    QCOMPARE(r.replay.ticksLeft(), 1.0);
    r.serialIdle();
    QCOMPARE(r.plays, 3);
    QVERIFY(r.ended.isEmpty());

    r.replay.tick();   // time is up
    QVERIFY(!r.replay.isPlaying());
    QVERIFY(!r.replay.clock()->isActive());
    QCOMPARE(r.ended.size(), 1);
    QCOMPARE(r.ended.at(0).at(0).value<End>(), End::Over);
    r.serialIdle();
    QCOMPARE(r.plays, 3);

    // A sender ends a replay with seconds left; its run ends at the clock's next tick.
    QVERIFY(r.replay.start(QStringLiteral("9")));
    r.replay.stop();
    r.serialIdle();
    QCOMPARE(r.plays, 4);
    r.replay.tick();
    QCOMPARE(r.ended.size(), 2);
    r.replay.tick();
    QCOMPARE(r.ended.size(), 2);
}

void TstReplay::usbWalksThroughTheText_data()
{
    QTest::addColumn<bool>("boardSaysReady");   // a piece ends with 0x5E rather than 0x4F
    QTest::newRow("the chip's 0x4F ends a piece") << false;
    QTest::newRow("the board's 0x5E ends a piece") << true;
}

// 600 characters, 1200 GBK bytes: the synthesis sends the first 256, the walk the next 256 and
// the last 88. A piece goes on only after it was written and its receipt came; an end of a piece
// read before that starts nothing.
void TstReplay::usbWalksThroughTheText()
{
    QFETCH(bool, boardSaysReady);
    const quint8 pieceEnd = boardSaysReady ? 0x5E : 0x4F;
    Replay r(QString(600, u'你'), 256);
    r.overUsb();
    QSignalSpy pieces(&r.replay, &ContinuousReplay::pieceSent);
    QVERIFY(r.replay.start(QStringLiteral("30")));
    QVERIFY(!r.replay.isPlaying());   // raised once the piece is written
    r.usbAnswers({0x41, pieceEnd});
    QCOMPARE(r.usb.sent.size(), 1);
    r.usbWritten();
    QVERIFY(r.replay.isPlaying());
    r.usbAnswers({pieceEnd});   // of the piece before: before the receipt
    QCOMPARE(r.usb.sent.size(), 1);

    for (int piece = 2; piece <= 3; ++piece) {
        r.usbAnswers({0xAA, pieceEnd});
        QCOMPARE(r.usb.sent.size(), piece);
        r.usbWritten();
    }
    QVERIFY(!r.replay.isPlaying());   // the last piece reaches the end of the text
    r.usbAnswers({0xAA, pieceEnd});
    QCOMPARE(r.usb.sent,
        (QList<QByteArray> {gbkFrame(QString(256, u'你')), gbkFrame(QString(256, u'你')),
            gbkFrame(QString(88, u'你'))}));
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces.at(0).at(0).toInt(), 256);
    QCOMPARE(pieces.at(1).at(0).toInt(), 512);
    QCOMPARE(pieces.at(1).at(3).toString(), QString());   // nothing left after it
    QCOMPARE(r.plays, 1);
    r.replay.tick();
    QCOMPARE(r.ended.size(), 1);
}

// The board acknowledges the piece, but the chip never takes it up: the run ends when the bound
// runs out, and a late receipt and 0x4F start nothing.
void TstReplay::usbPieceWithoutReceipt()
{
    Replay r(QString(600, u'你'), 256);
    r.overUsb();
    QVERIFY(r.replay.start(QStringLiteral("30")));
    r.usbWritten();
    QVERIFY(r.ended.wait(1000));
    QCOMPARE(r.ended.at(0).at(0).value<End>(), End::NoReceipt);
    QVERIFY(!r.replay.isPlaying());
    r.usbAnswers({0xAA, 0x4F});
    QCOMPARE(r.usb.sent.size(), 1);
}

// The rest of the text cannot be framed (BIG5 without the code table): the front end hears of
// it, the replay ends and its run ends at the clock's next tick.
void TstReplay::usbPieceWithoutTable()
{
    Replay r(QString(600, u'你'), 256);
    r.session.setCodeTablePath(QStringLiteral("/nonexistent/GBKToBig5AndUnicode.dat"));
    r.replay.setRestOfText([&r] { return ContinuousReplay::Rest {r.text.mid(256), 256, 2}; });
    QSignalSpy unframed(&r.replay, &ContinuousReplay::pieceUnframed);
    r.overUsb();
    QVERIFY(r.replay.start(QStringLiteral("30")));
    r.usbWritten();
    r.usbAnswers({0xAA, 0x4F});
    QCOMPARE(unframed.size(), 1);
    QCOMPARE(unframed.at(0).at(0).value<TextFrame>().table, CodeTable::LoadStatus::Missing);
    QCOMPARE(r.usb.sent.size(), 1);
    QVERIFY(!r.replay.isPlaying());
    r.replay.tick();
    QCOMPARE(r.ended.size(), 1);
}

void TstReplay::afterReconnect_data()
{
    QTest::addColumn<QByteArray>("answer");   // the chip's answer to the state query
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("idle chip: its 0x4F plays on") << QByteArray("O") << true;
    QTest::newRow("still speaking: the piece's own 0x4F plays on") << QByteArray("N") << true;
    QTest::newRow("no answer: the replay ends") << QByteArray() << false;
}

// After the serial device came back the replay asks the chip's state instead of playing again.
void TstReplay::afterReconnect()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, goesOn);
    Replay r;
    r.session.setAnswerBound(100);
    QVERIFY(r.replay.start(QStringLiteral("30")));
    r.replay.serialReconnected();
    QCOMPARE(r.serial.sent.last(), kStatusQuery);
    QCOMPARE(r.plays, 1);
    if (!answer.isEmpty())
        r.serial.arrive(answer);
    if (answer == "N") {
        QTest::qWait(400);   // past the query's bound: the chip did answer
        r.serialIdle();
    }
    if (goesOn) {
        QTRY_COMPARE(r.plays, 2);
        QVERIFY(r.replay.isPlaying());
        QVERIFY(r.ended.isEmpty());
    } else {
        QVERIFY(r.ended.wait(1000));
        QCOMPARE(r.ended.at(0).at(0).value<End>(), End::SilentAfterReconnect);
        QVERIFY(!r.replay.isPlaying());
    }

    // Neither a stopped replay nor one over USB asks.
    r.replay.stop();
    const qsizetype sent = r.serial.sent.size();
    r.replay.serialReconnected();
    QVERIFY(r.replay.start(QString()));
    r.overUsb();
    r.replay.serialReconnected();
    QCOMPARE(r.serial.sent.size(), sent + 1);   // the play only
}

QTEST_MAIN(TstReplay)
#include "tst_replay.moc"
