#include "fakelink.h"
#include "soakreport.h"
#include "transactions.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A serial link (no line speed, so the test says when each frame is due) and a USB link under one
// model, on a clock the test moves.
struct Fixture
{
    Fixture()
        : model([this] { return now; })
    {
        model.addLink(&serialReader, QStringLiteral("serial"));
        model.addLink(&usbReader, QStringLiteral("usb"));
        model.setRowSink([this](const TransactionRow &row) { rows << shape(row); });
    }

    // Events, separated by ";": "send HEX @ms" (serial, or "usend" for USB), "written BYTES @ms
    // due MS" (serial; "uwritten" for USB), "rx HEX @ms" (serial bytes), "usb HEX @ms" (one
    // report whose byte 1 is the code), "dropped HEX,HEX @ms" (serial frames the link dropped),
    // "tick @ms", "finish".
    void run(const QString &script)
    {
        static const QRegularExpression event(
            QStringLiteral("^(\\w+)(?: ([0-9a-f,]+))? @(\\d+)(?: due (\\d+))?$"));
        for (const QString &step : script.split(u';', Qt::SkipEmptyParts)) {
            const QString text = step.trimmed();
            if (text == u"finish") {
                model.finish();
                continue;
            }
            const QRegularExpressionMatch m = event.match(text);
            QVERIFY2(m.hasMatch(), qPrintable(text));
            const QString kind = m.captured(1);
            const QByteArray bytes = QByteArray::fromHex(m.captured(2).toLatin1());
            now = m.captured(3).toLongLong() * 1000;
            Link *link = kind.startsWith(u'u') ? static_cast<Link *>(&usb) : &serial;
            if (kind.endsWith(QLatin1String("send"))) {
                model.frameSent(bytes, link, now);
            } else if (kind.endsWith(QLatin1String("written"))) {
                const LinkTime due =
                    m.captured(4).isEmpty() ? now : m.captured(4).toLongLong() * 1000;
                model.frameWritten(link, {m.captured(2).toLongLong(), now, due});
            } else if (kind == u"rx") {
                serialReader.receive(bytes, now);
            } else if (kind == u"dropped") {
                QList<QByteArray> frames;
                for (const QString &hex : m.captured(2).split(u','))
                    frames << QByteArray::fromHex(hex.toLatin1());
                model.framesDropped(&serial, frames);
            } else if (kind == u"usb") {
                usbReader.receive(QByteArray(1, '\0') + bytes, now);
            } else {
                model.checkDeadlines();
            }
        }
    }

    // "codes | latency ms | speech end | problems" with the answer times left out.
    static QString shape(const TransactionRow &row)
    {
        static const QRegularExpression times(QStringLiteral(" [+-][0-9.]+ m?s"));
        QString answers = row.answers;
        answers.remove(times);
        const QString latency =
            row.latencyUs < 0 ? QStringLiteral("-") : QString::number(row.latencyUs / 1000.0);
        return QStringLiteral("%1 | %2 | %3 | %4")
            .arg(answers, latency, row.speechEnd, row.problems.join(u'+'));
    }

    LinkTime now = 0;
    FakeLink serial {4091, 0};
    FakeLink usb {512, 0};
    AnswerReader serialReader {&serial, AnswerRule::SerialCharacters, [this] { return now; }};
    AnswerReader usbReader {&usb, AnswerRule::UsbReports, [this] { return now; }};
    TransactionModel model;
    QStringList rows;
};

}   // namespace

class TstTransactions : public QObject
{
    Q_OBJECT
private slots:
    void pairing_data();
    void pairing();
    void speechTime();
    void percentiles_data();
    void percentiles();
    void reportFiles();
};

void TstTransactions::pairing_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("rows");
    const QString stop = QStringLiteral("fd000102");
    const QString synth = QStringLiteral("fd00060101c4e3bac3");   // 你好 in GBK

    QTest::newRow("answer before the last byte left: counts from the hand-over")
        << QStringLiteral("send fd000102 @0; written 4 @1 due 10; rx 41 @5")
        << QStringList {"41 | 4 |  | 应答早于帧发完"};
    QTest::newRow("answer before the link reported the write: counts from the send")
        << QStringLiteral("send fd000102 @0; rx 41 @3; written 4 @5 due 8")
        << QStringList {"41 | 3 |  | 应答早于帧发完"};
    QTest::newRow("two frames before one answer: the first takes it, the second times out")
        << QStringLiteral("send fd000102 @0; send fd000103 @1; written 4 @2 due 2; "
                          "written 4 @3 due 3; rx 41 @20; tick @1002; tick @1004")
        << QStringList {"41 | 18 |  | ", " | - |  | 无应答"};
    QTest::newRow("no answer: the bound runs from the last byte, not the send")
        << QStringLiteral("send fd000102 @0; written 4 @0 due 500; tick @1499; rx 41 @1499")
        << QStringList {"41 | 999 |  | "};
    QTest::newRow("never written: not sent, and a late write finds nothing")
        << QStringLiteral("send fd000102 @0; tick @1001; written 4 @1100 due 1100")
        << QStringList {" | - |  | 未发出"};
    QTest::newRow("power-up 0x4A and a stray 0x4F wait for no frame")
        << QStringLiteral("rx 4a @0; rx 4f @10")
        << QStringList {"4A | - |  | 无帧等待的应答", "4F | - |  | 无帧等待的应答"};
    QTest::newRow("USB: 0x5E is no answer; the receipt is the first, the chip's 0x41 follows")
        << QStringLiteral("usend fd000121 @0; usb 5e @1; uwritten 4 @1; usb aa @5; usb 41 @6; "
                          "usb 4f @6")
        << QStringList {"AA, 41, 4F | 4 |  | "};
    QTest::newRow("USB: a receipt without the chip's answer")
        << QStringLiteral("usend fd000102 @0; uwritten 4 @1; usb aa @5; tick @1006")
        << QStringList {"AA | 4 |  | 收据后无芯片应答"};
    QTest::newRow("version text: its bytes are no codes, a gap ends it") << QStringLiteral(
        "send fd000158 @0; written 4 @0; rx 41 @5; rx 534f52 @25; rx 5620312e30 @27; "
        "rx 4f @60") << QStringList {"41, 53 \"ORV 1.0\" | 5 |  | ", "4F | - |  | 无帧等待的应答"};
    QTest::newRow("version text: 32 bytes end it, the next byte is a code again")
        << QStringLiteral("send fd000158 @0; written 4 @0; rx 41 @5; rx 53%1%2 @25")
               .arg(QString(64, u'5'), QStringLiteral("4f"))
        << QStringList {QStringLiteral("41, 53 \"%1\" | 5 |  | ").arg(QString(32, u'U')),
               "4F | - |  | 无帧等待的应答"};
    QTest::newRow("USB: a frame the link dropped was not sent; the next one was")
        << QStringLiteral("usend %1 @0; usend fd000102 @1; uwritten 4 @5; usb aa @8; usb 41 @9")
               .arg(synth)
        << QStringList {" | - |  | 未发出", "AA, 41 | 3 |  | "};
    QTest::newRow("dropped frames: not sent at once, matched by their bytes, oldest first")
        << QStringLiteral("send fd000102 @0; send fd000103 @1; send fd000102 @2; written 4 @3; "
                          "dropped fd000103,fd000102 @4; rx 41 @10")
        << QStringList {" | - |  | 未发出", " | - |  | 未发出", "41 | 7 |  | "};
    QTest::newRow("a dropped frame is the one with its bytes, not the oldest waiting")
        << QStringLiteral("send fd000102 @0; send %1 @1; dropped %1 @2; written 4 @3; rx 41 @10; "
                          "finish")
               .arg(synth)
        << QStringList {" | - |  | 未发出", "41 | 7 |  | "};
    QTest::newRow("stop ends the speech: its 0x4F goes to the frame that spoke")
        << QStringLiteral("send %1 @0; written 9 @0; rx 41 @10; send %2 @500; written 4 @500; "
                          "rx 414f @510")
               .arg(synth, stop)
        << QStringList {"41 | 10 |  | ", "41, 4F | 10 | 停止 | "};
    QTest::newRow("status while speaking: 0x4E is its state; the speech ends later")
        << QStringLiteral("send %1 @0; written 9 @0; rx 41 @10; send fd000121 @100; "
                          "written 4 @100; rx 414e @105; rx 4f @900")
               .arg(synth)
        << QStringList {"41, 4E | 5 |  | ", "41, 4F | 10 | 4F | "};
    QTest::newRow("status while idle: 0x4F is its state, no speech end") << QStringLiteral(
        "send fd000121 @0; written 4 @0; rx 414f @5") << QStringList {"41, 4F | 5 |  | "};
    QTest::newRow("a newer synthesis replaces the speech; standby cuts the next")
        << QStringLiteral("send %1 @0; written 9 @0; rx 41 @10; send %1 @100; written 9 @100; "
                          "rx 41 @110; send fd000122 @200; written 4 @200; rx 41 @210")
               .arg(synth)
        << QStringList {"41 | 10 | 被新帧取代 | ", "41 | 10 | 待机 | ", "41 | 10 |  | "};
    QTest::newRow("0x45 is an error; the run's end leaves a speech unfinished")
        << QStringLiteral("send fd000199 @0; written 4 @0; rx 45 @4; send %1 @10; written 9 @10; "
                          "rx 41 @14; finish")
               .arg(synth)
        << QStringList {"45 | 4 |  | 接收失败(45)", "41 | 4 | 未结束 | "};
}

void TstTransactions::pairing()
{
    QFETCH(QString, script);
    QFETCH(QStringList, rows);
    Fixture f;
    f.run(script);
    QCOMPARE(f.rows, rows);
}

void TstTransactions::speechTime()
{
    Fixture f;
    f.run(QStringLiteral("send fd00060101c4e3bac3 @0; written 9 @0; rx 41 @10; rx 4f @2510; "
                         "send fd000102 @3000; written 4 @3000; rx 41 @3004"));
    QCOMPARE(f.model.stats().speech.count(), quint64(1));
    QCOMPARE(f.model.stats().speech.max(), qint64(2500000));
    QCOMPARE(f.model.stats().latency.count(), quint64(2));
    QCOMPARE(f.model.recentRows().front().speechUs, qint64(2500000));
}

void TstTransactions::percentiles_data()
{
    QTest::addColumn<QList<qint64>>("values");
    QTest::addColumn<double>("p");
    QTest::addColumn<qint64>("expected");
    QList<qint64> thousand;
    for (qint64 i = 1; i <= 1000; ++i)
        thousand << i * 1000;   // 1 ms to 1 s
    QTest::newRow("median of 1..1000 ms") << thousand << 0.5 << qint64(500000);
    QTest::newRow("95th of 1..1000 ms") << thousand << 0.95 << qint64(950000);
    QTest::newRow("the maximum is exact") << thousand << 1.0 << qint64(1000000);
    QTest::newRow("small values are exact") << QList<qint64> {3, 7, 9} << 0.5 << qint64(7);
    QTest::newRow("days fit") << QList<qint64> {qint64(86400) * 3 * 1000000} << 0.5
                              << qint64(86400) * 3 * 1000000;
}

void TstTransactions::percentiles()
{
    QFETCH(QList<qint64>, values);
    QFETCH(double, p);
    QFETCH(qint64, expected);
    LogHistogram a;
    LogHistogram b;
    for (qsizetype i = 0; i < values.size(); ++i)
        (i % 2 ? a : b).add(values.at(i));
    a.merge(b);
    QCOMPARE(a.count(), quint64(values.size()));
    const qint64 got = a.percentile(p);
    QVERIFY2(qAbs(got - expected) <= expected / 16, qPrintable(QString::number(got)));
}

void TstTransactions::reportFiles()
{
    QTemporaryDir dir;
    SoakReport report;
    QVERIFY(report.start(dir.path()));
    QVERIFY(QFileInfo(report.csvPath())
                .fileName()
                .contains(
                    QRegularExpression(QStringLiteral("^soak-\\d{8}-\\d{6}-[0-9a-f]{16}\\.csv$"))));
    TransactionRow row;
    row.link = QStringLiteral("/dev/pts/3");
    row.frame = QStringLiteral("合成 GBK 5 字节：\"a,b\"");
    row.answers = QStringLiteral("41 +4.00 ms, 4F +1.000 s");
    row.problems = QStringList {QStringLiteral("无应答"), QStringLiteral("未发出")};
    report.addRow(row);
    // Streamed: the row is on disk before the report is finished.
    QFile csv(report.csvPath());
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).contains(QStringLiteral(
        ",\"合成 GBK 5 字节：\"\"a,b\"\"\",\"41 +4.00 ms, 4F +1.000 s\",,,,无应答; 未发出\r")
                                     .toUtf8()));
    QVERIFY(report.finish(QStringLiteral("帧 1\n")));
    QFile summary(report.summaryPath());
    QVERIFY(summary.open(QIODevice::ReadOnly));
    QCOMPARE(summary.readAll(), QByteArray("帧 1\n"));

    // Never through a link, never over an existing file.
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(target, link));
    QString error;
    QCOMPARE(createNewFile(link, &error), -1);
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(!error.isEmpty());
    QCOMPARE(createNewFile(report.csvPath(), &error), -1);
    QVERIFY(!SoakReport().start(dir.filePath(QStringLiteral("missing"))));
}

QTEST_GUILESS_MAIN(TstTransactions)
#include "tst_transactions.moc"
