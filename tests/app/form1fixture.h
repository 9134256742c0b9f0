#pragma once

#include "Form1.h"
#include "hidlink.h"
#include "mscomm.h"
#include "operatormessages.h"
#include "ptypeer.h"

#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

// A window in a temporary working directory, with COM1 mapped to a pseudo-terminal whose far
// end stands in for the chip board, and messages recorded instead of shown.
struct Form1Fixture
{
    explicit Form1Fixture(const QByteArray &startText = {}, bool mapCom1 = true,
        bool internal = false, const std::function<void(Form1Options &)> &customize = {})
    {
        if (!startText.isNull()) {
            QFile file(dir.filePath(QStringLiteral("初始默认文本.txt")));
            file.open(QIODevice::WriteOnly);
            file.write(startText);
        }
        Form1Options options;
        options.workDir = dir.path();
        options.internal = internal;
        // Every COMn points somewhere known, so the machine's own ports never take part.
        for (int n = 1; n <= 20; ++n)
            options.ports.setOverride(n, dir.filePath(QStringLiteral("no-such-port-%1").arg(n)));
        if (mapCom1)
            options.ports.setOverride(1, board.slavePath());
        options.ports.setPresentDevicesForTest({});
        if (customize)
            customize(options);
        window = std::make_unique<Form1>(std::move(options), &messages);
        window->show();
    }

    template <typename T> T *find(const char *name) const
    {
        T *child = window->findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    void click(const char *name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void pick(const char *combo, int index)
    {
        auto *box = find<QComboBox>(combo);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    QString log() const { return window->workLogText(); }
    QByteArray logFile() const
    {
        QFile file(dir.filePath(QStringLiteral("LOG.txt")));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    // The board receives exactly these bytes, in this order.
    bool boardReceives(const QByteArray &bytes, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (board.received().size() < bytes.size() && clock.elapsed() < timeoutMs)
            QTest::qWait(5);
        QTest::qWait(20);   // nothing more follows
        return board.received() == bytes;
    }

    QTemporaryDir dir;
    PtyPeer board;
    RecordedMessages messages;
    std::unique_ptr<Form1> window;
};
