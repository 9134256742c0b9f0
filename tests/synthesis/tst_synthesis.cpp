#include "cache.h"
#include "codepage.h"
#include "codetable.h"
#include "codetablecache.h"
#include "controltags.h"
#include "demotexts.h"
#include "frame.h"
#include "framedecoder.h"
#include "hexeditor.h"
#include "textbytes.h"
#include "textcheck.h"
#include "textform.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Lines of a text in its CR LF form; a final line break ends the last line.
int crLfLines(const QString &widgetText)
{
    const QString text = toCrLf(widgetText);
    const int breaks = int(text.count(QStringLiteral("\r\n")));
    return text.endsWith(QStringLiteral("\r\n")) ? breaks : breaks + 1;
}

}   // namespace

class TstSynthesis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void gbkBytes_data();
    void gbkBytes();
    void fromGbkText();
    void frames_data();
    void frames();
    void agreesWithIcu_data();
    void agreesWithIcu();
    void tableRecords();
    void tableFile_data();
    void tableFile();
    void tableCache();
    void tablePlace();
    void cut_data();
    void cut();
    void cutStopsAtLimitOfLongSelection();
    void tableEncodingsKeepLastCharacter();
    void missingTable();
    void tagFrames_data();
    void tagFrames();
    void decodeBuiltFrames_data();
    void decodeBuiltFrames();
    void decodeMalformedFrames_data();
    void decodeMalformedFrames();
    void decodeInEnglish_data();
    void decodeInEnglish();
    void decodedJson_data();
    void decodedJson();
    void textCheck_data();
    void textCheck();
    void demonstrationText();
    void promptSoundCatalogue();

private:
    QByteArray m_tableBytes;   // the generated file
    std::optional<CodeTable> m_table;
};

void TstSynthesis::initTestCase()
{
    QFile file(QStringLiteral(GBK_TABLE_PATH));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    m_tableBytes = file.readAll();
    m_table = CodeTable::fromBytes(m_tableBytes);
    QVERIFY(m_table);
}

void TstSynthesis::gbkBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("double-byte") << QStringLiteral("欢迎光临") << hex("bbb6d3adb9e2c1d9");
    QTest::newRow("mixed with ASCII") << QStringLiteral("A中b") << hex("41d6d062");
    QTest::newRow("euro is one byte") << QStringLiteral("€") << hex("80");
    QTest::newRow("not in GBK") << QStringLiteral("a\u0E01b") << hex("613f62");
    QTest::newRow("surrogate pair is one ?") << QStringLiteral("x😀y") << hex("783f79");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'z' << hex("3f7a");
    QTest::newRow("CR LF taken as it is") << QStringLiteral("a\r\nb") << hex("610d0a62");
}

void TstSynthesis::gbkBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(toGbk(text), bytes);
}

void TstSynthesis::fromGbkText()
{
    QCOMPARE(fromGbk(hex("bbb6d3adb9e2c1d90d0a41")), QStringLiteral("欢迎光临\r\nA"));
    QCOMPARE(fromGbk(hex("418130")), QStringLiteral("A\uFFFD0"));
    QCOMPARE(fromGbk({}), QString());
}

void TstSynthesis::frames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("GBK greeting") << QStringLiteral("欢迎光临") << 1
                                  << hex("fd000a0101bbb6d3adb9e2c1d9");
    QTest::newRow("GBK welcome sentence")
        << QStringLiteral("欢迎观看语音合成系统的演示！") << 1
        << hex("fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1");
    QTest::newRow("GB2312 same bytes") << QStringLiteral("欢迎") << 0 << hex("fd00060100bbb6d3ad");
    QTest::newRow("A in BIG5") << QStringLiteral("A") << 2 << hex("fd0003010241");
    QTest::newRow("A in UTF-16LE") << QStringLiteral("A") << 3 << hex("fd000401034100");
    QTest::newRow("A in UTF-16BE") << QStringLiteral("A") << 4 << hex("fd000401040041");
    QTest::newRow("line break GBK") << QStringLiteral("a\nb") << 1 << hex("fd00060101610d0a62");
    QTest::newRow("line break BIG5") << QStringLiteral("a\nb") << 2 << hex("fd00060102610d0a62");
    QTest::newRow("line break UTF-16LE")
        << QStringLiteral("a\nb") << 3 << hex("fd000a010361000d000a006200");
    QTest::newRow("line break UTF-16BE")
        << QStringLiteral("a\nb") << 4 << hex("fd000a01040061000d000a0062");
    QTest::newRow("paragraph separator")
        << QStringLiteral("a\u2029b") << 1 << hex("fd00060101610d0a62");
    QTest::newRow("simplified character in BIG5: its traditional form")
        << QStringLiteral("中国") << 2 << hex("fd00060102a4a4b0ea");
    QTest::newRow("no GBK code in BIG5") << QStringLiteral("a\u0E01") << 2 << hex("fd00040102613f");
    QTest::newRow("no GBK code keeps its UTF-16")
        << QStringLiteral("a\u0E01") << 3 << hex("fd000601036100010e");
    QTest::newRow("euro in BIG5") << QStringLiteral("€") << 2 << hex("fd000301023f");
    QTest::newRow("euro in UTF-16BE") << QStringLiteral("€") << 4 << hex("fd0004010420ac");
    QTest::newRow("surrogate pair in UTF-16BE")
        << QStringLiteral("😀") << 4 << hex("fd00060104d83dde00");
    QTest::newRow("code 0 in UTF-16LE")
        << QString(u'a') + QChar(0) + u'b' << 3 << hex("fd00080103610000006200");
    QTest::newRow("common character in UTF-16LE")
        << QStringLiteral("中") << 3 << hex("fd000401032d4e");
    QTest::newRow("simplified greeting in BIG5")
        << QStringLiteral("欢迎光临") << 2 << hex("fd000a0102c577aaefa5fac17b");
    QTest::newRow("BIG5 takes the Taiwan form")
        << QStringLiteral("为") << 2 << hex("fd00040102acb0");
    QTest::newRow("traditional form outside BIG5: filler")
        << QStringLiteral("钎锨叁") << 2 << hex("fd00080102a148a148a148");
}

void TstSynthesis::frames()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QByteArray, frame);
    const FrameText part = frameText(text, encoding, kSerialMaxTextBytes, &*m_table);
    QVERIFY(!part.cut);
    QCOMPARE(part.keepChars, text.size());
    QCOMPARE(parameterFrame(Command::Synthesize, quint8(encoding), part.bytes), frame);
}

void TstSynthesis::agreesWithIcu_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("traditional") << QStringLiteral("語音合成系統");
    QTest::newRow("shared") << QStringLiteral("中文人口大小");
    QTest::newRow("punctuation") << QStringLiteral("，。！？：；");
}

// Characters present in both code pages take ICU's own BIG5 and UTF-16 codes.
void TstSynthesis::agreesWithIcu()
{
    QFETCH(QString, text);
    QStringEncoder big5("windows-950");
    QVERIFY(big5.isValid());
    const QByteArray expectedBig5 = big5(text);
    QVERIFY(!big5.hasError());
    QCOMPARE(*encodeText(text, 2, &*m_table), expectedBig5);
    QStringEncoder utf16le(QStringConverter::Utf16LE);
    QStringEncoder utf16be(QStringConverter::Utf16BE);
    QCOMPARE(*encodeText(text, 3, &*m_table), QByteArray(utf16le(text)));
    QCOMPARE(*encodeText(text, 4, &*m_table), QByteArray(utf16be(text)));
}

void TstSynthesis::tableRecords()
{
    const QByteArray &bytes = m_tableBytes;
    QCOMPARE(bytes.size(), CodeTable::kFileBytes);

    // record 0 is GBK 81 40 (丂, not in BIG5): filler A1 48 then U+4E02, each low byte first
    QCOMPARE(bytes.left(4), hex("48a1024e"));
    QCOMPARE(CodeTable::recordIndex(0x81, 0x40), 0);
    QCOMPARE(CodeTable::recordIndex(0xFE, 0xFE), 24065);
    QCOMPARE(m_table->utf16(0xFE, 0xFE), quint16(fromGbk(hex("fefe")).at(0).unicode()));
    QCOMPARE(bytes.mid(4 * 24065), hex("48a1") + bytes.mid(4 * 24065 + 2, 2));
    // 中 D6 D0 is BIG5 A4 A4, U+4E2D
    const int middle = CodeTable::recordIndex(0xD6, 0xD0);
    QCOMPARE(bytes.mid(4 * middle, 4), hex("a4a42d4e"));
    // trail 7F is no GBK code
    QCOMPARE(m_table->utf16(0x81, 0x7F), CodeTable::kNoCharacter);
    QCOMPARE(m_table->big5(0x81, 0x7F), CodeTable::kNoBig5);
    QCOMPARE(CodeTable::recordIndex(0x80, 0x40), -1);
    QCOMPARE(CodeTable::recordIndex(0x81, 0x3F), -1);
    QCOMPARE(CodeTable::recordIndex(0xFF, 0x40), -1);
    QCOMPARE(CodeTable::recordIndex(0x81, 0xFF), -1);
}

void TstSynthesis::tableFile_data()
{
    QTest::addColumn<int>("bytes");   // -1: no file, -2: a folder of that name
    QTest::addColumn<CodeTable::LoadStatus>("status");
    QTest::newRow("missing") << -1 << CodeTable::LoadStatus::Missing;
    QTest::newRow("folder") << -2 << CodeTable::LoadStatus::Missing;
    QTest::newRow("empty") << 0 << CodeTable::LoadStatus::TooShort;
    QTest::newRow("one byte short") << CodeTable::kFileBytes - 1 << CodeTable::LoadStatus::TooShort;
    QTest::newRow("whole") << CodeTable::kFileBytes << CodeTable::LoadStatus::Loaded;
    QTest::newRow("longer") << CodeTable::kFileBytes + 10 << CodeTable::LoadStatus::Loaded;
}

void TstSynthesis::tableFile()
{
    QFETCH(int, bytes);
    QFETCH(CodeTable::LoadStatus, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(CodeTable::fileName());
    if (bytes == -2) {
        QVERIFY(QDir(dir.path()).mkdir(CodeTable::fileName()));
    } else if (bytes >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((m_tableBytes + QByteArray(16, 'x')).left(bytes));
    }
    const CodeTable::Load load = CodeTable::load(path);
    QCOMPARE(load.status, status);
    QCOMPARE(load.table.has_value(), status == CodeTable::LoadStatus::Loaded);
    QCOMPARE(load.errorString.isEmpty(), status == CodeTable::LoadStatus::Loaded);
    if (load.table)
        QCOMPARE(*encodeText(QStringLiteral("中"), 2, &*load.table), hex("a4a4"));
}

// Whatever stands at the path now is what the cache gives: a file put in place, replaced by one of
// the same size and time, rewritten, or removed.
void TstSynthesis::tableCache()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(CodeTable::fileName());
    const int middle = 4 * CodeTable::recordIndex(0xD6, 0xD0);   // 中
    auto put = [&](char marker, bool replace, int extraBytes = 0) {
        QByteArray bytes = m_tableBytes + QByteArray(extraBytes, 'x');
        bytes[middle] = marker;
        if (replace) {
            QSaveFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) && file.commit());
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes));
        }
        QFile file(path);   // an old time, as a table copied with its time kept
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(
            QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
    };
    CodeTableCache cache;
    auto marker = [&]() -> int {
        const CodeTable::Load load = cache.load(path);
        return load.table ? load.table->big5(0xD6, 0xD0) & 0xFF : -int(load.status);
    };
    QCOMPARE(marker(), -int(CodeTable::LoadStatus::Missing));
    put('\x11', true);
    QCOMPARE(marker(), 0x11);
    QCOMPARE(marker(), 0x11);
    put('\x22', true);   // another file, same size and time
    QCOMPARE(marker(), 0x22);
    put('\x33', false, 1);   // rewritten in place, one byte longer
    QCOMPARE(marker(), 0x33);
    QVERIFY(QFile::remove(path));
    QCOMPARE(marker(), -int(CodeTable::LoadStatus::Missing));
    put('\x44', true);
    QCOMPARE(marker(), 0x44);
}

void TstSynthesis::tablePlace()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("bin/") + CodeTable::fileName());
    const QString second = dir.filePath(QStringLiteral("share/") + CodeTable::fileName());
    QCOMPARE(CodeTable::locate({first, second}), first);   // none: named where looked first
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("share")));
    QVERIFY(QFile(second).open(QIODevice::WriteOnly));
    QCOMPARE(CodeTable::locate({first, second}), second);
    QVERIFY(QDir(dir.path()).mkpath(first));   // a folder of that name does not count
    QCOMPARE(CodeTable::locate({first, second}), second);
    QCOMPARE(CodeTable::searchPaths().first(), CodeTable::defaultPath());
    QVERIFY(CodeTable::searchPaths().last().endsWith(
        QStringLiteral("/share/orv4120-demo/GBKToBig5AndUnicode.dat")));
}

void TstSynthesis::cut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("keepChars");
    QTest::addColumn<int>("byteCount");
    QTest::addColumn<bool>("cut");
    const QString ascii4090 = QString(4090, u'a');
    const QString ascii511 = QString(511, u'a');
    QTest::newRow("empty") << QString() << 1 << 4091 << 0 << 0 << false;
    QTest::newRow("4091: exactly full")
        << QString(4091, u'a') << 1 << 4091 << 4091 << 4091 << false;
    QTest::newRow("4091: one over") << QString(4092, u'a') << 1 << 4091 << 4091 << 4091 << true;
    QTest::newRow("4091: double-byte straddles")
        << ascii4090 + QStringLiteral("中a") << 1 << 4091 << 4090 << 4090 << true;
    QTest::newRow("4091: all Chinese") << QString(3000, u'中') << 1 << 4091 << 2045 << 4090 << true;
    QTest::newRow("512: double-byte straddles")
        << ascii511 + QStringLiteral("中") << 1 << 512 << 511 << 511 << true;
    QTest::newRow("512: double-byte fills it")
        << QString(510, u'a') + QStringLiteral("中") << 0 << 512 << 511 << 512 << false;
    QTest::newRow("512: BIG5 counts like GBK")
        << ascii511 + QStringLiteral("中") << 2 << 512 << 511 << 511 << true;
    QTest::newRow("Unicode LE: ASCII counts two")
        << QString(300, u'a') << 3 << 512 << 256 << 512 << true;
    QTest::newRow("Unicode BE: serial limit")
        << QString(3000, u'a') << 4 << 4091 << 2045 << 4090 << true;
    QTest::newRow("line break left out whole")
        << ascii511 + QStringLiteral("\nb") << 1 << 512 << 511 << 511 << true;
    QTest::newRow("line break counts CR LF")
        << QString(510, u'a') + QStringLiteral("\nb") << 1 << 512 << 511 << 512 << true;
    QTest::newRow("line break in Unicode") << QStringLiteral("ab\ncd") << 3 << 6 << 2 << 4 << true;
    QTest::newRow("surrogate pair is one ?") << QStringLiteral("😀😀😀") << 1 << 2 << 4 << 2 << true;
    QTest::newRow("surrogate pair whole in Unicode")
        << QStringLiteral("a😀") << 3 << 4 << 1 << 2 << true;
    QTest::newRow("not in GBK counts one") << QString(5, QChar(0x0E01)) << 1 << 3 << 3 << 3 << true;
    QTest::newRow("code 0 counts two")
        << QString(u'a') + QChar(0) + u'b' << 1 << 2 << 1 << 1 << true;
    QTest::newRow("no room") << QStringLiteral("a") << 1 << 0 << 0 << 0 << true;
}

void TstSynthesis::cut()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(int, limit);
    QFETCH(int, keepChars);
    QFETCH(int, byteCount);
    QFETCH(bool, cut);
    const TextCut result = cutToFit(text, encoding, limit);
    QCOMPARE(result.keepChars, keepChars);
    QCOMPARE(result.byteCount, byteCount);
    QCOMPARE(result.cut, cut);
    // the kept part encodes to exactly the bytes counted, but for code 0 in GBK, counted as 2
    if (!text.contains(QChar(0)))
        QCOMPARE(encodeText(text.left(keepChars), encoding, &*m_table)->size(), byteCount);
}

// A selection far beyond 16-bit positions is cut like any other.
void TstSynthesis::cutStopsAtLimitOfLongSelection()
{
    const QString text = QString(1 << 20, u'中');
    const FrameText part = frameText(text, 1, kSerialMaxTextBytes, nullptr);
    QCOMPARE(part.keepChars, 2045);
    QCOMPARE(part.textByteCount, 4090);
    QVERIFY(part.cut);
    QCOMPARE(part.bytes.size(), 4090);
}

// The frame carries every character of a selection the cut let through, the last one too.
void TstSynthesis::tableEncodingsKeepLastCharacter()
{
    for (const int limit : {kSerialMaxTextBytes, kUsbMaxTextBytes}) {
        const QString text = QString(limit - 1, u'x') + u'y';
        const FrameText part = frameText(text, 2, limit, &*m_table);
        QVERIFY(!part.cut);
        QCOMPARE(part.bytes.size(), limit);
        QCOMPARE(part.bytes.back(), 'y');
        QCOMPARE(parameterFrame(Command::Synthesize, 2, part.bytes).size(), limit + 5);
    }
    const FrameText unicode = frameText(QString(256, u'z'), 3, kUsbMaxTextBytes, &*m_table);
    QCOMPARE(unicode.bytes.size(), 512);
    QCOMPARE(unicode.bytes.right(2), hex("7a00"));
}

void TstSynthesis::missingTable()
{
    const QString text = QString(600, u'a');
    for (const int encoding : {2, 3, 4}) {
        const FrameText part = frameText(text, encoding, kUsbMaxTextBytes, nullptr);
        QVERIFY(part.tableMissing);
        QVERIFY(part.bytes.isEmpty());
        QVERIFY(part.cut);   // the selection is still cut for the window to show
        QVERIFY(!encodeText(text, encoding, nullptr));
    }
    for (const int encoding : {0, 1}) {
        const FrameText part = frameText(text, encoding, kUsbMaxTextBytes, nullptr);
        QVERIFY(!part.tableMissing);
        QCOMPARE(part.bytes, QByteArray(512, 'a'));
    }
    QVERIFY(!encodeText(text, 5, &*m_table));
    QVERIFY(!encodeText(text, -1, &*m_table));
}

void TstSynthesis::tagFrames_data()
{
    QTest::addColumn<std::optional<QByteArray>>("frame");
    QTest::addColumn<QByteArray>("expected");   // empty: no frame
    QTest::newRow("volume 0") << barTagFrame(TagBar::Volume, 1) << hex("fd000601015b76305d");
    QTest::newRow("volume 5") << barTagFrame(TagBar::Volume, 6) << hex("fd000601015b76355d");
    QTest::newRow("volume 9") << barTagFrame(TagBar::Volume, 10) << hex("fd000601015b76395d");
    QTest::newRow("volume 10") << barTagFrame(TagBar::Volume, 11) << hex("fd000701015b7631305d");
    QTest::newRow("rate 10") << barTagFrame(TagBar::Rate, 11) << hex("fd000701015b7331305d");
    QTest::newRow("intonation 3") << barTagFrame(TagBar::Intonation, 4)
                                  << hex("fd000601015b74335d");
    QTest::newRow("bar below range") << barTagFrame(TagBar::Volume, 0) << QByteArray();
    QTest::newRow("bar above range") << barTagFrame(TagBar::Rate, 12) << QByteArray();
    QTest::newRow("first voice") << voiceTagFrame(0) << hex("fd000601015b6d335d");
    QTest::newRow("third voice") << voiceTagFrame(2) << hex("fd000701015b6d35325d");
    QTest::newRow("sixth voice") << voiceTagFrame(5) << hex("fd000701015b6d35355d");
    QTest::newRow("no seventh voice") << voiceTagFrame(6) << QByteArray();
    QTest::newRow("no voice -1") << voiceTagFrame(-1) << QByteArray();
    QTest::newRow("reset") << std::optional(resetTagFrame()) << hex("fd000501015b645d");
}

void TstSynthesis::tagFrames()
{
    QFETCH(std::optional<QByteArray>, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.has_value(), !expected.isEmpty());
    if (frame)
        QCOMPARE(*frame, expected);
}

void TstSynthesis::decodeBuiltFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("storeEncoding");
    QTest::addColumn<QList<int>>("fields");   // command, encoding, segment, repeat count
    QTest::addColumn<QString>("text");   // what the chip receives
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<int>("warnings");

    const QString widget = QStringLiteral("欢迎光临[v5]\n为钎镕?😀");
    const QString gbk = QStringLiteral("欢迎光临[v5]\r\n为钎镕??");
    const QStringList v5 = {QStringLiteral("[v5]")};
    const QStringList texts = {gbk, gbk, QStringLiteral("歡迎光臨[v5]\r\n為？鎔??"),
        QStringLiteral("欢迎光临[v5]\r\n为钎镕?😀"), QStringLiteral("欢迎光临[v5]\r\n为钎镕?😀")};
    for (int encoding = 0; encoding < kEncodingCount; ++encoding) {
        const QByteArray bytes = frameText(widget, encoding, kSerialMaxTextBytes, &*m_table).bytes;
        QTest::addRow("synthesis %s", qPrintable(encodingName(encoding)))
            << synthesisFrame(quint8(encoding), bytes) << 1 << QList {1, encoding, -1, -1}
            << texts.at(encoding) << v5 << (encoding == 0 ? 1 : 0);   // 镕 is not GB2312
        QTest::addRow("cache store %s", qPrintable(encodingName(encoding)))
            << parameterFrame(Command::CacheStore, 15, bytes) << encoding
            << QList {0x31, encoding, 15, -1} << texts.at(encoding) << v5
            << (encoding == 0 ? 1 : 0);
    }
    const QString largest = QString(2045, u'中') + u'a';
    QTest::newRow("largest serial frame") << synthesisFrame(1, toGbk(largest)) << 1
                                          << QList {1, 1, -1, -1} << largest << QStringList() << 0;
    QTest::newRow("cache play 15 times, GBK")
        << cachePlayFrame(15, 1) << 1 << QList {0x32, 1, -1, 15} << QString() << QStringList() << 0;
    QTest::newRow("cache play once, Unicode big-endian")
        << cachePlayFrame(1, 4) << 1 << QList {0x32, 4, -1, 1} << QString() << QStringList() << 0;
    QTest::newRow("volume 10") << *barTagFrame(TagBar::Volume, 11) << 1 << QList {1, 1, -1, -1}
                               << QStringLiteral("[v10]") << QStringList {"[v10]"} << 0;
    QTest::newRow("voice [m52]") << *voiceTagFrame(2) << 1 << QList {1, 1, -1, -1}
                                 << QStringLiteral("[m52]") << QStringList {"[m52]"} << 0;
    QTest::newRow("reset") << resetTagFrame() << 1 << QList {1, 1, -1, -1} << QStringLiteral("[d]")
                           << QStringList {"[d]"} << 0;
    const QString tagged = QStringLiteral("[p500][=xing2][x1]a[b][v]ok[d]");
    QTest::newRow("tags in text") << synthesisFrame(1, toGbk(tagged)) << 1 << QList {1, 1, -1, -1}
                                  << tagged << QStringList {"[p500]", "[=xing2]", "[x1]", "[d]"}
                                  << 0;
    QTest::newRow("hex editor header frame")
        << headerPlayFrame(QStringLiteral("BB B6 D3 AD"), 1).bytes << 1 << QList {1, 1, -1, -1}
        << QStringLiteral("欢迎") << QStringList() << 0;
    for (const Command command : {Command::Stop, Command::Pause, Command::Resume,
             Command::StatusQuery, Command::Standby, Command::VersionQuery, Command::WakeUp})
        QTest::addRow("command %02X", int(command))
            << commandFrame(command) << 1 << QList {int(command), -1, -1, -1} << QString()
            << QStringList() << 0;
}

// Every frame the program builds decodes to what it was built from.
void TstSynthesis::decodeBuiltFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, storeEncoding);
    QFETCH(QList<int>, fields);
    QFETCH(QString, text);
    QFETCH(QStringList, tags);
    QFETCH(int, warnings);
    const DecodedFrame decoded = decodeFrame(frame, storeEncoding);
    QCOMPARE(
        (QList {decoded.command, decoded.encoding, decoded.segment, decoded.repeatCount}), fields);
    QCOMPARE(decoded.text, text);
    QStringList found;
    for (const TagSpan &tag : decoded.tags)
        found.append(decoded.text.mid(tag.start, tag.length));
    QCOMPARE(found, tags);
    QCOMPARE(decoded.declaredLength, frame.size() - 3);
    QVERIFY(!decoded.hasErrors());
    QCOMPARE(decoded.problems.size(), warnings);
}

void TstSynthesis::decodeMalformedFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("problems");   // "E" or "W", offset, message
    QTest::addColumn<QString>("summary");
    const QByteArray welcome = hex("bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1");
    QTest::newRow("empty") << QByteArray() << QStringList {"E -1 帧太短：0 字节，至少应有 4 字节"}
                           << QStringLiteral("无效帧（错误：帧太短：0 字节，至少应有 4 字节）");
    QTest::newRow("no head") << hex("fe000102") << QStringList {"E 0 缺少帧头 FD"}
                             << QStringLiteral("停止（错误：缺少帧头 FD）");
    QTest::newRow("cut after the length")
        << hex("fd0001")
        << QStringList {"E 1 长度字段为 1，实际为 0 字节", "E -1 帧太短：3 字节，至少应有 4 字节"}
        << QStringLiteral("无效帧（错误：长度字段为 1，实际为 0 字节）");
    QTest::newRow("length field disagrees")
        << hex("fd001e0101") + welcome.left(26) << QStringList {"E 1 长度字段为 30，实际为 28 字节"}
        << QStringLiteral("合成 GBK 26 字节：欢迎观看语音合成系统的演示（错误：长度字段为 "
                          "30，实际为 28 字节）");
    QTest::newRow("unknown command") << hex("fd000199") << QStringList {"E 3 未知命令 0x99"}
                                     << QStringLiteral("未知命令 0x99（错误：未知命令 0x99）");
    QTest::newRow("stop with a parameter")
        << hex("fd00020200") << QStringList {"E 4 停止命令不带参数，多出 1 字节"}
        << QStringLiteral("停止（错误：停止命令不带参数，多出 1 字节）");
    QTest::newRow("synthesis without parameter")
        << hex("fd000101") << QStringList {"E -1 合成命令缺少编码参数"} << QString();
    QTest::newRow("encoding 5") << hex("fd0003010541") << QStringList {"E 4 编码参数为 5，应为 0–4"}
                                << QString();
    QTest::newRow("segment 16") << hex("fd0003311041") << QStringList {"E 4 区段为 16，应为 0–15"}
                                << QString();
    QTest::newRow("cache play: no repeat, encoding 7, extra byte")
        << hex("fd0003320700")
        << QStringList {"E 4 重播次数为 0", "E 4 编码参数为 7，应为 0–4",
               "E 5 缓存播放命令只带一个参数字节，多出 1 字节"}
        << QString();
    QTest::newRow("not GBK")
        << hex("fd0007010141813042fe") << QStringList {"E 6 偏移 6 起有 2 处不是有效的 GBK 编码"}
        << QStringLiteral("合成 GBK 5 字节：A�0B�（错误：偏移 6 起有 2 处不是有效的 GBK 编码）");
    QTest::newRow("not BIG5") << hex("fd0005010241a130")
                              << QStringList {"E 6 偏移 6 起有 1 处不是有效的 BIG5 编码"}
                              << QString();
    QTest::newRow("odd UTF-16") << hex("fd000501034100ff")
                                << QStringList {"E 7 偏移 7 起有 1 处不是有效的 Unicode小头 编码"}
                                << QString();
    QTest::newRow("lone surrogate")
        << hex("fd00060104d8000041")
        << QStringList {"E 5 偏移 5 起有 1 处不是有效的 Unicode大头 编码"} << QString();
    QTest::newRow("GBK characters in GB2312")
        << hex("fd0008010041e946e946") + QByteArray("\xed\x85", 2)
        << QStringList {"E 1 长度字段为 8，实际为 9 字节",
               "W 6 GB2312 帧中有 3 个 GB2312 以外的 GBK 字符：“镕”“韰”（偏移 6 起）"}
        << QString();
    QTest::newRow("no text") << hex("fd00020101") << QStringList {"W -1 没有文本"}
                             << QStringLiteral("合成 GBK 0 字节（警告：没有文本）");
}

void TstSynthesis::decodeMalformedFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, problems);
    QFETCH(QString, summary);
    const DecodedFrame decoded = decodeFrame(frame);
    QStringList found;
    for (const FrameProblem &problem : decoded.problems)
        found.append(QStringLiteral("%1 %2 %3")
                         .arg(QChar(problem.severity == ProblemSeverity::Error ? u'E' : u'W'))
                         .arg(problem.offset)
                         .arg(problem.message));
    QCOMPARE(found, problems);
    if (!summary.isEmpty())
        QCOMPARE(frameSummary(decoded), summary);
}

void TstSynthesis::decodeInEnglish_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("summary");
    QTest::newRow("synthesis") << hex("fd00060101c4e3bac3")
                               << QStringLiteral("Synthesize GBK 4 bytes: 你好");
    QTest::newRow("cache store") << hex("fd0003310341")
                                 << QStringLiteral("Cache store segment 3 GBK 1 byte: A");
    QTest::newRow("cache play") << hex("fd00023221") << QStringLiteral("Cache play ×2 GBK");
    QTest::newRow("stop with a byte too many")
        << hex("fd00020200")
        << QStringLiteral("Stop (error: Stop command takes no parameter, 1 byte too many)");
    QTest::newRow("too short")
        << hex("fd00")
        << QStringLiteral("Invalid frame (error: frame too short: 2 bytes, at least 4 needed)");
    QTest::newRow("unknown command")
        << hex("fd000199") << QStringLiteral("Unknown command 0x99 (error: unknown command 0x99)");
    QTest::newRow("UTF-16LE, odd")
        << hex("fd000501034100ff")
        << QStringLiteral("Synthesize UTF-16LE 3 bytes: A (error: 1 places from offset 7 are not "
                          "valid UTF-16LE)");
    QTest::newRow("no head, no text")
        << hex("fe00020101") << QStringLiteral("Synthesize GBK 0 bytes (error: no frame head FD)");
}

// The English words name the same problems at the same offsets, and the Chinese ones stay.
void TstSynthesis::decodeInEnglish()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, summary);
    const DecodedFrame english = decodeFrame(frame, 1, Wording::English);
    const DecodedFrame chinese = decodeFrame(frame);
    QCOMPARE(frameSummary(english, Wording::English), summary);
    QCOMPARE(english.problems.size(), chinese.problems.size());
    for (qsizetype i = 0; i < english.problems.size(); ++i) {
        QCOMPARE(english.problems.at(i).offset, chinese.problems.at(i).offset);
        QVERIFY(english.problems.at(i).message != chinese.problems.at(i).message);
    }
    QCOMPARE(frameSummary(chinese), frameSummary(decodeFrame(frame, 1, Wording::Chinese)));
}

void TstSynthesis::decodedJson_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("text, tag and problems")
        << hex("fd0009010041e9465b645d")
        << QByteArray(R"({"command":1,"commandName":"合成","encoding":0,"encodingName":"GB2312",
            "declaredLength":9,"actualLength":8,"textBytes":6,"text":"A镕[d]",
            "tags":[{"tag":"[d]","start":2,"length":3}],
            "problems":[{"severity":"error","offset":1,"message":"长度字段为 9，实际为 8 字节"},
            {"severity":"warning","offset":6,
             "message":"GB2312 帧中有 1 个 GB2312 以外的 GBK 字符：“镕”（偏移 6 起）"}]})");
    QTest::newRow("no text fields for cache play")
        << cachePlayFrame(15, 1)
        << QByteArray(R"({"command":50,"commandName":"缓存播放","encoding":1,"encodingName":"GBK",
            "repeatCount":15,"declaredLength":2,"actualLength":2,"problems":[]})");
}

void TstSynthesis::decodedJson()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, json);
    const QJsonDocument expected = QJsonDocument::fromJson(json);
    QVERIFY(expected.isObject());
    QCOMPARE(QJsonDocument(frameJson(decodeFrame(frame))), expected);
}

void TstSynthesis::textCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<bool>("withTable");
    QTest::addColumn<int>("characters");
    QTest::addColumn<QStringList>("uncarried");   // character, kind and what is sent, count

    const QString mixed = QStringLiteral("钎😀a\n镕€ก钎😀为\u2029");
    QTest::newRow("GB2312") << mixed << 0 << true << 11
                            << QStringList {"😀 G? 2", "镕 2- 1", "€ 2- 1", "ก G? 1"};
    QTest::newRow("GBK") << mixed << 1 << true << 11 << QStringList {"😀 G? 2", "ก G? 1"};
    QTest::newRow("BIG5") << mixed << 2 << true << 11
                          << QStringList {"钎 B？ 2", "😀 G? 2", "€ B? 1", "ก G? 1"};
    QTest::newRow("BIG5 without a table")
        << mixed << 2 << false << 11 << QStringList {"😀 G? 2", "ก G? 1"};
    QTest::newRow("BIG5 question mark is carried")
        << QStringLiteral("？") << 2 << true << 1 << QStringList();
    QTest::newRow("Unicode carries all") << mixed << 3 << true << 11 << QStringList();
    QTest::newRow("CR LF is one") << QStringLiteral("a\r\nb") << 4 << true << 3 << QStringList();
}

void TstSynthesis::textCheck()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(bool, withTable);
    QFETCH(int, characters);
    QFETCH(QStringList, uncarried);
    const TextCheck check = checkText(text, encoding, withTable ? &*m_table : nullptr);
    QCOMPARE(check.characters, characters);
    QStringList found;
    for (const UncarriedCharacter &c : check.uncarried)
        found.append(QStringLiteral("%1 %2%3 %4")
                         .arg(c.character, QStringLiteral("GB2").at(int(c.kind)),
                             c.sentAs.isNull() ? QStringLiteral("-") : QString(c.sentAs))
                         .arg(c.count));
    QCOMPARE(found, uncarried);
}

void TstSynthesis::demonstrationText()
{
    const QString text = ::demonstrationText();
    QCOMPARE(crLfLines(text), 158);
    QVERIFY(!text.contains(u'\r'));
    QVERIFY(text.startsWith(QStringLiteral("欢迎观看语音合成系统的演示！\n\n【多音字演示】\n\n")));
    QVERIFY(!text.endsWith(u'\n'));
    QVERIFY(toGbk(toCrLf(text)).size() > kSerialMaxTextBytes);
    QVERIFY(!toGbk(text).contains('?'));   // every character has its GBK code

    const QStringList lines = text.split(u'\n');
    const QStringList headings = {QStringLiteral("【多音字演示】"),
        QStringLiteral("【智能数字符号处理】"), QStringLiteral("【姓氏识别】"),
        QStringLiteral("【自动变声调识别】"), QStringLiteral("【提示音识别】"),
        QStringLiteral("【音量调节】"), QStringLiteral("【语速调节】"),
        QStringLiteral("【语调调节】"), QStringLiteral("【发音风格演示】"),
        QStringLiteral("【发音人演示】"), QStringLiteral("【其它控制标记演示】"),
        QStringLiteral("【英文字母混读】"), QStringLiteral("【行业应用】"),
        QStringLiteral("【短信等乱序接收后的正常播报】 -- 此功能为特殊应用")};
    const QList<int> sampleLines = {4, 9, 2, 4, 2, 5, 5, 5, 2, 6, 29, 4, 11, 23};
    int at = 2;
    for (int section = 0; section < headings.size(); ++section) {
        QCOMPARE(lines.at(at), headings.at(section));
        QCOMPARE(lines.at(at + 1), QString());
        for (int i = 0; i < sampleLines.at(section); ++i) {
            const QString &line = lines.at(at + 2 + i);
            if (!line.isEmpty() && section < 13)
                QVERIFY2(line.startsWith(QStringLiteral("    ")), qPrintable(line));
        }
        at += 2 + sampleLines.at(section);
        if (section < 12) {
            QCOMPARE(lines.at(at), QString());
            ++at;
        } else if (section == 12) {
            for (int i = 0; i < 5; ++i)
                QCOMPARE(lines.at(at + i), QString());
            at += 5;
        }
    }
    QCOMPARE(at, lines.size());

    // voices, in tag order, by the names of the voice list
    const QStringList names = voiceNames();
    QCOMPARE(names.size(), kVoiceCount);
    const int voices = int(lines.indexOf(headings.at(9))) + 2;
    for (int k = 0; k < kVoiceCount; ++k)
        QCOMPARE(lines.at(voices + k),
            QStringLiteral("    ") + QString::fromLatin1(voiceTag(k)) + QStringLiteral("我是")
                + names.at(k) + QStringLiteral("；[m3][d]"));

    // twelve pieces of 122 GBK bytes, the last of 116
    static const QRegularExpression piece(QStringLiteral("^\\((\\d\\d)/12\\)：(.+)$"));
    const int pieces = int(lines.indexOf(headings.at(13))) + 2;
    for (int n = 0; n < 12; ++n) {
        const QString &line = lines.at(pieces + 2 * n);
        const QRegularExpressionMatch match = piece.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1).toInt(), n + 1);
        QCOMPARE(toGbk(match.captured(2)).size(), n < 11 ? 122 : 116);
        if (n < 11)
            QCOMPARE(lines.at(pieces + 2 * n + 1), QString());
    }

    // quoted lines, character for character, trailing blanks included
    for (const QString &quoted : {QStringLiteral("    他是一位姓朴的朴素的韩国艺人。"),
             QStringLiteral("    soundb  soundi  soundk  soundm  soundt  soundu。"),
             QStringLiteral("    [v10]这是音量最大的效果。[d]"),
             QStringLiteral("    [f1]这是发音风格正常，平铺直叙的效果；[d]"),
             QStringLiteral("    例如：欢迎光临，请进！。[b1]欢迎光临，请进！[d] "),
             QStringLiteral("    刷卡成功，时间：8:25。 "),
             QStringLiteral("    请0301号就诊者到二楼东侧11号诊室就诊。 "),
             QStringLiteral("    银行行长。银行行[=xing2]长[=chang2]。")})
        QVERIFY2(lines.contains(quoted), qPrintable(quoted));

    // the serial limit takes the leading part up to 4091 bytes
    const FrameText part = frameText(text, 1, kSerialMaxTextBytes, nullptr);
    QVERIFY(part.cut);
    QVERIFY(part.textByteCount <= kSerialMaxTextBytes && part.textByteCount >= 4090);
    QCOMPARE(serialPieces(synthesisFrame(1, part.bytes)).size(), 2);
}

void TstSynthesis::promptSoundCatalogue()
{
    const QString text = ::promptSoundCatalogue();
    QCOMPARE(crLfLines(text), 49);
    QVERIFY(text.startsWith(QStringLiteral("\n【和弦提示音类型】：14首\nmsga      msgb")));
    QVERIFY(toCrLf(text).endsWith(QStringLiteral("\r\n")));
    QVERIFY(
        text.contains(QStringLiteral("\nsoundp    soundq    soundr    soundt     soundu    \n")));
    QVERIFY(text.contains(QStringLiteral("\nsound716  sound717  sound718  sound719     \n")));
    QVERIFY(!text.contains(QStringLiteral("sounds")));
    // every name once: 14 + 24 + 19 + 19 + 8 + 7 + 2 + 19 + 24
    static const QRegularExpression name(QStringLiteral("\\b(msg[a-n]|sound\\d{3}|sound[a-y])\\b"));
    QSet<QString> names;
    int count = 0;
    for (auto it = name.globalMatch(text); it.hasNext(); ++count)
        names.insert(it.next().captured(1));
    QCOMPARE(count, 136);
    QCOMPARE(names.size(), 136);
}

QTEST_GUILESS_MAIN(TstSynthesis)
#include "tst_synthesis.moc"
