#include "boardoptions.h"

#include "audioout.h"

ChipModel *createChip(const BoardOptions &options, QObject *parent, QString *warning)
{
    auto renderer = options.renderer ? options.renderer() : std::make_unique<EspeakRenderer>();
    auto *chip = new ChipModel(std::move(renderer), parent);
    chip->setFrameTimeout(options.frameTimeoutMs);
    auto *output = new SpeechOutput(chip);
    QStringList problems;
    if (options.playback && !output->enablePlayback())
        problems << QStringLiteral("no sound output (%1); speech is timed silently")
                        .arg(output->errorString());
    if (!options.wavPath.isEmpty() && !output->writeWav(options.wavPath))
        problems
            << QStringLiteral("cannot write %1: %2").arg(options.wavPath, output->errorString());
    if (warning)
        *warning = problems.join(QStringLiteral("; "));
    QObject::connect(chip, &ChipModel::speechStarted, output, &SpeechOutput::play);
    QObject::connect(chip, &ChipModel::speechPaused, output, &SpeechOutput::pause);
    QObject::connect(chip, &ChipModel::speechResumed, output, &SpeechOutput::resume);
    QObject::connect(chip, &ChipModel::speechStopped, output, &SpeechOutput::stop);
    return chip;
}
