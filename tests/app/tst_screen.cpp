#include "form1fixture.h"
#include "language.h"

#include <QGroupBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

// The window on a laptop screen of 1366 x 768 (run under Xvfb with that screen).
class TstScreen : public QObject
{
    Q_OBJECT
private slots:
    void firstSizeFitsALaptop_data();
    void firstSizeFitsALaptop();
};

void TstScreen::firstSizeFitsALaptop_data()
{
    QTest::addColumn<bool>("english");
    QTest::newRow("Chinese") << false;
    QTest::newRow("English") << true;
}

// Its first size leaves room for a title bar and a desktop panel, and the work log is the
// tallest box of its column.
void TstScreen::firstSizeFitsALaptop()
{
    if (QGuiApplication::primaryScreen()->size() != QSize(1366, 768))
        QSKIP("needs a 1366 x 768 screen");
    QFETCH(bool, english);
    QVERIFY(installLanguage(qApp, english ? Language::English : Language::Chinese));
    Form1Fixture f({}, true, true);
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    // Every caption fits: the controls need no horizontal scrolling.
    QVERIFY(
        !static_cast<QScrollArea *>(f.window->centralWidget())->horizontalScrollBar()->isVisible());
    QVERIFY2(f.window->width() <= 1366, qPrintable(QString::number(f.window->width())));
    QVERIFY2(f.window->height() <= 700, qPrintable(QString::number(f.window->height())));
    const int log = f.find<QGroupBox>("Frame10")->height();
    QVERIFY2(log > f.find<QGroupBox>("Frame6")->height(), qPrintable(QString::number(log)));
    QVERIFY2(log > f.find<QGroupBox>("Frame16")->height(), qPrintable(QString::number(log)));
}

QTEST_MAIN(TstScreen)
#include "tst_screen.moc"
