#include "answerreader.h"
#include "fakelink.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

QString shown(const AnswerEvent &a, bool withTime)
{
    QString item = QString::number(a.code, 16).toUpper();
    if (a.code == Answer::VersionText)
        item += u'"' + QString::fromLatin1(a.text) + u'"';
    if (withTime)
        item += QStringLiteral("@%1").arg(a.arrival / 1000);
    return item;
}

// A serial and a USB reader; the serial line has no speed, so only the script ends a log read.
struct Fixture
{
    Fixture()
    {
        for (AnswerReader *reader : {&serialReader, &usbReader}) {
            QObject::connect(reader, &AnswerReader::answerRead, reader,
                [this](const AnswerEvent &a) { answers << shown(a, true); });
            QObject::connect(
                reader, &AnswerReader::readLogged, reader, [this](const QList<AnswerEvent> &read) {
                    QStringList items;
                    for (const AnswerEvent &a : read)
                        items << shown(a, false);
                    reads << u'[' + items.join(u' ') + u']';
                });
        }
        QObject::connect(
            &usbReader, &AnswerReader::reportAcknowledged, &usbReader, [this] { ++acks; });
    }

    // Steps, separated by ";": "rx HEX @ms" (serial bytes), "usb HEX @ms" (one report whose
    // byte 1 is HEX; "usb - @ms" a report without it), "read" (the log reads what came), "quiet
    // @ms" (the gap timer looks at the clock), "off" / "on" (interpretation).
    void run(const QString &script)
    {
        static const QRegularExpression step(
            QStringLiteral("^(\\w+)(?: ([0-9a-f-]+))?(?: @(\\d+))?$"));
        for (const QString &text : script.split(u';', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch m = step.match(text.trimmed());
            QVERIFY2(m.hasMatch(), qPrintable(text));
            const QString kind = m.captured(1);
            const QByteArray bytes = QByteArray::fromHex(m.captured(2).toLatin1());
            const LinkTime at = m.captured(3).toLongLong() * 1000;
            if (kind == u"rx")
                serialReader.receive(bytes, at);
            else if (kind == u"usb")
                usbReader.receive(QByteArray(1, '\0') + bytes, at);
            else if (kind == u"read")
                serialReader.readNow();
            else if (kind == u"quiet")
                serialReader.endQuietText(at);
            else
                serialReader.setInterpreting(kind == u"on");
        }
    }

    FakeLink serial {4091, 0};
    FakeLink usb {512, 0};
    AnswerReader serialReader {&serial, AnswerRule::SerialCharacters};
    AnswerReader usbReader {&usb, AnswerRule::UsbReports};
    QStringList answers;
    QStringList reads;
    int acks = 0;
};

}   // namespace

class TstAnswerReader : public QObject
{
    Q_OBJECT
private slots:
    void readings_data();
    void readings();
    void logPause();
    void cannotCarry_data();
    void cannotCarry();
};

void TstAnswerReader::readings_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("reads");
    const QString u32 = QString(64, u'5');   // 32 times "U"

    QTest::newRow("three answers in one read: three answers, two log answers") << QStringLiteral(
        "rx 414f4e @3; read") << QStringList {"41@3", "4F@3", "4E@3"} << QStringList {"[41 4F]"};
    QTest::newRow("answers split over two pieces: one read")
        << QStringLiteral("rx 41 @1; rx 4f @2; read") << QStringList {"41@1", "4F@2"}
        << QStringList {"[41 4F]"};
    QTest::newRow("a version text in two pieces is one answer; the log reads its \"O\" too")
        << QStringLiteral("rx 534f @0; rx 5256 @5; read; quiet @26") << QStringList {"53\"ORV\"@0"}
        << QStringList {"[53\"SORV\" 4F]"};
    QTest::newRow("a version text ends at 32 bytes; the next byte is a code again")
        << QStringLiteral("rx 53") + u32 + QStringLiteral("414f @0; read")
        << QStringList {QStringLiteral("53\"%1\"@0").arg(QString(32, u'U')), "41@0", "4F@0"}
        << QStringList {QStringLiteral("[53\"S%1AO\"]").arg(QString(32, u'U'))};
    QTest::newRow("a gap of more than 20 ms ends it at the next byte")
        << QStringLiteral("rx 53414243 @0; rx 4f @21") << QStringList {"53\"ABC\"@0", "4F@21"}
        << QStringList {};
    QTest::newRow("a gap of 20 ms does not")
        << QStringLiteral("rx 5341 @0; rx 42 @20; quiet @40") << QStringList {} << QStringList {};
    QTest::newRow("the gap timer ends a quiet text")
        << QStringLiteral("rx 5341 @0; rx 42 @20; quiet @41") << QStringList {"53\"AB\"@0"}
        << QStringList {};
    QTest::newRow("a stray lead byte takes nothing from the next read") << QStringLiteral(
        "rx fe @0; read; rx 4f @100; read") << QStringList {"4F@100"} << QStringList {"[]", "[4F]"};
    QTest::newRow("a lead byte inside a read hides its code from the log, not from timing")
        << QStringLiteral("rx fe41 @0; read") << QStringList {"41@0"} << QStringList {"[]"};
    QTest::newRow("a character whose code point ends in 4F is no answer (乏)")
        << QStringLiteral("rx b7a6 @0; read") << QStringList {} << QStringList {"[]"};
    QTest::newRow("bytes that are no answer are passed over")
        << QStringLiteral("rx 0058 @0; read") << QStringList {} << QStringList {"[]"};
    QTest::newRow("interpretation off: answers are read, the log waits for the next bytes")
        << QStringLiteral("off; rx 4e @0; read; on; rx 41 @9; read") << QStringList {"4E@0", "41@9"}
        << QStringList {"[4E 41]"};
    QTest::newRow("USB: byte 1 of each report; 0x5E and short reports are no answers")
        << QStringLiteral("usb 5e @0; usb ac @1; usb - @2; usb 99 @3; usb 4f @4")
        << QStringList {"AC@1", "4F@4"} << QStringList {"[AC]", "[4F]"};
}

void TstAnswerReader::readings()
{
    QFETCH(QString, script);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, reads);
    Fixture f;
    f.run(script);
    QCOMPARE(f.answers, answers);
    QCOMPARE(f.reads, reads);
    QCOMPARE(f.acks, int(script.count(QStringLiteral("usb 5e"))));
}

// The log reads once the line has been quiet for a whole version text's time.
void TstAnswerReader::logPause()
{
    FakeLink serial {4091, 9600};
    AnswerReader reader(&serial, AnswerRule::SerialCharacters);
    QStringList reads;
    connect(&reader, &AnswerReader::readLogged, &reader,
        [&reads](const QList<AnswerEvent> &read) { reads << QString::number(read.size()); });
    reader.receive("A", linkNow());
    QVERIFY(reader.hasUnlogged());
    QTest::qWait(10);
    reader.receive("O", linkNow());   // within the pause: the same read
    QTRY_COMPARE(reads, QStringList {"2"});
    QVERIFY(!reader.hasUnlogged());
}

void TstAnswerReader::cannotCarry_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<bool>("carried");
    QTest::newRow("version over USB") << int(Command::VersionQuery) << true << false;
    QTest::newRow("version over serial") << int(Command::VersionQuery) << false << true;
    QTest::newRow("status over USB") << int(Command::StatusQuery) << true << true;
}

void TstAnswerReader::cannotCarry()
{
    QFETCH(int, command);
    QFETCH(bool, usb);
    QFETCH(bool, carried);
    const std::optional<QString> why = ::cannotCarry(
        Command(command), usb ? AnswerRule::UsbReports : AnswerRule::SerialCharacters);
    QCOMPARE(!why, carried);
    if (why)
        QVERIFY(why->contains(QStringLiteral("version answer")));
}

QTEST_GUILESS_MAIN(TstAnswerReader)
#include "tst_answerreader.moc"
