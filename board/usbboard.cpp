#include "usbboard.h"

#include "codes.h"
#include "frame.h"

UsbBoard::UsbBoard(const BoardOptions &options, QObject *parent)
    : QObject(parent)
    , m_powerUpDelayMs(options.powerUpDelayMs)
    , m_acks(options.usbAcks)
{
    m_chip = createChip(options, this, &m_warning);
    connect(m_chip, &ChipModel::answered, this, &UsbBoard::chipAnswered);
    connect(m_chip, &ChipModel::frameAccepted, this, &UsbBoard::answerReceipt);
    // A new utterance cuts off the one before: the frames behind that one are done speaking.
    connect(m_chip, &ChipModel::speechStarted, this, [this] {
        if (m_heldSpeaking > 1) {
            acknowledge(m_heldSpeaking - 1);
            m_heldSpeaking = 1;
        }
    });
}

namespace {

bool startsSpeech(const QByteArray &frame)
{
    return frame.size() >= 4
        && (quint8(frame.at(3)) == quint8(Command::Synthesize)
            || quint8(frame.at(3)) == quint8(Command::CachePlay));
}

}   // namespace

void UsbBoard::acknowledge(int reports)
{
    for (int i = 0; i < reports; ++i)
        answer(QByteArray(1, char(Answer::ReportAccepted)));
}

void UsbBoard::closeFrame(const QByteArray &frame)
{
    if (m_acks == UsbAcks::Full)
        return;
    if (m_acks == UsbAcks::Ready && startsSpeech(frame))
        ++m_heldUntaken;
    else
        acknowledge();
}

void UsbBoard::chipAnswered(const QByteArray &bytes)
{
    answer(bytes);
    if (bytes.size() != 1)
        return;
    const quint8 code = quint8(bytes.at(0));
    if (code == Answer::Idle && m_heldSpeaking > 0) {
        acknowledge(m_heldSpeaking);   // the speech ended: the chip takes the next text
        m_heldSpeaking = 0;
    } else if (code == Answer::ReceiveFailed && m_heldUntaken > 0) {
        --m_heldUntaken;   // a speech frame refused: it starts nothing
        acknowledge();
    }
}

void UsbBoard::powerUp()
{
    m_chip->powerUp(m_powerUpDelayMs);
}

void UsbBoard::receiveReport(const QByteArray &report)
{
    const QByteArray r = report.leftJustified(kReportBytes, '\0', true);
    const quint8 marker = quint8(r.at(1));
    // Every report is taken into the board's buffer at once; what the frame says comes later.
    if (marker == UsbMarker::More) {
        acknowledge();
        m_assembly += r.mid(2, 31);
        if (m_assembly.size() > kMaxFrameBytes) {
            m_overflow = true;   // keep acknowledging; the frame is refused when it closes
            m_assembly.clear();
        }
        return;
    }
    if (marker == UsbMarker::Closing) {
        const int count = quint8(r.at(2));
        QByteArray frame = m_assembly + r.mid(3, qMin(count, 30));
        const bool refused = m_overflow || count > 30 || frame.size() > kMaxFrameBytes;
        m_assembly.clear();
        m_overflow = false;
        if (refused) {
            closeFrame({});
            m_chip->refuseFrame();
        } else {
            closeFrame(frame);
            m_chip->receiveFrame(frame);
        }
        return;
    }
    // A frame of at most three bytes: never a whole command, so the chip refuses it.
    m_assembly.clear();
    m_overflow = false;
    closeFrame({});
    m_chip->receiveFrame(r.mid(1, 3));
}

void UsbBoard::answerReceipt(const QByteArray &frame, ChipModel::State before)
{
    if (m_heldUntaken > 0 && startsSpeech(frame)) {
        --m_heldUntaken;
        ++m_heldSpeaking;
    }
    const quint8 receipt = before == ChipModel::State::Playing ? Answer::ReceivedWasPlaying
        : before == ChipModel::State::Paused                   ? Answer::ReceivedWasPaused
                                                               : Answer::ReceivedWasIdle;
    answer(QByteArray(1, char(receipt)));
    if (before == ChipModel::State::Playing && frame.size() == 4
        && quint8(frame.at(3)) == quint8(Command::StatusQuery))
        answer(QByteArray(1, char(Answer::HardwarePlaying)));
}

void UsbBoard::answer(const QByteArray &bytes)
{
    QByteArray report(1, '\0');
    report += bytes.left(kReportBytes - 1);
    emit inputReport(report.leftJustified(kReportBytes, '\0'));
}
