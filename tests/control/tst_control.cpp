#include "cache.h"
#include "hexeditor.h"

#include <QtTest>

class TstControl : public QObject
{
    Q_OBJECT
private slots:
    void directPlay_data();
    void directPlay();
    void headerPlay_data();
    void headerPlay();
    void tooLongForHeader();
    void cachePlay_data();
    void cachePlay();
};

namespace {

const QString kText5Initial = QStringLiteral(
    "FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 CD B3 B5 C4 D1 DD CA BE "
    "A3 A1\r\n");

}   // namespace

void TstControl::directPlay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("badOffset");
    const auto parsed = int(HexStatus::Parsed);
    const auto mismatch = int(HexStatus::Mismatch);
    const QByteArray query = QByteArray::fromHex("fd000121");

    QTest::newRow("initial text, trailing line break ignored")
        << kText5Initial << parsed
        << QByteArray::fromHex("fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1")
        << -1;
    QTest::newRow("no ending") << "FD 00 01 21" << parsed << query << -1;
    QTest::newRow("one blank") << "FD 00 01 21 " << parsed << query << -1;
    QTest::newRow("line break") << "FD 00 01 21\r\n" << parsed << query << -1;
    QTest::newRow("blank and line break read as a group") << "FD 00 01 21 \r\n"
                                                          << mismatch << QByteArray() << 12;
    QTest::newRow("hyphens") << "FD-00-01-21" << parsed << query << -1;
    QTest::newRow("commas") << "FD,00,01,21," << parsed << query << -1;
    QTest::newRow("tab and double-byte separators") << "FD\t00中01。21" << parsed << query << -1;
    QTest::newRow("two lines: line feed at a digit position")
        << "FD 00\r\n01 21" << mismatch << QByteArray() << 6;
    QTest::newRow("lone trailing digit") << "FD 0" << parsed << QByteArray::fromHex("fd") << -1;
    QTest::newRow("lower case") << "fd 0a Bc" << parsed << QByteArray::fromHex("fd0abc") << -1;
    QTest::newRow("two digits only") << "7F" << parsed << QByteArray::fromHex("7f") << -1;
    QTest::newRow("blank at a digit position") << "FD  00" << mismatch << QByteArray() << 3;
    QTest::newRow("second digit bad") << "FD 0G" << mismatch << QByteArray() << 4;
    QTest::newRow("lower-case letter past f") << "FD 0g" << mismatch << QByteArray() << 4;
    QTest::newRow("full-width digit") << "FD １2" << mismatch << QByteArray() << 3;
    QTest::newRow("double-byte character") << "欢迎" << mismatch << QByteArray() << 0;
    QTest::newRow("empty: nothing to do") << "" << int(HexStatus::Empty) << QByteArray() << -1;
    QTest::newRow("one digit holds no group") << "F" << mismatch << QByteArray() << 1;
    QTest::newRow("one non-digit") << " " << mismatch << QByteArray() << 0;
}

void TstControl::directPlay()
{
    QFETCH(QString, text);
    QFETCH(int, status);
    QFETCH(QByteArray, bytes);
    QFETCH(int, badOffset);
    const HexParse result = directPlayFrame(text);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.bytes, bytes);
    QCOMPARE(result.badOffset, qsizetype(badOffset));
    if (result.status == HexStatus::Parsed)
        QCOMPARE(result.bytes.size(), hexByteCount(text.size()));
}

void TstControl::headerPlay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("GBK") << "BB B6 D3 AD" << 1 << QByteArray::fromHex("fd00060101bbb6d3ad");
    QTest::newRow("Unicode high byte first") << "FD 00 01 21\r\n"
                                             << 4 << QByteArray::fromHex("fd00060104fd000121");
    QTest::newRow("length carries into the high byte") << QString("AA ").repeated(
        254) << 0 << QByteArray::fromHex("fd01000100" + QByteArray("aa").repeated(254));
}

void TstControl::headerPlay()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QByteArray, frame);
    const HexParse result = headerPlayFrame(text, quint8(encoding));
    QCOMPARE(result.status, HexStatus::Parsed);
    QCOMPARE(result.bytes, frame);
}

void TstControl::tooLongForHeader()
{
    // The largest header frame: L = n + 2 = FF FF.
    const QString largest = QString("5A ").repeated(kMaxHeaderFrameData);
    const HexParse fits = headerPlayFrame(largest, 1);
    QCOMPARE(fits.status, HexStatus::Parsed);
    QCOMPARE(fits.bytes.size(), kMaxHeaderFrameData + 5);
    QCOMPARE(fits.bytes.mid(1, 4), QByteArray::fromHex("ffff0101"));

    const QString oneMore = largest + QStringLiteral("5A");
    const HexParse refused = headerPlayFrame(oneMore, 1);
    QCOMPARE(refused.status, HexStatus::TooLong);
    QVERIFY(refused.bytes.isEmpty());

    // Sent as typed, the same text has no length field to overflow; a bad digit still wins.
    QCOMPARE(directPlayFrame(oneMore).bytes.size(), kMaxHeaderFrameData + 1);
    QCOMPARE(headerPlayFrame(oneMore + QStringLiteral(" ZZ"), 1).status, HexStatus::Mismatch);
}

void TstControl::cachePlay_data()
{
    QTest::addColumn<int>("repeatCount");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("15, GBK") << 15 << 1 << QByteArray::fromHex("fd000232f1");
    QTest::newRow("1, GB2312") << 1 << 0 << QByteArray::fromHex("fd00023210");
    QTest::newRow("15, Unicode high byte first") << 15 << 4 << QByteArray::fromHex("fd000232f4");
    QTest::newRow("3, GBK") << 3 << 1 << QByteArray::fromHex("fd00023231");
    QTest::newRow("count kept to four bits") << 17 << 1 << QByteArray::fromHex("fd00023211");
    QTest::newRow("no list entry: high nibble 0") << 0 << 1 << QByteArray::fromHex("fd00023201");
}

void TstControl::cachePlay()
{
    QFETCH(int, repeatCount);
    QFETCH(int, encoding);
    QFETCH(QByteArray, frame);
    QCOMPARE(cachePlayFrame(repeatCount, encoding), frame);
}

QTEST_GUILESS_MAIN(TstControl)
#include "tst_control.moc"
