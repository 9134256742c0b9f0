#include "Form1.h"
#include "fakehid.h"
#include "messages.h"
#include "operatormessages.h"
#include "ptypeer.h"

#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

// The message boxes of the running window: each belongs to the window and opens once the window
// is on screen, one at a time.
class TstMessages : public QObject
{
    Q_OBJECT
private slots:
    void boxesBelongToTheWindow_data();
    void boxesBelongToTheWindow();
};

namespace {

// Every box of the program, shown or not.
QList<QMessageBox *> boxes()
{
    QList<QMessageBox *> found;
    for (QWidget *widget : QApplication::allWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget))
            found << box;
    }
    return found;
}

QStringList visibleTexts()
{
    QStringList texts;
    for (QMessageBox *box : boxes()) {
        if (box->isVisible())
            texts << box->text();
    }
    return texts;
}

// The one box on screen belongs to the window: a child of it, transient for it, modal to it.
bool ownedBy(QWidget *window, QString *why)
{
    QList<QMessageBox *> shown;
    for (QMessageBox *box : boxes()) {
        if (box->isVisible())
            shown << box;
    }
    if (shown.size() != 1) {
        *why = QStringLiteral("%1 boxes on screen").arg(shown.size());
        return false;
    }
    QMessageBox *box = shown.first();
    if (box->parentWidget() != window)
        *why = QStringLiteral("not the window's child");
    else if (!box->windowHandle()
        || box->windowHandle()->transientParent() != window->windowHandle())
        *why = QStringLiteral("not transient for the window");
    else if (box->windowModality() != Qt::WindowModal)
        *why = QStringLiteral("not modal to the window");
    return why->isEmpty();
}

}   // namespace

void TstMessages::boxesBelongToTheWindow_data()
{
    QTest::addColumn<bool>("com1");   // the start-up opens a port
    QTest::addColumn<bool>("chooseUsb");   // the operator picks USB, with no board there
    QTest::addColumn<QStringList>("expected");   // the boxes, in order
    const QString notice = QStringLiteral("512") + Msg::MaxTextNotice;
    QTest::newRow("start-up without a port") << false << false << QStringList {Msg::PortMissing};
    QTest::newRow("512 notice, then the failed USB search")
        << true << true << QStringList {notice, Msg::UsbMissing};
    QTest::newRow("start-up box, then the USB boxes")
        << false << true << QStringList {Msg::PortMissing, notice, Msg::UsbMissing};
}

void TstMessages::boxesBelongToTheWindow()
{
    QFETCH(bool, com1);
    QFETCH(bool, chooseUsb);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    PtyPeer board;
    FakeHidApi hid;   // no board
    Form1Options options;
    options.workDir = dir.path();
    options.internal = true;
    options.hid = &hid;
    for (int n = 1; n <= 20; ++n)
        options.ports.setOverride(n, dir.filePath(QStringLiteral("no-such-port-%1").arg(n)));
    if (com1)
        options.ports.setOverride(1, board.slavePath());
    options.ports.setPresentDevicesForTest({});

    MessageBoxes messages;
    Form1 window(std::move(options), &messages);
    messages.setWindow(&window);
    QTest::qWait(50);
    QVERIFY(boxes().isEmpty());   // nothing opens before the window is on screen
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (chooseUsb) {
        // behind any box of the start-up, as a click that came before it would
        window.findChild<QRadioButton *>(QStringLiteral("Option4"))->click();
    }
    for (const QString &text : expected) {
        QTRY_COMPARE(visibleTexts(), QStringList {text});
        QString why;
        QVERIFY2(ownedBy(&window, &why), qPrintable(text + QStringLiteral(": ") + why));
        QTest::qWait(20);
        QCOMPARE(visibleTexts(), QStringList {text});   // the next waits for this one
        for (QMessageBox *box : boxes()) {
            if (box->isVisible())
                box->accept();
        }
    }
    QTRY_VERIFY(visibleTexts().isEmpty());
    QVERIFY(messages.open().isEmpty());
}

QTEST_MAIN(TstMessages)
#include "tst_messages.moc"
