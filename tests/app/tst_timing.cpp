#include "form1fixture.h"

#include "timingview.h"

#include <QDockWidget>
#include <QTableView>
#include <QToolButton>

class TstTiming : public QObject
{
    Q_OBJECT
private slots:
    void rowsKeepSendOrder();
    void rowShowsWhenSent();
    void roundTicks_data();
    void roundTicks();
    void chartWaitsForTheView();
    void viewMadeWhenOpened();
    void clearStartsAfresh();
};

namespace {

TransactionRow rowOf(quint64 id, const QString &answers = {})
{
    TransactionRow row;
    row.id = id;
    row.frame = QStringLiteral("frame %1").arg(id);
    row.answers = answers;
    return row;
}

QMap<quint64, TransactionRow> batch(std::initializer_list<TransactionRow> rows)
{
    QMap<quint64, TransactionRow> map;
    for (const TransactionRow &row : rows)
        map.insert(row.id, row);
    return map;
}

QStringList frames(const TimingRows &rows)
{
    QStringList out;
    for (int r = 0; r < rows.rowCount(); ++r)
        out << rows.index(r, TimingRows::Frame).data().toString();
    return out;
}

}   // namespace

// A row stays where its frame was sent, whatever order frames end in; a later change of it is
// made in place; rows older than every row kept do not come back.
void TstTiming::rowsKeepSendOrder()
{
    TimingRows rows;
    rows.put(batch({rowOf(1), rowOf(2), rowOf(3)}));
    rows.put(batch({rowOf(3, QStringLiteral("41")), rowOf(5)}));   // 3 ends first
    rows.put(batch({rowOf(1, QStringLiteral("41, 4F")), rowOf(4)}));   // 4 comes late
    QCOMPARE(frames(rows),
        QStringList({QStringLiteral("frame 1"), QStringLiteral("frame 2"),
            QStringLiteral("frame 3"), QStringLiteral("frame 4"), QStringLiteral("frame 5")}));
    QCOMPARE(rows.index(0, TimingRows::Answers).data().toString(), QStringLiteral("41, 4F"));
    QCOMPARE(rows.index(2, TimingRows::Answers).data().toString(), QStringLiteral("41"));

    QMap<quint64, TransactionRow> many;
    for (quint64 id = 10; id < 10 + TimingRows::kMaxRows; ++id)
        many.insert(id, rowOf(id));
    rows.put(many);
    QCOMPARE(rows.rowCount(), TimingRows::kMaxRows);
    rows.put(batch({rowOf(2, QStringLiteral("4F"))}));   // trimmed away: stays away
    QCOMPARE(rows.rowCount(), TimingRows::kMaxRows);
    QCOMPARE(rows.index(0, TimingRows::Frame).data().toString(), QStringLiteral("frame 10"));
}

// A frame's row is there once the frame is sent and fills in as its answers come; a frame sent
// later stands below it even when it is answered first.
void TstTiming::rowShowsWhenSent()
{
    Form1Fixture f;
    f.find<QToolButton>("TimingToggle")->click();
    auto *dock = f.find<QDockWidget>("TimingDock");
    QVERIFY(dock->isVisible());
    QVERIFY(!dock->isFloating());
    auto *table = f.find<QTableView>("TimingTable");
    const auto cell = [table](int row, int column) {
        return table->model()->index(row, column).data().toString();
    };
    f.find<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("你好"));
    f.click("Command6");   // 合成
    QTRY_COMPARE(table->model()->rowCount(), 1);
    QVERIFY(cell(0, TimingRows::Frame).startsWith(QStringLiteral("合成")));
    QVERIFY(cell(0, TimingRows::Answers).isEmpty());
    f.board.answer("A");   // taken; it speaks until 0x4F
    QTRY_VERIFY(cell(0, TimingRows::Answers).startsWith(QStringLiteral("41")));
    f.click("Command7");   // 停止
    QTRY_COMPARE(table->model()->rowCount(), 2);
    f.board.answer("AO");   // the stop is taken, the speech ends
    QTRY_VERIFY(cell(1, TimingRows::Answers).startsWith(QStringLiteral("41")));
    QTRY_VERIFY(!cell(0, TimingRows::Speech).isEmpty());
    QVERIFY(cell(0, TimingRows::Frame).startsWith(QStringLiteral("合成")));
    QVERIFY(cell(1, TimingRows::Frame).startsWith(QStringLiteral("停止")));
}

void TstTiming::roundTicks_data()
{
    QTest::addColumn<double>("span");
    QTest::addColumn<double>("step");
    QTest::newRow("ten seconds") << 10.0 << 2.0;
    QTest::newRow("thirteen seconds") << 13.0 << 2.5;
    QTest::newRow("twenty-five seconds") << 25.0 << 5.0;
    QTest::newRow("a minute") << 60.0 << 10.0;
    QTest::newRow("half a second") << 0.5 << 0.1;
    QTest::newRow("an hour") << 3600.0 << 1000.0;
    QTest::newRow("nothing") << 0.0 << 1.0;
}

// Ticks fall on 1, 2, 2.5 or 5 times a power of ten, at most about six to a span.
void TstTiming::roundTicks()
{
    QFETCH(double, span);
    QFETCH(double, step);
    QCOMPARE(roundTickStep(span, 6), step);
}

// The chart is made when the view is first shown, with the points of the frames before it.
void TstTiming::chartWaitsForTheView()
{
    TimingView view;
    QVERIFY(!view.findChild<QWidget *>(QStringLiteral("TimingChart")));
    TransactionRow row = rowOf(1, QStringLiteral("41"));
    row.latencyUs = 4000;
    view.addRow(row);
    QTRY_COMPARE(view.rows().rowCount(), 1);
    QVERIFY(!view.findChild<QWidget *>(QStringLiteral("TimingChart")));
    view.show();
    QVERIFY(view.findChild<QWidget *>(QStringLiteral("TimingChart")));
}

// The window makes its timing view only when it is first opened; the frames before are in it.
void TstTiming::viewMadeWhenOpened()
{
    Form1Fixture f;
    QVERIFY(!f.window->findChild<TimingView *>());
    f.click("Command7");   // 停止
    f.board.answer("A");
    QTRY_VERIFY(f.log().contains(QStringLiteral("41  接收成功")));
    QTest::qWait(50);   // the model ends the frame
    f.find<QToolButton>("TimingToggle")->click();
    auto *table = f.find<QTableView>("TimingTable");
    QTRY_COMPARE(table->model()->rowCount(), 1);
    QVERIFY(table->model()
                ->index(0, TimingRows::Frame)
                .data()
                .toString()
                .startsWith(QStringLiteral("停止")));
}

// 清空 empties the view and the counts; the frames sent after it show as before.
void TstTiming::clearStartsAfresh()
{
    Form1Fixture f;
    f.find<QToolButton>("TimingToggle")->click();
    auto *table = f.find<QTableView>("TimingTable");
    f.click("Command8");   // 暂停
    QTRY_COMPARE(table->model()->rowCount(), 1);
    f.click("TimingClear");
    QCOMPARE(table->model()->rowCount(), 0);
    f.click("Command9");   // 恢复
    QTRY_COMPARE(table->model()->rowCount(), 1);
    QVERIFY(table->model()
                ->index(0, TimingRows::Frame)
                .data()
                .toString()
                .startsWith(QStringLiteral("恢复")));
}

QTEST_MAIN(TstTiming)
#include "tst_timing.moc"
