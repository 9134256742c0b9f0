#include "boardoptions.h"

#include "audioout.h"

#include <QDebug>

static_assert(VirtualBoardOptions().acceptDelayMs == ChipModel::kDefaultAcceptDelayMs,
    "the front ends' default is the chip's");

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
