#include "audioout.h"
#include "boardoptions.h"
#include "chipmodel.h"
#include "chiptext.h"
#include "frame.h"
#include "usbboard.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"
#include "wavfile.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Speech of a fixed length per character, so tests choose how long the chip plays.
class TimedRenderer : public SpeechRenderer
{
public:
    explicit TimedRenderer(int msPerCharacter)
        : m_ms(msPerCharacter)
    { }
    Pcm speak(const QString &words, const VoiceSettings &) override
    {
        return Pcm(qsizetype(words.size()) * m_ms * kSampleRate / 1000, 1000);
    }

private:
    int m_ms;
};

BoardOptions quietBoard(int msPerCharacter)
{
    BoardOptions options;
    options.playback = false;
    options.powerUpDelayMs = 0;
    options.acceptDelayMs = 0;
    options.renderer = [msPerCharacter] { return std::make_unique<TimedRenderer>(msPerCharacter); };
    return options;
}

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("windows-936");
    return encoder.encode(text);
}

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// The host's cutting of a frame into 33-byte output reports.
QList<QByteArray> reportsOf(const QByteArray &frame)
{
    QList<QByteArray> reports;
    if (frame.size() <= 3) {
        reports << (QByteArray(1, 0) + frame).leftJustified(33, 0);
        return reports;
    }
    qsizetype at = 0;
    for (; frame.size() - at >= 31; at += 31)
        reports << QByteArray(1, 0) + char(0xfc) + frame.mid(at, 31);
    reports << (QByteArray(1, 0) + char(0xbc) + char(frame.size() - at) + frame.mid(at))
                   .leftJustified(33, 0);
    return reports;
}

// Collects the chip's answers in arrival order.
struct AnswerLog
{
    explicit AnswerLog(ChipModel *chip)
    {
        QObject::connect(chip, &ChipModel::answered, [this](const QByteArray &b) { bytes += b; });
    }
    QByteArray bytes;
};

}   // namespace

class TstBoard : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void speechEndsWithIdle();
    void pauseHoldsTheIdleAnswer();
    void cutOffFrameIsRefused();
    void decoding_data();
    void decoding();
    void tags_data();
    void tags();
    void settingsCarryOverFrames();
    void framesWaitTheAcceptDelay();
    void speechScale_data();
    void speechScale();
    void longSpeechComesInSmallStretches_data();
    void longSpeechComesInSmallStretches();
    void timingOptions_data();
    void timingOptions();
    void serialBoardOverPty();
    void wavHoldsSpeech();
    void wavStopsAtItsLimit();
    void usbReports_data();
    void usbReports();
    void hidReadWaits_data();
    void hidReadWaits();
};

void TstBoard::answers_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QByteArray>("answers");
    const QByteArray speak = synthesisFrame(1, "ab");   // plays 20 s here
    const QByteArray status = hex("fd000121");
    const QByteArray longest = synthesisFrame(1, QByteArray(4091, 'a'));
    QByteArray tooLong = longest + "a";
    tooLong[1] = 0x0f;
    tooLong[2] = char(0xfe);

    QTest::newRow("status when idle") << QList {status} << hex("414f");
    QTest::newRow("status when playing") << QList {speak, status} << hex("41414e");
    QTest::newRow("pause, status, resume")
        << QList {speak, hex("fd000103"), status, hex("fd000104"), status} << hex("4141414e41414e");
    QTest::newRow("stop while playing is idle")
        << QList {speak, hex("fd000102"), status} << hex("4141 4f 414f");
    QTest::newRow("stop when idle") << QList {hex("fd000102")} << hex("41");
    QTest::newRow("resume when not paused") << QList {hex("fd000104"), status} << hex("41414f");
    QTest::newRow("standby refuses synthesis")
        << QList {hex("fd000122"), speak, status} << hex("41 45 414f");
    QTest::newRow("standby ends speech")
        << QList {speak, hex("fd000122"), status} << hex("41 41 414f");
    QTest::newRow("wake-up after standby")
        << QList {hex("fd000122"), hex("fd0001ff"), speak} << hex("41 41 41");
    QTest::newRow("garbage then frame") << QList {hex("010203"), status} << hex("45 414f");
    QTest::newRow("frame split across reads")
        << QList {hex("fd00"), hex("01"), hex("21")} << hex("414f");
    QTest::newRow("two frames in one read") << QList {status + hex("fd000102")} << hex("414f41");
    QTest::newRow("length zero") << QList {hex("fd0000"), status} << hex("45 414f");
    QTest::newRow("length over 4093") << QList {tooLong, status} << hex("45 414f");
    QTest::newRow("longest frame") << QList {longest, status} << hex("41 414e");
    QTest::newRow("header inside a bad length") << QList {hex("fdfd000121")} << hex("45 414f");
    QTest::newRow("0xFD inside text")
        << QList {synthesisFrame(1, hex("fdfd")), status} << hex("41 414e");
    QTest::newRow("unknown command") << QList {hex("fd000199")} << hex("45");
    QTest::newRow("stop with a parameter") << QList {hex("fd00020200")} << hex("45");
    QTest::newRow("unknown encoding") << QList {synthesisFrame(5, "ab")} << hex("45");
    QTest::newRow("cache segment 16")
        << QList {parameterFrame(Command::CacheStore, 16, "ab")} << hex("45");
    QTest::newRow("cache text past the last segment")
        << QList {parameterFrame(Command::CacheStore, 15, QByteArray(257, 'a'))} << hex("45");
    QTest::newRow("cache text fills the last segment")
        << QList {parameterFrame(Command::CacheStore, 15, QByteArray(256, 'a'))} << hex("41");
    QTest::newRow("cache play of an empty cache") << QList {hex("fd00023211")} << hex("45");
    QTest::newRow("cache store and play") << QList {parameterFrame(Command::CacheStore, 0, "ab"),
        hex("fd00023231"), status} << hex("41 41 414e");
    QTest::newRow("cache play zero times")
        << QList {parameterFrame(Command::CacheStore, 0, "ab"), hex("fd00023201")} << hex("41 45");
    QTest::newRow("version") << QList {hex("fd000158")}
                             << hex("41") + 'S' + ChipModel::versionText();
}

void TstBoard::answers()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QByteArray, answers);
    QString warning;
    QObject owner;
    ChipModel *chip = createChip(quietBoard(10000), &owner, &warning);
    AnswerLog log(chip);
    for (const QByteArray &read : reads)
        chip->receiveBytes(read);
    QTRY_COMPARE(log.bytes.size(), answers.size());
    QTest::qWait(60);   // nothing more follows (the version text comes 20 ms late)
    QCOMPARE(log.bytes.toHex(' '), answers.toHex(' '));
}

void TstBoard::speechEndsWithIdle()
{
    QObject owner;
    ChipModel *chip = createChip(quietBoard(20), &owner, nullptr);
    AnswerLog log(chip);
    chip->receiveBytes(synthesisFrame(1, gbk(QStringLiteral("欢迎光临"))));
    QCOMPARE(log.bytes, hex("41"));
    QCOMPARE(chip->state(), ChipModel::State::Playing);
    QTRY_COMPARE(log.bytes, hex("414f"));
    QCOMPARE(chip->state(), ChipModel::State::Idle);
}

void TstBoard::pauseHoldsTheIdleAnswer()
{
    QObject owner;
    ChipModel *chip = createChip(quietBoard(50), &owner, nullptr);
    AnswerLog log(chip);
    chip->receiveBytes(synthesisFrame(1, "ab") + hex("fd000103"));
    QTest::qWait(300);   // three times the speech: still paused, no idle answer
    QCOMPARE(log.bytes, hex("4141"));
    QCOMPARE(chip->state(), ChipModel::State::Paused);
    chip->receiveBytes(hex("fd000104"));
    QTRY_COMPARE(log.bytes, hex("4141414f"));
}

void TstBoard::cutOffFrameIsRefused()
{
    QObject owner;
    BoardOptions options = quietBoard(10);
    options.frameTimeoutMs = 30;
    ChipModel *chip = createChip(options, &owner, nullptr);
    AnswerLog log(chip);
    chip->receiveBytes(hex("fd000501"));
    QTRY_COMPARE(log.bytes, hex("45"));
    chip->receiveBytes(hex("fd000121"));   // the cut-off bytes are gone, not prepended
    QCOMPARE(log.bytes, hex("45414f"));
}

void TstBoard::decoding_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("GB2312") << 0 << hex("c4e3bac3") << QStringLiteral("你好");
    QTest::newRow("GBK") << 1 << hex("c4e3bac3") << QStringLiteral("你好");
    QTest::newRow("BIG5") << 2 << hex("a741a66e") << QStringLiteral("你好");
    QTest::newRow("UTF-16LE") << 3 << hex("604f7d59") << QStringLiteral("你好");
    QTest::newRow("UTF-16BE") << 4 << hex("4f60597d") << QStringLiteral("你好");
    QTest::newRow("UTF-16 odd byte dropped") << 4 << hex("4f60597d00") << QStringLiteral("你好");
}

void TstBoard::decoding()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeChipText(quint8(encoding), bytes), std::optional<QString>(text));
}

void TstBoard::tags_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pieces");   // "say:words", "tone:name", "pause:ms"
    QTest::addColumn<int>("volume");
    QTest::addColumn<int>("voice");

    QTest::newRow("volume tag removed") << "[v3]你好" << QStringList {"say:你好"} << 3 << 3;
    QTest::newRow("settings split speech")
        << "甲[s8]乙" << QStringList {"say:甲", "say:乙"} << 5 << 3;
    QTest::newRow("volume out of range ignored")
        << "[v11]你好" << QStringList {"say:你好"} << 5 << 3;
    QTest::newRow("voice") << "[m52]你好" << QStringList {"say:你好"} << 5 << 52;
    QTest::newRow("no such voice") << "[m4]你好" << QStringList {"say:你好"} << 5 << 3;
    QTest::newRow("defaults") << "[v1][m51]甲[d]乙" << QStringList {"say:甲", "say:乙"} << 5 << 3;
    QTest::newRow("accepted tags")
        << "[f0][i1][n2][r1][y1][b1]甲[=jia3]" << QStringList {"say:甲"} << 5 << 3;
    QTest::newRow("pause") << "甲[p500]乙" << QStringList {"say:甲", "pause:500", "say:乙"} << 5
                           << 3;
    QTest::newRow("huge pause cut") << "[p99999999]" << QStringList {"pause:30000"} << 5 << 3;
    QTest::newRow("prompt sounds")
        << "soundb  msgn。sound124"
        << QStringList {"tone:soundb", "tone:msgn", "say:。", "tone:sound124"} << 5 << 3;
    QTest::newRow("no sounds, no msgo, no sound125")
        << "sounds msgo sound125" << QStringList {"say:sounds msgo sound125"} << 5 << 3;
    QTest::newRow("name inside a word")
        << "xmsga soundab" << QStringList {"say:xmsga soundab"} << 5 << 3;
    QTest::newRow("prompt sounds off")
        << "[x0]sounda[x1]msga" << QStringList {"say:sounda", "tone:msga"} << 5 << 3;
    QTest::newRow("prosody marks") << "[z1]甲#乙" << QStringList {"say:甲 乙"} << 5 << 3;
    QTest::newRow("unknown tag kept") << "[q1]甲" << QStringList {"say:[q1]甲"} << 5 << 3;
}

void TstBoard::tags()
{
    QFETCH(QString, text);
    QFETCH(QStringList, pieces);
    QFETCH(int, volume);
    QFETCH(int, voice);
    VoiceSettings settings;
    QStringList got;
    for (const SpeechPiece &piece : parseChipText(text, &settings)) {
        switch (piece.kind) {
        case SpeechPiece::Kind::Speech:
            got << "say:" + piece.text;
            break;
        case SpeechPiece::Kind::PromptSound:
            got << "tone:" + piece.text;
            break;
        case SpeechPiece::Kind::Silence:
            got << "pause:" + QString::number(piece.silenceMs);
            break;
        }
    }
    QCOMPARE(got, pieces);
    QCOMPARE(settings.volume, volume);
    QCOMPARE(settings.voice, voice);
}

void TstBoard::settingsCarryOverFrames()
{
    // A tag frame alone changes what the next frame sounds like.
    QList<int> rates;
    class RateRecorder : public SpeechRenderer
    {
    public:
        explicit RateRecorder(QList<int> *rates)
            : m_rates(rates)
        { }
        Pcm speak(const QString &, const VoiceSettings &s) override
        {
            *m_rates << s.rate;
            return Pcm(10, 1);
        }
        QList<int> *m_rates;
    };
    ChipModel chip(std::make_unique<RateRecorder>(&rates));
    chip.setAcceptDelay(0);
    chip.receiveBytes(synthesisFrame(1, "[s9]") + synthesisFrame(1, "ab"));
    chip.receiveBytes(synthesisFrame(1, "[d]") + synthesisFrame(1, "ab"));
    QCOMPARE(rates, (QList<int> {9, 5}));
}

void TstBoard::framesWaitTheAcceptDelay()
{
    QObject owner;
    BoardOptions options = quietBoard(10000);
    options.acceptDelayMs = 5;
    ChipModel *chip = createChip(options, &owner, nullptr);
    AnswerLog log(chip);
    chip->receiveBytes(hex("fd000121 01 fd000102"));   // status, garbage, stop
    QCOMPARE(log.bytes, QByteArray());   // nothing before the delay is over
    QTRY_COMPARE(log.bytes, hex("414f 45 41"));
}

void TstBoard::speechScale_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QByteArray>("atOnce");   // answers inside receiveBytes()
    QTest::newRow("ends at once") << 0.0 << hex("414f");
    QTest::newRow("twenty times faster") << 0.05 << hex("41");
}

void TstBoard::speechScale()
{
    QFETCH(double, scale);
    QFETCH(QByteArray, atOnce);
    QObject owner;
    BoardOptions options = quietBoard(10000);   // 20 s as spoken
    options.speechScale = scale;
    ChipModel *chip = createChip(options, &owner, nullptr);
    AnswerLog log(chip);
    chip->receiveBytes(synthesisFrame(1, "ab"));
    QCOMPARE(log.bytes, atOnce);
    QTRY_COMPARE(log.bytes, hex("414f"));
}

void TstBoard::longSpeechComesInSmallStretches_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<qint64>("soundMs");   // 20 ms per character
    QTest::addColumn<qint64>("silenceMs");
    QTest::addColumn<qint64>("longestStretchMs");
    const QByteArray pauses = QByteArray("[p30000]").repeated(511);   // 4088 bytes
    QTest::newRow("511 pauses of 30 s played 15 times")
        << QList {parameterFrame(Command::CacheStore, 0, pauses), hex("fd000232f1")} << qint64(0)
        << qint64(15) * 511 * 30000 + 14 * 300 << qint64(0);
    QTest::newRow("4091 characters without a stop")
        << QList {synthesisFrame(1, QByteArray(4091, 'a'))} << qint64(4091) * 20 << qint64(0)
        << qint64(kMaxSentenceCharacters) * 20;
    QTest::newRow("sentences and pauses")
        << QList {synthesisFrame(1, QByteArray("abc.def!gh?[p100]ij").repeated(200))}
        << qint64(200) * 13 * 20 << qint64(200) * 100 << qint64(13) * 20;
}

void TstBoard::longSpeechComesInSmallStretches()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(qint64, soundMs);
    QFETCH(qint64, silenceMs);
    QFETCH(qint64, longestStretchMs);
    QObject owner;
    BoardOptions options = quietBoard(20);
    options.speechScale = 1e-6;   // 64 hours in a quarter of a second
    ChipModel *chip = createChip(options, &owner, nullptr);
    AnswerLog log(chip);
    qint64 sound = 0;
    qint64 silence = 0;
    qsizetype longest = 0;
    QObject::connect(chip, &ChipModel::speechSound, [&](const Pcm &samples) {
        sound += samples.size();
        longest = qMax(longest, samples.size());
    });
    QObject::connect(chip, &ChipModel::speechSilence, [&](qint64 samples) { silence += samples; });
    for (const QByteArray &frame : frames)
        chip->receiveBytes(frame);
    QTRY_COMPARE(log.bytes.right(2), hex("414f"));
    const auto samples = [](qint64 ms) { return ms * kSampleRate / 1000; };
    QCOMPARE(sound, samples(soundMs));
    QCOMPARE(silence, samples(silenceMs));
    QVERIFY2(longest <= samples(longestStretchMs), qPrintable(QString::number(longest)));
}

void TstBoard::timingOptions_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("valid");
    QTest::newRow("at once") << "--accept-ms=0" << true;
    QTest::newRow("longest delay") << "--accept-ms=10000" << true;
    QTest::newRow("negative delay") << "--accept-ms=-1" << false;
    QTest::newRow("delay with a fraction") << "--accept-ms=2.5" << false;
    QTest::newRow("a hundred times faster") << "--speech-scale=0.01" << true;
    QTest::newRow("ends at once") << "--speech-scale=0" << true;
    QTest::newRow("scale too large") << "--speech-scale=101" << false;
    QTest::newRow("scale not a number") << "--speech-scale=nan" << false;
    QTest::newRow("decimal comma") << "--speech-scale=0,5" << false;
}

void TstBoard::timingOptions()
{
    QFETCH(QString, argument);
    QFETCH(bool, valid);
    const QString option = argument.section('=', 0, 0);
    const QString value = argument.section('=', 1);
    const bool delay = option == "--accept-ms";
    BoardOptions options;
    const QString error =
        delay ? setAcceptDelay(&options, option, value) : setSpeechScale(&options, option, value);
    QCOMPARE(error.isEmpty(), valid);
    if (valid)
        QCOMPARE(delay ? options.acceptDelayMs : options.speechScale, value.toDouble());
    else
        QVERIFY2(error.contains(option) && error.contains(value), qPrintable(error));
}

void TstBoard::serialBoardOverPty()
{
    VirtualBoardRunner runner(quietBoard(10));
    QVERIFY2(runner.start(), qPrintable(runner.errorString()));
    const int fd =
        ::open(runner.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QByteArray received;
    const auto readAll = [&] {
        char buffer[256];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            received.append(buffer, got);
        return received;
    };
    QTRY_COMPARE(readAll(), hex("4a"));
    // 200 text bytes take 213 ms on a 9600-baud line: the chip answers no sooner.
    const QByteArray frame = synthesisFrame(1, QByteArray(200, 'a'));
    QElapsedTimer sent;
    sent.start();
    QCOMPARE(::write(fd, frame.constData(), size_t(frame.size())), frame.size());
    QTRY_COMPARE(readAll(), hex("4a41"));
    QVERIFY(sent.elapsed() >= 205 * 10 * 1000 / 9600);
    QTRY_COMPARE_WITH_TIMEOUT(readAll(), hex("4a414f"), 20000);
    ::close(fd);
}

void TstBoard::wavHoldsSpeech()
{
    QTemporaryDir dir;
    const auto speak = [&](const QString &name, const QString &text) -> Pcm {
        BoardOptions options;
        options.playback = false;
        options.acceptDelayMs = 0;
        options.wavPath = dir.filePath(name);
        QObject owner;
        QString warning;
        ChipModel *chip = createChip(options, &owner, &warning);
        chip->receiveBytes(synthesisFrame(1, gbk(text)));
        return readWav(options.wavPath).value_or(Pcm {});
    };
    const Pcm slow = speak("slow.wav", QStringLiteral("[s0]欢迎光临。"));
    const Pcm fast = speak("fast.wav", QStringLiteral("[s10]欢迎光临。"));
    const auto loud = [](const Pcm &pcm) {
        return std::count_if(pcm.begin(), pcm.end(), [](qint16 s) { return qAbs(s) > 1000; });
    };
    QVERIFY(loud(slow) > kSampleRate / 10);
    QVERIFY(loud(fast) > kSampleRate / 10);
    QVERIFY2(fast.size() < slow.size(),
        qPrintable(QString("%1 vs %2").arg(fast.size()).arg(slow.size())));
}

void TstBoard::wavStopsAtItsLimit()
{
    QTemporaryDir dir;
    SpeechOutput output;
    QSignalSpy warnings(&output, &SpeechOutput::warning);
    const QString path = dir.filePath("full.wav");
    QVERIFY(output.writeWav(path, 1000));   // room for 500 samples
    output.appendSound(Pcm(300, 1000));
    output.appendSilence(400);   // fills the file
    output.appendSound(Pcm(300, 1000));
    output.appendSilence(100);
    QCOMPARE(warnings.size(), 1);
    const Pcm written = readWav(path).value_or(Pcm {});
    QCOMPARE(written.size(), 500);
    QCOMPARE(written.count(qint16(1000)), 300);
    QCOMPARE(QFileInfo(path).size(), 44 + 1000);
}

void TstBoard::usbReports_data()
{
    QTest::addColumn<UsbAcks>("acks");
    QTest::addColumn<int>("msPerCharacter");   // of speech
    QTest::addColumn<QList<QByteArray>>("frames");   // each goes out as its reports
    QTest::addColumn<QByteArray>("codes");   // byte 1 of every input report after 0x4A
    const QByteArray status = hex("fd000121");
    const QByteArray speak = synthesisFrame(1, "ab");
    const QByteArray of62 = synthesisFrame(1, QByteArray(57, 'a'));
    const QByteArray over = synthesisFrame(1, QByteArray(513, 'a'));
    const QByteArray most = synthesisFrame(1, QByteArray(512, 'a'));
    const QByteArray pause = hex("fd000103");
    const QByteArray ack16(16, 0x5e);
    // full: 0x5E for 0xFC reports only; all: for every report at once; ready: the closing 0x5E
    // of a frame that speaks once its speech has ended, of any other frame at once.
    const struct
    {
        const char *name;
        QList<QByteArray> frames;
        int ms;
        QByteArray full, all, ready;
    } rows[] = {
        {"command as one closing report", {status}, 10000, hex("aa 41 4f"), hex("5e aa 41 4f"),
            hex("5e aa 41 4f")},
        {"62 bytes: FC, FC, BC", {of62}, 10000, hex("5e 5e aa 41"), hex("5e 5e 5e aa 41"),
            hex("5e 5e aa 41")},
        {"speech that ends", {speak}, 1, hex("aa 41 4f"), hex("5e aa 41 4f"), hex("aa 41 4f 5e")},
        {"while playing", {speak, status}, 10000, hex("aa 41 ac ad 41 4e"),
            hex("5e 5e aa 41 ac ad 41 4e"), hex("5e aa 41 ac ad 41 4e")},
        {"speech cut off by the next", {speak, speak}, 10000, hex("aa 41 ac 41"),
            hex("5e 5e aa 41 ac 41"), hex("aa 41 ac 41 5e")},
        {"while paused", {speak, pause, status}, 10000, hex("aa 41 ac 41 ab 41 4e"),
            hex("5e 5e 5e aa 41 ac 41 ab 41 4e"), hex("5e 5e aa 41 ac 41 ab 41 4e")},
        {"short form", {hex("fd0001")}, 10000, hex("aa 45"), hex("5e aa 45"), hex("5e aa 45")},
        {"over 512 text bytes", {over}, 10000, ack16 + hex("45"), ack16 + hex("5e 45"),
            ack16 + hex("5e 45")},
        {"512 text bytes", {most}, 10000, ack16 + hex("aa 41"), ack16 + hex("5e aa 41"),
            ack16 + hex("aa 41")},
    };
    for (const auto &r : rows) {
        QTest::addRow("full: %s", r.name) << UsbAcks::Full << r.ms << r.frames << r.full;
        QTest::addRow("all: %s", r.name) << UsbAcks::All << r.ms << r.frames << r.all;
        QTest::addRow("ready: %s", r.name) << UsbAcks::Ready << r.ms << r.frames << r.ready;
    }
}

void TstBoard::usbReports()
{
    QFETCH(UsbAcks, acks);
    QFETCH(int, msPerCharacter);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, codes);
    BoardOptions options = quietBoard(msPerCharacter);
    options.acceptDelayMs = 2;
    options.usbAcks = acks;
    UsbBoard board(options);
    QByteArray got;
    connect(&board, &UsbBoard::inputReport,
        [&](const QByteArray &report) { got += report.size() == 33 ? report.at(1) : '?'; });
    // Every report is in before the chip takes the first frame up.
    for (const QByteArray &frame : frames) {
        for (const QByteArray &report : reportsOf(frame))
            board.receiveReport(report);
    }
    QTRY_COMPARE(got.toHex(' '), codes.toHex(' '));
    QTest::qWait(30);
    QCOMPARE(got.toHex(' '), codes.toHex(' '));
}

void TstBoard::hidReadWaits_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("sendStatus");   // from this thread while the reader waits
    QTest::addColumn<bool>("closeHandle");
    QTest::addColumn<QByteArray>("codes");   // the reader reads until it has these
    QTest::addColumn<int>("lastResult");
    QTest::newRow("no wait") << 0 << false << false << QByteArray() << 0;
    QTest::newRow("times out") << 30 << false << false << QByteArray() << 0;
    QTest::newRow("report comes while waiting")
        << 60000 << true << false << hex("5e aa 41 4f") << 33;
    QTest::newRow("close wakes a reader without time-out")
        << -1 << false << true << QByteArray() << -1;
}

void TstBoard::hidReadWaits()
{
    QFETCH(int, timeoutMs);
    QFETCH(bool, sendStatus);
    QFETCH(bool, closeHandle);
    QFETCH(QByteArray, codes);
    QFETCH(int, lastResult);
    VirtualHidApi hid(quietBoard(10000));
    const QList<HidDeviceInfo> devices = hid.enumerate();
    QCOMPARE(devices.size(), 1);
    HidDevice *writer = hid.open(devices.first().path);
    HidDevice *reader = hid.open(devices.first().path);
    int in = 0, out = 0;
    QVERIFY(hid.reportLengths(writer, &in, &out));
    QCOMPARE(in, 33);
    QCOMPARE(out, 33);
    QByteArray report;
    QVERIFY(hid.read(reader, &report, 33, 60000) > 0);   // 0x4A
    QByteArray got;
    std::atomic<int> result = 1;
    QScopedPointer<QThread> thread(QThread::create([&] {
        int last = 0;
        do {
            last = hid.read(reader, &report, 33, timeoutMs);
            if (last > 0)
                got += report.at(1);
        } while (last > 0 && got.size() < codes.size());
        result = last;
    }));
    thread->start();
    if (sendStatus)
        QCOMPARE(hid.write(writer, reportsOf(hex("fd000121")).first()), 33);
    if (closeHandle) {
        QTest::qWait(20);   // let the reader block first
        hid.close(reader);
    }
    QTRY_VERIFY(result != 1);
    thread->wait();
    QCOMPARE(got.toHex(' '), codes.toHex(' '));
    QCOMPARE(int(result), lastResult);
}

QTEST_GUILESS_MAIN(TstBoard)
#include "tst_board.moc"
