#include "boardoptions.h"

#include "audioout.h"

#include <QLocale>

#include <cmath>

QString setAcceptDelay(BoardOptions *options, const QString &option, const QString &value)
{
    bool ok = false;
    const int ms = value.toInt(&ok);
    if (!ok || ms < 0 || ms > kMaxAcceptDelayMs)
        return QStringLiteral("%1 expects whole milliseconds from 0 to %2, not \"%3\"")
            .arg(option)
            .arg(kMaxAcceptDelayMs)
            .arg(value);
    options->acceptDelayMs = ms;
    return {};
}

QString setSpeechScale(BoardOptions *options, const QString &option, const QString &value)
{
    bool ok = false;
    const double scale = QLocale::c().toDouble(value, &ok);   // "0.01" whatever the locale
    if (!ok || !std::isfinite(scale) || scale < 0.0 || scale > kMaxSpeechScale)
        return QStringLiteral("%1 expects a number from 0 to %2 (1 speaks in real time, 0.01 a "
                              "hundred times faster, 0 ends at once), not \"%3\"")
            .arg(option)
            .arg(kMaxSpeechScale)
            .arg(value);
    options->speechScale = scale;
    return {};
}

QString setUsbAcks(BoardOptions *options, const QString &option, const QString &value)
{
    if (value == u"full")
        options->usbAcks = UsbAcks::Full;
    else if (value == u"all")
        options->usbAcks = UsbAcks::All;
    else if (value == u"ready")
        options->usbAcks = UsbAcks::Ready;
    else
        return QStringLiteral("%1 expects full, all or ready, not \"%2\"").arg(option, value);
    return {};
}

ChipModel *createChip(const BoardOptions &options, QObject *parent, QString *warning)
{
    auto renderer = options.renderer ? options.renderer() : std::make_unique<EspeakRenderer>();
    auto *chip = new ChipModel(std::move(renderer), parent);
    chip->setFrameTimeout(options.frameTimeoutMs);
    chip->setAcceptDelay(options.acceptDelayMs);
    chip->setSpeechScale(options.speechScale);
    auto *output = new SpeechOutput(chip);
    QStringList problems;
    if (options.playback && options.speechScale != 1.0)
        problems << QStringLiteral("speech scale %1: no sound output (only real-time speech is "
                                   "played)")
                        .arg(options.speechScale);
    else if (options.playback && !output->enablePlayback())
        problems << QStringLiteral("no sound output (%1); speech is timed silently")
                        .arg(output->errorString());
    if (!options.wavPath.isEmpty() && !output->writeWav(options.wavPath))
        problems
            << QStringLiteral("cannot write %1: %2").arg(options.wavPath, output->errorString());
    if (warning)
        *warning = problems.join(QStringLiteral("; "));
    QObject::connect(output, &SpeechOutput::warning, output,
        [](const QString &text) { qWarning().noquote() << text; });
    QObject::connect(chip, &ChipModel::speechStarted, output, &SpeechOutput::begin);
    QObject::connect(chip, &ChipModel::speechSound, output, &SpeechOutput::appendSound);
    QObject::connect(chip, &ChipModel::speechSilence, output, &SpeechOutput::appendSilence);
    QObject::connect(chip, &ChipModel::speechPaused, output, &SpeechOutput::pause);
    QObject::connect(chip, &ChipModel::speechResumed, output, &SpeechOutput::resume);
    QObject::connect(chip, &ChipModel::speechStopped, output, &SpeechOutput::stop);
    return chip;
}
