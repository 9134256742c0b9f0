// The window's text-carrying commands driven through its controls: synthesis, control tags, the
// loadable texts, cache store and play, and the hexadecimal frame editor. The far end of COM1
// records every byte; expected text bytes come from ICU's own converters.
#include "form1fixture.h"

#include "messages.h"

#include <QLabel>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTextCursor>

namespace {

const QString kGeneratedTable = QStringLiteral(ORV_CODE_TABLE);
constexpr int kSerialMaxTextBytes = 4091;

enum Encoding { Gb2312, Gbk, Big5, Utf16Le, Utf16Be };

std::function<void(Form1Options &)> withTable(const QString &path)
{
    return [path](Form1Options &options) { options.tablePath = path; };
}

// FD, length (high byte first) over command, parameter and data, command, parameter, data.
QByteArray frame(quint8 command, quint8 parameter, const QByteArray &data)
{
    const qsizetype length = 2 + data.size();
    QByteArray bytes;
    bytes.append(char(0xFD)).append(char(length >> 8)).append(char(length & 0xFF));
    bytes.append(char(command)).append(char(parameter)).append(data);
    return bytes;
}

QByteArray tagWire(const char *tag)
{
    return frame(0x01, 0x01, QByteArray(tag));
}

// The text bytes of a widget text in an encoding, line breaks as CR LF, by ICU's converters.
QByteArray icuBytes(QString text, int encoding)
{
    text.replace(QChar::ParagraphSeparator, u'\n')
        .replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    switch (encoding) {
    case Big5: {
        QStringEncoder big5("windows-950");
        return big5(text);
    }
    case Utf16Le: {
        QStringEncoder le(QStringConverter::Utf16LE);
        return le(text);
    }
    case Utf16Be: {
        QStringEncoder be(QStringConverter::Utf16BE);
        return be(text);
    }
    default: {
        QStringEncoder gbk("windows-936");
        return gbk(text);
    }
    }
}

QPlainTextEdit *text3(Form1Fixture &f)
{
    return f.find<QPlainTextEdit>("Text3");
}

// Selects from anchor to position (either order), as a drag with the mouse does.
void select(Form1Fixture &f, int anchor, int position)
{
    QTextCursor cursor(text3(f)->document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    text3(f)->setTextCursor(cursor);
}

QString selection(Form1Fixture &f)
{
    return text3(f)->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n');
}

int sentEntries(Form1Fixture &f)
{
    return int(f.log().count(QStringLiteral("发出一帧，字节数 ")));
}

QString sentEntry(qsizetype bytes)
{
    return QStringLiteral("发出一帧，字节数 %1\r\n").arg(bytes);
}

}   // namespace

class TstForm1Text : public QObject
{
    Q_OBJECT
private slots:
    void hexEditorShowsTheFrame_data();
    void hexEditorShowsTheFrame();
    void statusBar_data();
    void statusBar();
    void synthesis_data();
    void synthesis();
    void typedLineBreaks();
    void demonstrationTextIsCut();
    void tableFailures_data();
    void tableFailures();
    void emptyBoxSendsNothing_data();
    void emptyBoxSendsNothing();
    void tagFrames_data();
    void tagFrames();
    void dragSendsOneTag();
    void resetSendsOnlyDefaults_data();
    void resetSendsOnlyDefaults();
    void loadTexts();
    void cacheStore_data();
    void cacheStore();
    void cacheStoreWithoutSegment();
    void cachePlay_data();
    void cachePlay();
    void hexEditor_data();
    void hexEditor();
};

void TstForm1Text::synthesis_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");   // -1: nothing selected
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("selectedAfter");

    const QString welcome = QStringLiteral("欢迎光临");
    QTest::newRow("nothing selected: all")
        << welcome << -1 << -1 << int(Gbk) << QByteArray::fromHex("bbb6d3adb9e2c1d9") << welcome;
    QTest::newRow("inside the text") << welcome << 1 << 3 << int(Gbk)
                                     << QByteArray::fromHex("d3adb9e2") << QStringLiteral("迎光");
    QTest::newRow("selected backwards")
        << welcome << 3 << 1 << int(Gbk) << QByteArray::fromHex("d3adb9e2")
        << QStringLiteral("迎光");

    const QString lines = QStringLiteral("第一行\n第二行\n第三行");
    QTest::newRow("multi-line GBK")
        << lines << 2 << 6 << int(Gbk) << icuBytes(QStringLiteral("行\n第二"), Gbk)
        << QStringLiteral("行\n第二");
    QTest::newRow("multi-line big-endian")
        << QStringLiteral("ab\ncd") << -1 << -1 << int(Utf16Be)
        << QByteArray::fromHex("00610062000d000a00630064") << QStringLiteral("ab\ncd");

    // Characters that both GBK and BIG5 hold, ASCII among them.
    const QString mixed = QStringLiteral("Hi 中文語音，好!");
    const char *names[] = {"GB2312", "GBK", "BIG5", "Unicode little-endian", "Unicode big-endian"};
    for (int encoding = Gb2312; encoding <= Utf16Be; ++encoding)
        QTest::newRow(names[encoding])
            << mixed << -1 << -1 << encoding << icuBytes(mixed, encoding) << mixed;

    // A simplified character goes out as the BIG5 code of its traditional form; one whose
    // traditional form has no BIG5 code as the filler "？".
    QTest::newRow("simplified in BIG5")
        << QStringLiteral("欢迎光临为钎") << -1 << -1 << int(Big5)
        << QByteArray::fromHex("c577aaefa5fac17bacb0a148") << QStringLiteral("欢迎光临为钎");
    QTest::newRow("outside the BMP, GBK") << QStringLiteral("a😀b") << -1 << -1 << int(Gbk)
                                          << QByteArray("a?b") << QStringLiteral("a😀b");
    QTest::newRow("outside the BMP, little-endian")
        << QStringLiteral("a😀b") << -1 << -1 << int(Utf16Le)
        << icuBytes(QStringLiteral("a😀b"), Utf16Le) << QStringLiteral("a😀b");

    // 1 + 2 x 2045 = 4091 bytes: the whole text fits.
    const QString full = u'a' + QString(2045, u'中');
    QTest::newRow("exactly MaxTextBytes")
        << full << -1 << -1 << int(Gbk) << icuBytes(full, Gbk) << full;
    const QString ascii(kSerialMaxTextBytes - 1, u'a');
    QTest::newRow("line break across the limit")
        << ascii + QStringLiteral("\nb") << -1 << -1 << int(Gbk) << icuBytes(ascii, Gbk) << ascii;
    const QString chinese = QStringLiteral("xyz") + QString(3000, u'中');
    const QString kept = chinese.mid(1, 2 + 2044);   // 2 + 4088 bytes; one more is 4092
    QTest::newRow("cut a selection that starts inside")
        << chinese << 1 << int(chinese.size()) << int(Gbk) << icuBytes(kept, Gbk) << kept;
    const QString pairs = QString(2, u'a') + QStringLiteral("😀").repeated(1100);
    QTest::newRow("pair across the Unicode limit")   // 4 + 4 x 1021 = 4088 bytes; one more is 4092
        << pairs << -1 << -1 << int(Utf16Be) << icuBytes(pairs.left(2 + 2 * 1021), Utf16Be)
        << pairs.left(2 + 2 * 1021);
}

void TstForm1Text::synthesis()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(int, encoding);
    QFETCH(QByteArray, data);
    QFETCH(QString, selectedAfter);

    Form1Fixture f({}, true, false, withTable(kGeneratedTable));
    f.pick("Combo5", encoding);
    text3(f)->setPlainText(text);
    if (anchor >= 0)
        select(f, anchor, position);
    f.click("Command6");

    const QByteArray wire = frame(0x01, quint8(encoding), data);
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(selection(f), selectedAfter);
    QCOMPARE(sentEntries(f), 1);
    QVERIFY(f.log().startsWith(sentEntry(wire.size())));
    QVERIFY(f.messages.shown.isEmpty());
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
    QVERIFY(text3(f)->hasFocus());   // the selection shows what went out
}

void TstForm1Text::typedLineBreaks()
{
    Form1Fixture f;
    QPlainTextEdit *box = text3(f);
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("ab"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier);   // a line separator
    QTest::keyClicks(box, QStringLiteral("cd"));
    QTest::keyClick(box, Qt::Key_Return);   // a new paragraph
    QTest::keyClicks(box, QStringLiteral("ef"));
    f.click("Command6");
    QVERIFY(f.boardReceives(frame(0x01, Gbk, QByteArray("ab\r\ncd\r\nef"))));
}

void TstForm1Text::demonstrationTextIsCut()
{
    Form1Fixture f;
    f.click("Command31");
    f.click("Command6");

    // The selection is the longest leading part of the text that fits 4091 GBK bytes.
    const QString whole = text3(f)->toPlainText();
    const QString sent = selection(f);
    QVERIFY(whole.startsWith(sent));
    QVERIFY(sent.size() < whole.size());
    const QByteArray data = icuBytes(sent, Gbk);
    QVERIFY(data.size() <= kSerialMaxTextBytes);
    QVERIFY(icuBytes(whole.left(sent.size() + 1), Gbk).size() > kSerialMaxTextBytes);

    // One log entry for the whole frame; the far end sees it whole and in order, although it
    // leaves in two pieces.
    const QByteArray wire = frame(0x01, Gbk, data);
    QCOMPARE(wire.size(), 4096);
    QCOMPARE(sentEntries(f), 1);
    QVERIFY(f.log().startsWith(sentEntry(4096)));
    QVERIFY(f.boardReceives(wire));
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
}

void TstForm1Text::tableFailures_data()
{
    QTest::addColumn<QString>("table");   // "missing", "short" or "generated"
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("kept");   // characters selected afterwards
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("message");

    const QByteArray none;
    QTest::newRow("BIG5, missing, synthesis")
        << "missing" << int(Big5) << "Command6" << kSerialMaxTextBytes << none << Msg::TableMissing;
    QTest::newRow("little-endian, missing, synthesis")
        << "missing" << int(Utf16Le) << "Command6" << 2045 << none << Msg::TableMissing;
    QTest::newRow("BIG5, short, synthesis")
        << "short" << int(Big5) << "Command6" << kSerialMaxTextBytes << none << Msg::TableShort;
    QTest::newRow("big-endian, missing, store")
        << "missing" << int(Utf16Be) << "Command10" << 2045 << none << Msg::TableMissing;
    QTest::newRow("BIG5, short, store")
        << "short" << int(Big5) << "Command10" << kSerialMaxTextBytes << none << Msg::TableShort;
    QTest::newRow("GBK, missing, synthesis")
        << "missing" << int(Gbk) << "Command6" << kSerialMaxTextBytes
        << frame(0x01, Gbk, QByteArray(kSerialMaxTextBytes, 'a')) << QString();
    QTest::newRow("GBK, missing, store")
        << "missing" << int(Gbk) << "Command10" << kSerialMaxTextBytes
        << frame(0x31, 0x00, QByteArray(kSerialMaxTextBytes, 'a')) << QString();
    QTest::newRow("BIG5, generated, synthesis")
        << "generated" << int(Big5) << "Command6" << kSerialMaxTextBytes
        << frame(0x01, Big5, QByteArray(kSerialMaxTextBytes, 'a')) << QString();
}

void TstForm1Text::tableFailures()
{
    QFETCH(QString, table);
    QFETCH(int, encoding);
    QFETCH(QString, button);
    QFETCH(int, kept);
    QFETCH(QByteArray, wire);
    QFETCH(QString, message);

    QTemporaryDir tables;
    QString path = tables.filePath(QStringLiteral("GBKToBig5AndUnicode.dat"));
    if (table == u"short") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(96264 - 4, '\0'));   // one record too few
    } else if (table == u"generated") {
        path = kGeneratedTable;
    }
    Form1Fixture f({}, true, false, withTable(path));
    f.pick("Combo5", encoding);
    const QString text(5000, u'a');
    text3(f)->setPlainText(text);
    f.click(button.toLatin1().constData());

    QCOMPARE(f.messages.shown, message.isEmpty() ? QStringList() : QStringList {message});
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(sentEntries(f), wire.isEmpty() ? 0 : 1);
    QCOMPARE(selection(f), text.left(kept));   // cut, whether sent or not
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
}

void TstForm1Text::emptyBoxSendsNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("encoding");
    QTest::newRow("synthesis") << "Command6" << int(Gbk);
    QTest::newRow("synthesis, BIG5 without a table") << "Command6" << int(Big5);
    QTest::newRow("cache store") << "Command10" << int(Gbk);
    QTest::newRow("cache store, little-endian without a table") << "Command10" << int(Utf16Le);
}

void TstForm1Text::emptyBoxSendsNothing()
{
    QFETCH(QString, button);
    QFETCH(int, encoding);
    QTemporaryDir tables;
    Form1Fixture f({}, true, false, withTable(tables.filePath(QStringLiteral("none.dat"))));
    f.pick("Combo5", encoding);
    text3(f)->clear();
    f.click(button.toLatin1().constData());
    QVERIFY(f.boardReceives({}));
    QVERIFY(f.log().isEmpty());
    QVERIFY(f.messages.shown.isEmpty());
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
}

void TstForm1Text::tagFrames_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");   // bar value or voice entry
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("volume 6 to 1")
        << "HScroll1" << 1 << int(Gbk) << QByteArray::fromHex("fd000601015b76305d");
    QTest::newRow("volume to 11") << "HScroll1" << 11 << int(Gbk)
                                  << QByteArray::fromHex("fd000701015b7631305d");
    QTest::newRow("rate to 3") << "HScroll2" << 3 << int(Gbk) << tagWire("[s2]");
    QTest::newRow("rate to 11") << "HScroll2" << 11 << int(Gbk) << tagWire("[s10]");
    QTest::newRow("intonation to 10") << "HScroll3" << 10 << int(Gbk) << tagWire("[t9]");
    QTest::newRow("intonation to 11") << "HScroll3" << 11 << int(Gbk) << tagWire("[t10]");
    QTest::newRow("volume, Unicode chosen") << "HScroll1" << 8 << int(Utf16Be) << tagWire("[v7]");
    QTest::newRow("voice entry 2")
        << "Combo4" << 2 << int(Gbk) << QByteArray::fromHex("fd000701015b6d35325d");
    QTest::newRow("voice entry 0")
        << "Combo4" << 0 << int(Gbk) << QByteArray::fromHex("fd000601015b6d335d");
    QTest::newRow("voice entry 5, Unicode chosen")
        << "Combo4" << 5 << int(Utf16Le) << tagWire("[m55]");
}

void TstForm1Text::tagFrames()
{
    QFETCH(QString, control);
    QFETCH(int, value);
    QFETCH(int, encoding);
    QFETCH(QByteArray, wire);

    Form1Fixture f;
    f.pick("Combo5", encoding);
    const bool bar = control.startsWith(u"HScroll");
    if (bar)
        f.find<QScrollBar>(control.toLatin1().constData())->setValue(value);
    else
        f.pick("Combo4", value);

    QVERIFY(f.boardReceives(wire));
    QCOMPARE(f.log(),
        sentEntry(wire.size()) + QStringLiteral("----> ")
            + QString::fromLatin1(wire.toHex(' ').toUpper()) + QStringLiteral(" \r\n"));
    if (bar)   // the level beside the bar is the tag it sent
        QCOMPARE(f.find<QLabel>((control + QStringLiteral("Level")).toLatin1().constData())->text(),
            QString::fromLatin1(wire.mid(5)));
}

void TstForm1Text::dragSendsOneTag()
{
    // Dragging the thumb from 6 to 1 and letting go is one move of the bar: one tag.
    Form1Fixture f;
    auto *bar = f.find<QScrollBar>("HScroll1");
    bar->setSliderDown(true);
    for (int position = 5; position >= 1; --position)
        bar->setSliderPosition(position);
    bar->setSliderDown(false);
    QCOMPARE(bar->value(), 1);
    QVERIFY(f.boardReceives(tagWire("[v0]")));
}

void TstForm1Text::resetSendsOnlyDefaults_data()
{
    QTest::addColumn<QList<int>>("bars");   // HScroll1 to HScroll3 before the reset
    QTest::addColumn<QByteArray>("moves");
    QTest::newRow("bars at 6") << QList<int> {6, 6, 6} << QByteArray();
    QTest::newRow("bars moved") << QList<int> {1, 9, 11}
                                << tagWire("[v0]") + tagWire("[s8]") + tagWire("[t10]");
}

void TstForm1Text::resetSendsOnlyDefaults()
{
    QFETCH(QList<int>, bars);
    QFETCH(QByteArray, moves);

    Form1Fixture f;
    const char *names[] = {"HScroll1", "HScroll2", "HScroll3"};
    for (int i = 0; i < 3; ++i)
        f.find<QScrollBar>(names[i])->setValue(bars.at(i));
    QVERIFY(f.boardReceives(moves));
    f.board.clearReceived();
    const int before = sentEntries(f);

    f.click("Command34");
    QVERIFY(f.boardReceives(QByteArray::fromHex("fd000501015b645d")));
    QCOMPARE(sentEntries(f), before + 1);
    QVERIFY(f.log().endsWith(sentEntry(8) + QStringLiteral("----> FD 00 05 01 01 5B 64 5D \r\n")));
    for (const char *name : names)
        QCOMPARE(f.find<QScrollBar>(name)->value(), 6);

    // The bars send again afterwards.
    f.find<QScrollBar>("HScroll2")->setValue(7);
    QVERIFY(f.boardReceives(QByteArray::fromHex("fd000501015b645d") + tagWire("[s6]")));
}

void TstForm1Text::loadTexts()
{
    Form1Fixture f(QByteArray("typed text"));
    select(f, 1, 4);
    f.click("Command31");
    const QString demonstration = text3(f)->toPlainText();
    QCOMPARE(demonstration.section(u'\n', 0, 0), QStringLiteral("欢迎观看语音合成系统的演示！"));
    QVERIFY(!demonstration.endsWith(u'\n'));
    QVERIFY(!text3(f)->textCursor().hasSelection());

    f.click("Command32");
    const QString catalogue = text3(f)->toPlainText();
    QVERIFY(catalogue.startsWith(u'\n'));
    QVERIFY(catalogue.contains(QStringLiteral("soundr    soundt")));
    f.click("Command31");
    QCOMPARE(text3(f)->toPlainText(), demonstration);
    QVERIFY(!text3(f)->textCursor().hasSelection());

    QVERIFY(f.boardReceives({}));   // loading sends nothing
    QVERIFY(f.log().isEmpty());
}

void TstForm1Text::cacheStore_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("segment");
    QTest::addColumn<int>("kept");   // characters stored and selected afterwards
    QTest::addColumn<QByteArray>("data");

    const int max = kSerialMaxTextBytes;
    QTest::newRow("exactly MaxTextBytes")
        << QString(max, u'a') << int(Gbk) << 0 << max << QByteArray(max, 'a');
    QTest::newRow("one more is cut")
        << QString(max + 1, u'a') << int(Gbk) << 4 << max << QByteArray(max, 'a');
    QTest::newRow("straddling double-byte") << QString(max - 1, u'a') + QStringLiteral("中b")
                                            << int(Gbk) << 1 << max - 1 << QByteArray(max - 1, 'a');
    QTest::newRow("Unicode halves, little-endian") << QString(
        3000, u'a') << int(Utf16Le) << 2 << max / 2 << QByteArray("a\0", 2).repeated(max / 2);
    QTest::newRow("Unicode halves, big-endian") << QString(max / 2 + 1,
        u'b') << int(Utf16Be) << 3 << max / 2 << QByteArray("\0b", 2).repeated(max / 2);
    QTest::newRow("2000-byte frame")
        << QString(1995, u'x') << int(Gbk) << 15 << 1995 << QByteArray(1995, 'x');
    QTest::newRow("2001-byte frame")
        << QString(1996, u'y') << int(Gb2312) << 7 << 1996 << QByteArray(1996, 'y');
    QTest::newRow("two lines, BIG5") << QStringLiteral("中文\n語音") << int(Big5) << 9 << 5
                                     << icuBytes(QStringLiteral("中文\n語音"), Big5);
}

void TstForm1Text::cacheStore()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(int, segment);
    QFETCH(int, kept);
    QFETCH(QByteArray, data);

    Form1Fixture f({}, true, false, withTable(kGeneratedTable));
    f.pick("Combo5", encoding);
    f.pick("Combo6", segment);
    text3(f)->setPlainText(text);
    f.click("Command10");

    const QByteArray wire = frame(0x31, quint8(segment), data);
    QCOMPARE(sentEntries(f), 1);
    QVERIFY(f.log().startsWith(sentEntry(wire.size())));
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(selection(f), text.left(kept));
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
    QVERIFY(f.messages.shown.isEmpty());
    QVERIFY(text3(f)->hasFocus());
}

void TstForm1Text::cacheStoreWithoutSegment()
{
    Form1Fixture f;
    text3(f)->setPlainText(QStringLiteral("欢迎光临"));
    f.find<QComboBox>("Combo6")->setCurrentIndex(-1);
    f.click("Command10");
    QCOMPARE(f.messages.shown, QStringList {Msg::NoSegment});
    QVERIFY(f.boardReceives({}));
    QVERIFY(f.log().isEmpty());
    QVERIFY(f.find<QPushButton>("Command6")->isEnabled());
}

void TstForm1Text::cachePlay_data()
{
    QTest::addColumn<int>("repeatEntry");   // list index of Combo7; -1: none
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("message");
    QTest::newRow("15, GBK") << 14 << int(Gbk) << QByteArray::fromHex("fd000232f1") << QString();
    QTest::newRow("01, GB2312") << 0 << int(Gb2312) << QByteArray::fromHex("fd00023210")
                                << QString();
    QTest::newRow("15, big-endian")
        << 14 << int(Utf16Be) << QByteArray::fromHex("fd000232f4") << QString();
    QTest::newRow("03, GBK") << 2 << int(Gbk) << QByteArray::fromHex("fd00023231") << QString();
    QTest::newRow("no entry") << -1 << int(Gbk) << QByteArray() << Msg::NoRepeatCount;
}

void TstForm1Text::cachePlay()
{
    QFETCH(int, repeatEntry);
    QFETCH(int, encoding);
    QFETCH(QByteArray, wire);
    QFETCH(QString, message);

    Form1Fixture f;
    f.pick("Combo5", encoding);
    f.find<QComboBox>("Combo7")->setCurrentIndex(repeatEntry);
    f.click("Command13");
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(f.messages.shown, message.isEmpty() ? QStringList() : QStringList {message});
    QCOMPARE(sentEntries(f), wire.isEmpty() ? 0 : 1);
}

void TstForm1Text::hexEditor_data()
{
    QTest::addColumn<QString>("text");   // null: the editor's initial text
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("message");

    const QByteArray query = QByteArray::fromHex("fd000121");
    const QString ok;
    QTest::newRow("initial text, direct")
        << QString() << "Command29" << int(Gbk)
        << QByteArray::fromHex("fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1")
        << ok;
    QTest::newRow("ends after the digits") << "FD 00 01 21"
                                           << "Command29" << int(Gbk) << query << ok;
    QTest::newRow("ends with a blank") << "FD 00 01 21 "
                                       << "Command29" << int(Gbk) << query << ok;
    QTest::newRow("ends with a line break") << "FD 00 01 21\n"
                                            << "Command29" << int(Gbk) << query << ok;
    QTest::newRow("blank and line break")
        << "FD 00 01 21 \n"
        << "Command29" << int(Gbk) << QByteArray() << Msg::HexMismatch;
    QTest::newRow("hyphens") << "FD-00-01-21"
                             << "Command29" << int(Gbk) << query << ok;
    QTest::newRow("commas") << "FD,00,01,21"
                            << "Command29" << int(Gbk) << query << ok;
    QTest::newRow("two lines") << "FD 00\n01 21"
                               << "Command29" << int(Gbk) << QByteArray() << Msg::HexMismatch;
    QTest::newRow("lone trailing digit")
        << "FD 0"
        << "Command29" << int(Gbk) << QByteArray::fromHex("fd") << ok;
    QTest::newRow("lower case") << "fd 00 01 2a"
                                << "Command29" << int(Gbk) << QByteArray::fromHex("fd00012a") << ok;
    QTest::newRow("full-width digit")
        << "FD ０0"
        << "Command29" << int(Gbk) << QByteArray() << Msg::HexMismatch;
    QTest::newRow("one character") << "F"
                                   << "Command29" << int(Gbk) << QByteArray() << Msg::HexMismatch;
    QTest::newRow("header, GBK") << "BB B6 D3 AD"
                                 << "Command30" << int(Gbk)
                                 << QByteArray::fromHex("fd00060101bbb6d3ad") << ok;
    QTest::newRow("header, big-endian")
        << "bb b6 d3 ad"
        << "Command30" << int(Utf16Be) << QByteArray::fromHex("fd00060104bbb6d3ad") << ok;
    QTest::newRow("header, lone trailing digit")
        << "BB B6 D3 A"
        << "Command30" << int(Gbk) << QByteArray::fromHex("fd00050101bbb6d3") << ok;
    const QByteArray largest = QByteArray::fromHex("5a").repeated(0xFFFF - 2);   // length FF FF
    QTest::newRow("header, largest frame")
        << QString::fromLatin1(largest.toHex(' ')) << "Command30" << int(Gbk)
        << QByteArray::fromHex("fdffff0101") + largest << ok;
    QTest::newRow("header, too long for one frame")
        << QString::fromLatin1(QByteArray("00 ").repeated(0xFFFF - 1)) << "Command30" << int(Gbk)
        << QByteArray() << Msg::HexTooLong;
    const QByteArray many = QByteArray::fromHex("5a").repeated(12000);   // 36,000 characters
    QTest::newRow("direct, beyond 32766 characters")
        << QString::fromLatin1(many.toHex(' ')) << "Command29" << int(Gbk) << many << ok;
    QTest::newRow("empty, direct") << ""
                                   << "Command29" << int(Gbk) << QByteArray() << ok;
    QTest::newRow("empty, header") << ""
                                   << "Command30" << int(Gbk) << QByteArray() << ok;
}

void TstForm1Text::hexEditor()
{
    QFETCH(QString, text);
    QFETCH(QString, button);
    QFETCH(int, encoding);
    QFETCH(QByteArray, wire);
    QFETCH(QString, message);

    Form1Fixture f;
    f.pick("Combo5", encoding);
    if (!text.isNull())
        f.find<QPlainTextEdit>("Text5")->setPlainText(text);
    f.click(button.toLatin1().constData());
    QVERIFY(f.boardReceives(wire));
    QCOMPARE(f.messages.shown, message.isEmpty() ? QStringList() : QStringList {message});
    QCOMPARE(sentEntries(f), wire.isEmpty() ? 0 : 1);
    if (!wire.isEmpty())
        QVERIFY(f.log().startsWith(sentEntry(wire.size())));
}

void TstForm1Text::hexEditorShowsTheFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");   // parts of the line under the box
    QTest::newRow("a synthesis frame")
        << "FD 00 04 01 01 41 42" << QStringList {"直接播放：合成 GBK 2 字节：AB"};
    QTest::newRow("a length that disagrees")
        << "FD 00 09 01 01 41 42" << QStringList {"直接播放：", "长度字段为 9，实际为 4"};
    QTest::newRow("text alone: behind the header")
        << "C4 E3 BA C3" << QStringList {"缺少帧头 FD", "添加命令头：合成 GBK 4 字节：你好"};
    QTest::newRow("not hexadecimal") << "FD 0G" << QStringList {"第 5 个字符不是16进制数值"};
}

void TstForm1Text::hexEditorShowsTheFrame()
{
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    Form1Fixture f;
    f.find<QPlainTextEdit>("Text5")->setPlainText(text);
    auto *decode = f.find<QLabel>("Text5Decode");
    for (const QString &part : shown)
        QTRY_VERIFY2(decode->text().contains(part), qPrintable(decode->text()));
    QTest::qWait(20);
    QVERIFY(f.board.received().isEmpty());   // nothing is sent while typing
}

void TstForm1Text::statusBar_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("status");
    QTest::newRow("cut") << QString(2046, u'中') << int(Gbk)
                         << QStringLiteral("已发送 2045 字（4090 字节），其余 1 字未发送");
    QTest::newRow("line break counts as one")
        << QStringLiteral("第一\n第二") << int(Gbk) << QStringLiteral("已发送 5 字（10 字节）");
    QTest::newRow("outside GBK") << QStringLiteral(
        "a😀b") << int(Gbk) << QStringLiteral("已发送 3 字（3 字节）；GBK 中没有、以“?”发送：😀");
    QTest::newRow("no BIG5 form") << QStringLiteral("为钎") << int(Big5)
                                  << QStringLiteral(
                                         "已发送 2 字（4 字节）；BIG5 中没有、以“？”发送：钎");
    QTest::newRow("outside GB2312")
        << QStringLiteral("镕") << int(Gb2312)
        << QStringLiteral("已发送 1 字（2 字节）；不在 GB2312 中、芯片可能读不出：镕");
}

void TstForm1Text::statusBar()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QString, status);
    Form1Fixture f({}, true, false, withTable(kGeneratedTable));
    f.pick("Combo5", encoding);
    text3(f)->setPlainText(text);
    f.click("Command6");
    QCOMPARE(f.find<QLabel>("TextStatus")->text(), status);
    QVERIFY(!f.log().contains(QStringLiteral("已发送")));   // the log keeps its shapes
}

QTEST_MAIN(TstForm1Text)
#include "tst_form1_text.moc"
