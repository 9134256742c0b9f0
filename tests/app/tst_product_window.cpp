#include "form1fixture.h"

#include <QClipboard>
#include <QGuiApplication>
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
};

void TstProductWindow::hexBoxCopiesSource_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");   // hexadecimal; empty: the entries are greyed out
    QTest::newRow("the start-up frame, its line break ignored")
        << QStringLiteral("FD 00 1E 01 01 BB B6 D3 AD B9 DB BF B4 D3 EF D2 F4 BA CF B3 C9 CF B5 "
                          "CD B3 B5 C4 D1 DD CA BE A3 A1\n")
        << QByteArray("fd001e0101bbb6d3adb9dbbfb4d3efd2f4bacfb3c9cfb5cdb3b5c4d1ddcabea3a1");
    QTest::newRow("bytes without a header, as typed") << QStringLiteral("BB,B6,D3,AD")
                                                      << QByteArray("bbb6d3ad");
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

QTEST_MAIN(TstProductWindow)
#include "tst_product_window.moc"
