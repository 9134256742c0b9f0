#include "framedecodecheck.h"
#include "hexparsecheck.h"

#include <QDir>
#include <QtTest>

// Reads every file of a seed corpus as a test row.
void corpusRows(const char *folder)
{
    QTest::addColumn<QByteArray>("input");
    const QDir dir(QString::fromUtf8(folder));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(name)) << file.readAll();
    }
}

// Replays the fuzz seed corpora through the same checks as the fuzz targets, in every build.
class TstFuzz : public QObject
{
    Q_OBJECT
private slots:
    void corpus_data();
    void corpus();
    void longTexts();
    void frames_data();
    void frames();
};

void TstFuzz::corpus_data()
{
    corpusRows(ORV_FUZZ_CORPUS);
}

void TstFuzz::corpus()
{
    QFETCH(QByteArray, input);
    QCOMPARE(checkHexParse(QString::fromUtf8(input)), QString());
    QCOMPARE(checkHexParse(QString::fromLatin1(input)), QString());
}

void TstFuzz::longTexts()
{
    // Beyond what the fuzzer's inputs reach: across the header frame's length limit.
    const QString group = QStringLiteral("A5 ");
    for (const qsizetype groups : {qsizetype(0x7FFF), qsizetype(0xFFFD), qsizetype(0xFFFE)}) {
        QCOMPARE(checkHexParse(group.repeated(groups)), QString());
        QCOMPARE(checkHexParse(group.repeated(groups) + QStringLiteral("\r\n")), QString());
    }
}

void TstFuzz::frames_data()
{
    corpusRows(ORV_FRAME_CORPUS);
}

void TstFuzz::frames()
{
    QFETCH(QByteArray, input);
    QCOMPARE(checkFrameDecode(input), QString());
}

QTEST_GUILESS_MAIN(TstFuzz)
#include "tst_fuzz.moc"
