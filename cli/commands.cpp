#include "commands.h"

#include "linkfaults.h"

#include "boards.h"
#include "cache.h"
#include "codepage.h"
#include "controltags.h"
#include "frame.h"
#include "hexeditor.h"
#include "input.h"
#include "textcheck.h"
#include "textform.h"

#include <QFile>

#include <algorithm>
#include <cstdio>

namespace {

// Whether a frame makes the chip speak: synthesis or cache play.
bool speaks(const QByteArray &frame)
{
    if (frame.size() < 4 || quint8(frame.at(0)) != kFrameHead)
        return false;
    const quint8 command = quint8(frame.at(3));
    return command == quint8(Command::Synthesize) || command == quint8(Command::CachePlay);
}

QString sentAs(const UncarriedCharacter &c)
{
    switch (c.kind) {
    case UncarriedKind::OutsideGbk:
        return QStringLiteral("not in GBK, sent as \"%1\"").arg(c.sentAs);
    case UncarriedKind::NoBig5:
        return QStringLiteral("no BIG5 form, sent as \"%1\"").arg(c.sentAs);
    case UncarriedKind::OutsideGb2312:
        return QStringLiteral("not in GB2312, sent as its GBK bytes");
    }
    return {};
}

QString codePoint(const QString &character)
{
    return QStringLiteral("U+%1")
        .arg(character.toUcs4().value(0), 4, 16, QLatin1Char('0'))
        .toUpper();
}

}   // namespace

CommandRun::CommandRun(const CliOptions &options, Output &output, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
{
    m_session.setAnswerBound(int(options.timeoutS * 1000));
    m_session.transactions().setStoreEncoding(options.encoding);
    m_speechTimer.setSingleShot(true);
    m_exitTimer.setSingleShot(true);
    connect(&m_speechTimer, &QTimer::timeout, this, [this] {
        end(ExitNoAnswer,
            QStringLiteral("the speech did not end (0x4F) within %1 s")
                .arg(m_options.speechTimeoutS));
    });
    // after the log lines of the answers, so the result is the last line
    connect(&m_exitTimer, &QTimer::timeout, this, &CommandRun::printResult);
    connect(&m_session.transactions(), &TransactionModel::transactionChanged, this,
        &CommandRun::onTransaction);
}

CommandRun::~CommandRun() = default;

bool CommandRun::fail(int *exitCode, int code, const QString &message)
{
    m_output.error(message);
    *exitCode = code;
    return false;
}

std::optional<QString> CommandRun::readText(int *exitCode)
{
    QByteArray bytes;
    bool fromFile = false;
    if (!m_options.file.isEmpty() || m_options.fromStdin) {
        const InputRead input = readInput(m_options.fromStdin ? QString() : m_options.file);
        if (input.interrupted) {
            fail(exitCode, ExitFailed, QStringLiteral("interrupted while reading the text"));
            return std::nullopt;
        }
        if (!input.error.isEmpty()) {
            fail(exitCode, ExitBadInput, input.error);
            return std::nullopt;
        }
        bytes = input.bytes;
        fromFile = true;
    } else {
        const qsizetype first = m_options.command == u"cache store" ? 1 : 0;
        bytes = m_options.arguments.mid(first).join(' ');
    }
    std::optional<QString> text = checkedText(bytes, m_options, m_output, exitCode);
    if (!text)
        return std::nullopt;
    QString widgetText = fromCrLf(*text);
    if (fromFile && widgetText.endsWith(u'\n'))
        widgetText.chop(1);   // the line break that ends a text file
    if (widgetText.isEmpty()) {
        fail(exitCode, ExitBadInput, QStringLiteral("the text is empty: nothing to send"));
        return std::nullopt;
    }
    return widgetText;
}

QString uncarriedList(const TextCheck &check)
{
    QStringList items;
    for (const UncarriedCharacter &c : check.uncarried)
        items << QStringLiteral("\"%1\" (%2) ×%3: %4")
                     .arg(c.character, codePoint(c.character))
                     .arg(c.count)
                     .arg(sentAs(c));
    return items.join(QStringLiteral("; "));
}

bool CommandRun::checkCarried(const QString &text, int *exitCode)
{
    // Only BIG5 asks the table which characters have a form; the start-up reads it for no other.
    std::optional<CodeTable> table;
    if (m_options.encoding == int(Encoding::Big5))
        table = m_session.codeTable().table;
    const TextCheck check = checkText(text, m_options.encoding, table ? &*table : nullptr);
    if (check.uncarried.isEmpty())
        return true;
    const QString list = uncarriedList(check);
    if (m_options.strict)
        return fail(exitCode, ExitBadInput,
            QStringLiteral("the encoding cannot carry every character (--strict): %1; nothing "
                           "sent")
                .arg(list));
    m_output.warning(QStringLiteral("the encoding cannot carry every character: %1").arg(list));
    return true;
}

bool CommandRun::prepare(int *exitCode)
{
    const QString command = m_options.command;
    auto argument = [this](qsizetype i) {
        return QString::fromUtf8(m_options.arguments.value(i)).trimmed();
    };
    auto number = [&](qsizetype i, int low, int high) -> std::optional<int> {
        bool ok = false;
        const int n = argument(i).toInt(&ok);
        return ok && n >= low && n <= high ? std::optional<int>(n) : std::nullopt;
    };
    const bool wait = !m_options.noWait;
    auto control = [&](Command c) {
        m_steps = {{commandFrame(c), wait ? Wait::Taken : Wait::Written}};
        return true;
    };

    if (command == u"say") {
        const std::optional<QString> text = readText(exitCode);
        if (!text)
            return false;
        m_text = *text;
        return checkCarried(m_text, exitCode);
    }
    if (command == u"cache store") {
        const std::optional<int> segment = number(0, 0, kCacheSegments - 1);
        if (!segment)
            return fail(exitCode, ExitBadInput,
                QStringLiteral("the cache segment is 0 to %1, not \"%2\"")
                    .arg(kCacheSegments - 1)
                    .arg(argument(0)));
        m_segment = *segment;
        const std::optional<QString> text = readText(exitCode);
        if (!text)
            return false;
        m_text = *text;
        return checkCarried(m_text, exitCode);
    }
    if (command == u"cache play") {
        if (m_options.arguments.size() == 2)
            return fail(exitCode, ExitBadInput,
                QStringLiteral("the chip's cache-play frame carries no segment, only the repeat "
                               "count and the encoding: the chip plays its cache from the start. "
                               "Use: orv4120 cache play COUNT"));
        const std::optional<int> count = number(0, 1, kMaxCacheRepeats);
        if (!count)
            return fail(exitCode, ExitBadInput,
                QStringLiteral("the repeat count is 1 to %1, not \"%2\"")
                    .arg(kMaxCacheRepeats)
                    .arg(argument(0)));
        m_steps = {
            {cachePlayFrame(*count, m_options.encoding), wait ? Wait::SpeechEnd : Wait::Written}};
        return true;
    }
    if (command == u"raw") {
        const QString text = toCrLf(QString::fromUtf8(m_options.arguments.join(' ')));
        const HexParse parse = m_options.header ? headerPlayFrame(text, quint8(m_options.encoding))
                                                : directPlayFrame(text);
        switch (parse.status) {
        case HexStatus::Empty:
            return fail(exitCode, ExitBadInput, QStringLiteral("no bytes to send"));
        case HexStatus::Mismatch:
            return fail(exitCode, ExitBadInput,
                QStringLiteral("not hexadecimal at character %1 of \"%2\": each byte is two "
                               "hexadecimal digits and one separator, as in \"FD 00 01 02\"")
                    .arg(parse.badOffset + 1)
                    .arg(text));
        case HexStatus::TooLong:
            return fail(exitCode, ExitBadInput,
                QStringLiteral("too many bytes for one frame's length field"));
        case HexStatus::Parsed:
            break;
        }
        const int c = parse.bytes.size() >= 4 ? quint8(parse.bytes.at(3)) : -1;
        const bool speaks = quint8(parse.bytes.at(0)) == kFrameHead
            && (c == int(Command::Synthesize) || c == int(Command::CachePlay));
        m_steps = {{parse.bytes, !wait ? Wait::Written : speaks ? Wait::SpeechEnd : Wait::Taken}};
        return true;
    }
    if (command.startsWith(u"tag ")) {
        std::optional<QByteArray> frame;
        const QString what = command.mid(4);
        if (what == u"reset") {
            frame = resetTagFrame();
        } else if (what == u"voice") {
            std::optional<int> entry = number(0, 0, kVoiceCount - 1);
            const QStringList names = voiceNames();
            for (int i = 0; !entry && i < names.size(); ++i) {
                if (names.at(i).compare(argument(0), Qt::CaseInsensitive) == 0)
                    entry = i;
            }
            if (!entry)
                return fail(exitCode, ExitBadInput,
                    QStringLiteral("the voice is 0 to %1 or one of: %2; not \"%3\"")
                        .arg(kVoiceCount - 1)
                        .arg(names.join(QStringLiteral(", ")), argument(0)));
            frame = voiceTagFrame(*entry);
        } else {
            const TagBar bar = what == u"volume" ? TagBar::Volume
                : what == u"rate"                ? TagBar::Rate
                                                 : TagBar::Intonation;
            const int top = kTagBarMaximum - kTagBarMinimum;
            const std::optional<int> value = number(0, 0, top);
            if (!value)
                return fail(exitCode, ExitBadInput,
                    QStringLiteral("the %1 is 0 to %2, not \"%3\"")
                        .arg(what)
                        .arg(top)
                        .arg(argument(0)));
            frame = barTagFrame(bar, *value + kTagBarMinimum);   // the bar sends its value - 1
        }
        m_steps = {{*frame, wait ? Wait::Taken : Wait::Written}};
        return true;
    }
    if (command == u"status") {
        m_steps = {{commandFrame(Command::StatusQuery), wait ? Wait::State : Wait::Written}};
        return true;
    }
    if (command == u"version") {
        for (const BoardSpec &board : m_options.boards) {
            const bool usb =
                board.kind == BoardSpec::Kind::Usb || board.kind == BoardSpec::Kind::VirtualUsb;
            const std::optional<QString> why = cannotCarry(
                Command::VersionQuery, usb ? AnswerRule::UsbReports : AnswerRule::SerialCharacters);
            if (why) {
                *exitCode = ExitNotCarried;
                m_output.error(QStringLiteral("the USB link cannot carry the version query: %1; "
                                              "ask over the serial port. Nothing sent.")
                                   .arg(*why));
                return false;
            }
        }
        m_steps = {{commandFrame(Command::VersionQuery), wait ? Wait::Version : Wait::Written}};
        return true;
    }
    if (command == u"stop")
        return control(Command::Stop);
    if (command == u"pause")
        return control(Command::Pause);
    if (command == u"resume")
        return control(Command::Resume);
    if (command == u"standby")
        return control(Command::Standby);
    if (command == u"wakeup")
        return control(Command::WakeUp);
    return fail(exitCode, ExitBadInput, QStringLiteral("%1 is not run here").arg(command));
}

bool CommandRun::start(OpenedBoard &board, int *exitCode)
{
    m_board = &board;
    m_log = std::make_unique<BoardLog>(m_output, board.name);
    m_session.setLogSink(m_log.get());
    m_session.attachLink(board.link, board.rule, board.name);
    reportEvents(
        m_output, board.name, m_session, m_session.transactions(), board.rule, m_options.encoding);
    connect(board.link, &Link::failed, this, [this](const LinkFault &fault) {
        m_lastFault = linkFaultMessage(fault);
        end(ExitUnavailable, QStringLiteral("the link failed: ") + m_lastFault);
    });
    // A frame the link drops after a notice (no USB board, say) is explained by that notice.
    connect(board.link, &Link::notice, this,
        [this](const LinkFault &fault) { m_lastFault = linkFaultMessage(fault); });

    // Text commands are cut by the one text pipeline, to the limit of this link.
    if (m_options.command == u"say" || m_options.command == u"cache store") {
        const bool store = m_options.command == u"cache store";
        const Command command = store ? Command::CacheStore : Command::Synthesize;
        const quint8 parameter = quint8(store ? m_segment : m_options.encoding);
        for (const TextFrame &piece :
            m_session.textPieces(m_text, command, parameter, m_options.encoding)) {
            if (piece.table != CodeTable::LoadStatus::Loaded)
                return fail(exitCode, ExitFailed,
                    QStringLiteral("the code table %1 cannot be used: %2")
                        .arg(m_session.codeTablePath(),
                            piece.tableError.isEmpty() ? QStringLiteral("missing or too short")
                                                       : piece.tableError));
            if (piece.frame.isEmpty())
                return fail(exitCode, ExitBadInput, QStringLiteral("the text cannot be framed"));
            if (store && piece.cut)
                return fail(exitCode, ExitBadInput,
                    QStringLiteral("the text does not fit one cache-store frame of this link "
                                   "(%1 text bytes at most); nothing sent")
                        .arg(m_session.maxTextBytes()));
            m_steps.append({piece.frame, Wait::SpeechEnd});
        }
        if (store)
            m_steps.last().wait = Wait::Taken;
        if (m_options.noWait)
            m_steps.last().wait = Wait::Written;
    }
    m_result = {{QStringLiteral("event"), QStringLiteral("result")},
        {QStringLiteral("board"), board.name}, {QStringLiteral("command"), m_options.command}};
    m_session.whenReady(board.justPoweredUp, this, [this] { sendNext(); });
    return true;
}

void CommandRun::sendNext()
{
    if (m_ended)
        return;
    if (m_next >= m_steps.size()) {
        end(ExitDone, {});
        return;
    }
    const QByteArray &frame = m_steps.at(m_next).frame;
    m_speaking = m_speaking || speaks(frame);
    m_session.send(frame);
    const TransactionModel::Transaction *t = m_session.transactions().lastSent(m_board->link);
    m_current = t ? t->id : 0;
}

void CommandRun::onTransaction(const TransactionModel::Transaction &t)
{
    if (m_ended || t.id != m_current)
        return;
    if (m_stopping) {
        if (t.taken || (t.problems & TransactionModel::ErrorAnswer))
            readAnswers();
        if (t.taken)
            end(ExitFailed, QStringLiteral("interrupted; the chip took the stop frame"));
        else if (t.problems)
            end(ExitFailed,
                QStringLiteral("interrupted; the stop frame was not taken: ")
                    + m_session.transactions().row(t).problems.join(QStringLiteral("; ")));
        return;
    }
    const Wait wait = m_steps.at(m_next).wait;
    const auto timeout = QStringLiteral("%1 s").arg(m_options.timeoutS);
    if (t.problems & TransactionModel::NotWritten)
        return end(ExitUnavailable,
            QStringLiteral("the frame was not written to %1 within %2%3")
                .arg(m_board->name, timeout,
                    m_lastFault.isEmpty() ? QString() : QStringLiteral(": ") + m_lastFault));
    if (wait == Wait::Written) {
        if (t.written)
            stepDone(t);
        return;
    }
    if (t.problems & TransactionModel::ErrorAnswer) {
        readAnswers();
        return end(ExitErrorAnswer, QStringLiteral("the chip refused the frame (0x45)"));
    }
    if (t.problems & TransactionModel::NoAnswer)
        return end(ExitNoAnswer, QStringLiteral("no answer within %1").arg(timeout));
    if (t.problems & TransactionModel::MissingFollowUp)
        return end(ExitNoAnswer,
            QStringLiteral("the chip took the frame, but its next answer did not come within %1")
                .arg(timeout));
    switch (wait) {
    case Wait::Written:
        break;
    case Wait::Taken:
        if (t.taken)
            stepDone(t);
        break;
    case Wait::State:
    case Wait::Version:
        if (t.phase == TransactionModel::Transaction::Phase::Done && t.taken)
            stepDone(t);
        break;
    case Wait::SpeechEnd:
        if (t.speechEnd != TransactionModel::SpeechEnd::None) {
            m_speechTimer.stop();
            stepDone(t);
        } else if (t.taken && !m_speechTimer.isActive()) {
            m_speechTimer.start(int(qMin(m_options.speechTimeoutS * 1000.0, 2147483647.0)));
        }
        break;
    }
}

void CommandRun::readAnswers()
{
    // The answer the step waits for is in, so the log need not wait out the session's answer
    // pause to show it.
    m_session.readArrivedAnswers();
}

void CommandRun::stepDone(const TransactionModel::Transaction &t)
{
    if (m_steps.at(m_next).wait != Wait::Written)
        readAnswers();
    const Wait wait = m_steps.at(m_next).wait;
    if (wait == Wait::State) {
        const QString state =
            t.reportedPlaying() ? QStringLiteral("playing") : QStringLiteral("idle");
        m_result.insert(QStringLiteral("state"), state);
        m_resultLines << state;
    } else if (wait == Wait::Version) {
        if (const std::optional<QByteArray> version = t.versionText()) {
            const QString text = fromGbk(*version);
            m_result.insert(QStringLiteral("version"), text);
            m_resultLines << text;
        }
    } else if (wait == Wait::SpeechEnd && t.speechEnd != TransactionModel::SpeechEnd::Idle) {
        m_output.warning(QStringLiteral("the speech ended early (%1)")
                             .arg(m_session.transactions().row(t).speechEnd));
    }
    if (wait == Wait::SpeechEnd)
        m_speaking = false;
    m_current = 0;   // the transaction may report again before the next step is sent
    ++m_next;
    QTimer::singleShot(0, this, &CommandRun::sendNext);
}

void CommandRun::end(int code, const QString &message)
{
    if (m_ended)
        return;
    m_ended = true;
    m_speechTimer.stop();
    if (!message.isEmpty())
        m_output.error(message);
    m_result.insert(QStringLiteral("exit"), code);
    if (!message.isEmpty())
        m_result.insert(QStringLiteral("message"), message);
    // With --no-wait the run is done once its bytes have left: answers are not waited for,
    // nor their log lines.
    if (m_options.quiet || m_options.noWait) {
        m_exitTimer.start(0);
        return;
    }
    // The result is the last line: after the log lines of the answers that came.
    m_session.whenAnswersLogged(this, [this] { m_exitTimer.start(0); });
}

void CommandRun::printResult()
{
    if (m_printed)
        return;
    m_printed = true;
    m_exitTimer.stop();
    for (const QString &line : std::as_const(m_resultLines))
        m_output.result(line);
    m_output.event(m_result);
    emit finished(m_result.value(QStringLiteral("exit")).toInt());
}

void CommandRun::interrupt()
{
    if (m_ended) {
        printResult();   // a second signal: the log lines still due are not waited for
        return;
    }
    if (m_stopping || m_options.noStop || !m_speaking || !m_board) {
        end(ExitFailed, QStringLiteral("interrupted"));
        return;
    }
    // The chip would go on speaking after the program has gone: it is told to stop first.
    m_stopping = true;
    m_speechTimer.stop();
    m_session.send(commandFrame(Command::Stop));
    const TransactionModel::Transaction *t = m_session.transactions().lastSent(m_board->link);
    m_current = t ? t->id : 0;
    if (!m_current)
        end(ExitFailed, QStringLiteral("interrupted; the stop frame could not be sent"));
}
