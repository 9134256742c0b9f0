#include "form1fixture.h"

#include "commandline.h"
#include "language.h"
#include "messages.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QChart>
#include <QChartView>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QValueAxis>

namespace {

bool hasCjk(const QString &text)
{
    static const QRegularExpression cjk(
        QStringLiteral("[\\x{3000}-\\x{303F}\\x{3400}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    return text.contains(cjk);
}

// Every text of the window an operator can see or hear from a screen reader, named by where it
// is; the send box and the work log hold the operator's own text and the log's lines.
QStringList windowTexts(QWidget *window)
{
    QStringList texts;
    const auto add = [&texts](const QString &where, const QString &text) {
        if (!text.isEmpty())
            texts << where + QStringLiteral(": ") + text;
    };
    add(QStringLiteral("title"), window->windowTitle());
    const QStringList own = {QStringLiteral("Text3"), QStringLiteral("Text4")};
    for (QWidget *w : window->findChildren<QWidget *>()) {
        bool inOwn = false;
        for (QWidget *p = w; p && !inOwn; p = p->parentWidget())
            inOwn = own.contains(p->objectName());
        if (inOwn)
            continue;
        const QString name = w->objectName().isEmpty()
            ? QString::fromLatin1(w->metaObject()->className())
            : w->objectName();
        add(name + QStringLiteral(" tooltip"), w->toolTip());
        add(name + QStringLiteral(" accessible name"), w->accessibleName());
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            add(name, b->text());
        if (auto *l = qobject_cast<QLabel *>(w))
            add(name, l->text());
        if (auto *g = qobject_cast<QGroupBox *>(w))
            add(name, g->title());
        if (auto *d = qobject_cast<QDockWidget *>(w))
            add(name, d->windowTitle());
        if (auto *e = qobject_cast<QLineEdit *>(w)) {
            add(name, e->text());
            add(name + QStringLiteral(" placeholder"), e->placeholderText());
        }
        if (auto *e = qobject_cast<QPlainTextEdit *>(w)) {
            add(name, e->toPlainText());
            add(name + QStringLiteral(" placeholder"), e->placeholderText());
        }
        if (auto *c = qobject_cast<QComboBox *>(w)) {
            for (int i = 0; i < c->count(); ++i) {
                add(name + QStringLiteral(" item"), c->itemText(i));
                add(name + QStringLiteral(" item tooltip"),
                    c->itemData(i, Qt::ToolTipRole).toString());
            }
        }
        if (auto *s = qobject_cast<QStatusBar *>(w))
            add(name, s->currentMessage());
        if (auto *t = qobject_cast<QTableView *>(w)) {
            const QAbstractItemModel *m = t->model();
            for (int c = 0; c < m->columnCount(); ++c) {
                add(name + QStringLiteral(" header"), m->headerData(c, Qt::Horizontal).toString());
                for (int r = 0; r < m->rowCount(); ++r)
                    add(name + QStringLiteral(" cell"), m->index(r, c).data().toString());
            }
        }
        if (auto *v = qobject_cast<QChartView *>(w)) {
            for (QAbstractSeries *series : v->chart()->series())
                add(name + QStringLiteral(" series"), series->name());
            for (QAbstractAxis *axis : v->chart()->axes())
                add(name + QStringLiteral(" axis"), axis->titleText());
        }
    }
    return texts;
}

// The window after a frame or two: the timing view open with a row, the status bar and the hex
// editor's decode line filled in.
void exercise(Form1Fixture &f)
{
    f.find<QToolButton>("TimingToggle")->click();
    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("你好"));
    f.click("Command6");
    f.click("Command7");
    QVERIFY(f.boardReceives(QByteArray::fromHex("fd00060101c4e3bac3fd000102")));
    f.board.answer("AAO");   // both taken, the speech stopped: both rows are finished
    QTRY_COMPARE(f.find<QTableView>("TimingTable")->model()->rowCount(), 2);
    QTRY_VERIFY(
        !f.find<QTableView>("TimingTable")->model()->index(1, 3).data().toString().isEmpty());
    QTRY_VERIFY(!f.find<QLabel>("Text5Decode")->text().isEmpty());
    QTRY_VERIFY(!f.find<QLabel>("TimingSummary")->text().isEmpty());
    QTRY_VERIFY(!f.find<QLabel>("TextStatus")->text().isEmpty());
    // A frame that is no hexadecimal: a message box, and the decode line says where.
    const QString decoded = f.find<QLabel>("Text5Decode")->text();
    f.find<QPlainTextEdit>("Text5")->setPlainText(QStringLiteral("FD 00 zz"));
    f.click("Command29");
    QCOMPARE(f.messages.shown.size(), 1);
    QTRY_VERIFY(f.find<QLabel>("Text5Decode")->text() != decoded);
}

// The log with its clock readings masked, to compare two runs.
QString withoutTimes(QString log)
{
    static const QRegularExpression digits(QStringLiteral("\\d"));
    return log.replace(digits, QStringLiteral("0"));
}

class Environment
{
public:
    Environment(const QByteArray &lcAll, const QByteArray &lcMessages, const QByteArray &lang)
    {
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", lcMessages);
        set("LANG", lang);
    }
    ~Environment()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            it->isNull() ? qunsetenv(it.key()) : qputenv(it.key(), *it);
    }

private:
    void set(const char *name, const QByteArray &value)
    {
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    QMap<const char *, QByteArray> m_saved;
};

}   // namespace

class TstLanguage : public QObject
{
    Q_OBJECT
private slots:
    void fromLocale_data();
    void fromLocale();
    void fromOption_data();
    void fromOption();
    void englishWindow();
    void chineseWindow_data();
    void chineseWindow();
    void cleanup() { installLanguage(qApp, Language::Chinese); }
};

void TstLanguage::fromLocale_data()
{
    QTest::addColumn<QByteArray>("lcAll");
    QTest::addColumn<QByteArray>("lcMessages");
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<bool>("english");
    const QByteArray unset;
    QTest::newRow("en_US.UTF-8") << unset << unset << QByteArray("en_US.UTF-8") << true;
    QTest::newRow("bare en") << unset << unset << QByteArray("en") << true;
    QTest::newRow("en_GB@euro") << unset << unset << QByteArray("en_GB@euro") << true;
    QTest::newRow("C") << unset << unset << QByteArray("C") << false;
    QTest::newRow("POSIX") << unset << unset << QByteArray("POSIX") << false;
    QTest::newRow("C.UTF-8") << unset << unset << QByteArray("C.UTF-8") << false;
    QTest::newRow("zh_CN.UTF-8") << unset << unset << QByteArray("zh_CN.UTF-8") << false;
    QTest::newRow("zh_TW.Big5") << unset << unset << QByteArray("zh_TW.Big5") << false;
    QTest::newRow("de_DE.UTF-8") << unset << unset << QByteArray("de_DE.UTF-8") << false;
    QTest::newRow("Esperanto is not English") << unset << unset << QByteArray("eo") << false;
    QTest::newRow("nothing set") << unset << unset << unset << false;
    QTest::newRow("LC_ALL wins over LANG")
        << QByteArray("C") << unset << QByteArray("en_US.UTF-8") << false;
    QTest::newRow("LC_ALL English") << QByteArray("en_US.UTF-8") << QByteArray("zh_CN.UTF-8")
                                    << QByteArray("zh_CN.UTF-8") << true;
    QTest::newRow("LC_MESSAGES wins over LANG")
        << unset << QByteArray("en_GB.UTF-8") << QByteArray("zh_CN.UTF-8") << true;
    QTest::newRow("empty LC_ALL counts as unset")
        << QByteArray("") << unset << QByteArray("en_US.UTF-8") << true;
}

void TstLanguage::fromLocale()
{
    QFETCH(QByteArray, lcAll);
    QFETCH(QByteArray, lcMessages);
    QFETCH(QByteArray, lang);
    QFETCH(bool, english);
    const Environment environment(lcAll, lcMessages, lang);
    QCOMPARE(languageFromEnvironment() == Language::English, english);
}

void TstLanguage::fromOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("given");
    QTest::addColumn<bool>("english");
    QTest::newRow("none") << QStringList {} << 0 << false << false;
    QTest::newRow("en") << QStringList {"--lang", "en"} << 0 << true << true;
    QTest::newRow("zh") << QStringList {"--lang=zh"} << 0 << true << false;
    QTest::newRow("fr") << QStringList {"--lang", "fr"} << 2 << false << false;
    QTest::newRow("en_US is a locale, not a language")
        << QStringList {"--lang", "en_US"} << 2 << false << false;
}

void TstLanguage::fromOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, given);
    QFETCH(bool, english);
    const CommandLine line = parseCommandLine(QStringList {"orv4120-demo"} + arguments);
    QCOMPARE(line.exitCode, exitCode);
    QCOMPARE(line.exitNow, exitCode != 0);
    QCOMPARE(line.languageGiven, given);
    QCOMPARE(line.language == Language::English, english);
}

void TstLanguage::englishWindow()
{
    const Environment environment({}, {}, "en_US.UTF-8");
    QVERIFY(installLanguage(qApp, languageFromEnvironment()));
    Form1Fixture f({}, true, true);
    exercise(f);
    // The texts the frames carry (the send box's, and the hex editor's starting frame) are data.
    const QStringList sentTexts = {
        QStringLiteral("你好"), QStringLiteral("欢迎观看语音合成系统的演示！")};
    QStringList chinese;
    for (QString text : windowTexts(f.window.get())) {
        for (const QString &sent : sentTexts)
            text.remove(sent);
        if (hasCjk(text))
            chinese << text;
    }
    QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(u'\n')));
    // The frame decoder names commands in English, but the text sent stays as it is.
    const QAbstractItemModel *rows = f.find<QTableView>("TimingTable")->model();
    QCOMPARE(rows->index(0, 1).data().toString(), QStringLiteral("Serial"));
    QCOMPARE(rows->index(0, 2).data().toString(), QStringLiteral("Synthesize GBK 4 bytes: 你好"));
    QCOMPARE(rows->index(1, 2).data().toString(), QStringLiteral("Stop"));
    QVERIFY2(rows->index(0, 3).data().toString().startsWith(QStringLiteral("41 received +")),
        qPrintable(rows->index(0, 3).data().toString()));
    QCOMPARE(f.find<QPushButton>("Command6")->text(), QStringLiteral("Synthesize"));
    QCOMPARE(
        f.messages.shown, QStringList {QStringLiteral("Format mismatch: not hexadecimal values")});

    // A saved report keeps the Chinese words the scripts that read it know.
    QTest::mouseClick(f.find<QPushButton>("TimingSave"), Qt::LeftButton);
    const QString report = f.find<QLabel>("TimingReport")->text();
    QVERIFY2(report.startsWith(QStringLiteral("Test report: ")), qPrintable(report));
    QFile csv(report.section(u'\n', 0, 0).mid(13));
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(csv.fileName()));
    const QString saved = QString::fromUtf8(csv.readAll());
    QVERIFY2(saved.contains(QStringLiteral(",串口,合成 GBK 4 字节：你好,")), qPrintable(saved));

    // The work log reads as in Chinese, line for line.
    const QString englishLog = f.log();
    installLanguage(qApp, Language::Chinese);
    Form1Fixture zh({}, true, true);
    exercise(zh);
    QCOMPARE(withoutTimes(englishLog), withoutTimes(zh.log()));
}

void TstLanguage::chineseWindow_data()
{
    QTest::addColumn<QByteArray>("lang");
    QTest::newRow("C") << QByteArray("C");
    QTest::newRow("zh_CN.UTF-8") << QByteArray("zh_CN.UTF-8");
}

void TstLanguage::chineseWindow()
{
    QFETCH(QByteArray, lang);
    const Environment environment({}, {}, lang);
    QVERIFY(installLanguage(qApp, Language::English));
    QVERIFY(installLanguage(qApp, languageFromEnvironment()));   // and back
    Form1Fixture f({}, true, true);
    exercise(f);
    QVERIFY(f.window->windowTitle().startsWith(
        QStringLiteral("Korvel-ORV4120语音合成芯片-PC端演示程序 V")));
    QCOMPARE(f.find<QPushButton>("Command6")->text(), QStringLiteral("合成"));
    QCOMPARE(f.find<QPlainTextEdit>("Text3")->placeholderText(),
        QStringLiteral("在这里输入要合成的文字，或按“载入--演示文本”，然后按“合成”"));
    const QAbstractItemModel *rows = f.find<QTableView>("TimingTable")->model();
    QCOMPARE(rows->headerData(0, Qt::Horizontal).toString(), QStringLiteral("时间"));
    QCOMPARE(rows->index(0, 1).data().toString(), QStringLiteral("串口"));
    QCOMPARE(rows->index(0, 2).data().toString(), QStringLiteral("合成 GBK 4 字节：你好"));
    QCOMPARE(f.find<QToolButton>("TimingToggle")->text(), QStringLiteral("时序"));
    QCOMPARE(f.messages.shown, QStringList {Msg::HexMismatch});
}

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
