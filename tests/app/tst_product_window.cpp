#include "form1fixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>

namespace {

// Opens the hexadecimal box's context menu as a right click does and picks an entry by name.
QAction *contextEntry(QPlainTextEdit *box, const char *name)
{
    emit box->customContextMenuRequested(QPoint(5, 5));
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *menu = qobject_cast<QMenu *>(w);
        if (!menu || !menu->isVisible())
            continue;
        for (QAction *a : menu->actions()) {
            if (a->objectName() == QLatin1String(name))
                return a;
        }
    }
    return nullptr;
}

QByteArray run(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    QProcess p;
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(20000);
    return p.readAllStandardOutput();
}

}   // namespace

class TstProductWindow : public QObject
{
    Q_OBJECT
private slots:
    void hexBoxCopiesSource_data();
    void hexBoxCopiesSource();
    void decodeReadsTheWindowsLog();
};

void TstProductWindow::hexBoxCopiesSource_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");   // hexadecimal; empty: the entries are greyed out
    QTest::newRow("the start-up frame, its line break ignored")
        << QStringLiteral("FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 "
                          "CD B3 B5 C4 D1 DD CA BE A3 A1\n")
        << QByteArray("fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1");
    QTest::newRow("bytes without a header, as typed")
        << QStringLiteral("BB,B6,D3,AD") << QByteArray("bbb6d3ad");
    QTest::newRow("not hexadecimal") << QStringLiteral("FD 0G") << QByteArray();
}

// Both entries put the typed bytes on the clipboard: the Python one evaluates to them, the C one
// holds them as an array; nothing is sent.
void TstProductWindow::hexBoxCopiesSource()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    Form1Fixture f;
    auto *box = f.find<QPlainTextEdit>("Text5");
    box->setPlainText(typed);
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();

    QAction *python = contextEntry(box, "copyAsPythonBytes");
    QVERIFY(python);
    QCOMPARE(python->isEnabled(), !bytes.isEmpty());
    if (bytes.isEmpty())
        return;
    python->trigger();
    const QByteArray script = clipboard->text().toUtf8() + "print(frame.hex())\n";
    QCOMPARE(run(QStringLiteral("python3"), {"-"}, script).trimmed(), bytes);

    QAction *c = contextEntry(box, "copyAsCArray");
    QVERIFY(c);
    c->trigger();
    const QString source = clipboard->text();
    QStringList values;
    for (qsizetype i = 0; i < bytes.size(); i += 2)
        values << QStringLiteral("0x") + QString::fromLatin1(bytes.mid(i, 2)).toUpper();
    QVERIFY2(source.simplified().contains(QStringLiteral("frame[%1] = { %2, };")
                                              .arg(bytes.size() / 2)
                                              .arg(values.join(QStringLiteral(", ")))),
        qPrintable(source));
    QTest::qWait(50);
    QVERIFY(f.board.received().isEmpty());
}

// Two runs of the window append two exports to LOG.txt; orv4120 decode finds every frame of
// both, byte for byte as the board received them, and every answer the log shows.
void TstProductWindow::decodeReadsTheWindowsLog()
{
    QTemporaryDir dir;
    QByteArray sent;
    int answers = 0;
    for (int run = 0; run < 2; ++run) {
        Form1Fixture f(
            QByteArray(), true, false, [&dir](Form1Options &o) { o.workDir = dir.path(); });
        if (run == 1)
            QTest::mouseClick(f.find<QCheckBox>("Check5"), Qt::LeftButton);   // "0x" before bytes
        f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("你好\n世界 */ 0x45"));
        const char *buttons[] = {"Command6", "Command7", "Command29", "Command28"};
        for (const char *button : buttons) {
            const qsizetype before = f.board.received().size();
            f.click(button);
            QTRY_VERIFY(f.board.received().size() > before);
            f.board.answer("A");
            ++answers;
            QTRY_VERIFY(f.log().count(QStringLiteral("接收成功")) == answers - 4 * run);
        }
        sent += f.board.received();
        f.window->close();
    }
    QFile log(dir.filePath(QStringLiteral("LOG.txt")));
    QVERIFY(log.exists());
    QProcess p;
    p.start(QStringLiteral(ORV_CLI), {"decode", "--json", log.fileName()});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QByteArray frames;
    int answered = 0;
    int exports = 0;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        const QString event = e.value(QStringLiteral("event")).toString();
        if (event == u"frame")
            frames += QByteArray::fromHex(e.value(QStringLiteral("bytes")).toString().toLatin1());
        answered += event == u"answer" && e.value(QStringLiteral("code")).toString() == u"41";
        exports += event == u"export";
    }
    QCOMPARE(exports, 2);
    QCOMPARE(frames.toHex(' '), sent.toHex(' '));
    QCOMPARE(answered, answers);
}

QTEST_MAIN(TstProductWindow)
#include "tst_product_window.moc"
