#include "framecmd.h"

#include "cache.h"
#include "codepage.h"
#include "commands.h"
#include "controltags.h"
#include "frame.h"
#include "framecode.h"
#include "framedecoder.h"
#include "hexeditor.h"
#include "input.h"
#include "linescan.h"
#include "options.h"
#include "session.h"
#include "textcheck.h"
#include "textform.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>

namespace {

// Longest text file or standard input read, as for say.

enum class Format { Hex, C, Python, Json };

struct NamedFrame
{
    QString name;
    QByteArray bytes;
};

struct Failure
{
    int code = ExitBadInput;
    QString message;
};

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int failWith(const Failure &f)
{
    print(stderr, QStringLiteral("orv4120: ") + f.message + u'\n');
    return f.code;
}

QString argument(const CliOptions &o, qsizetype i)
{
    return QString::fromUtf8(o.arguments.value(i)).trimmed();
}

std::optional<int> number(const CliOptions &o, qsizetype i, int low, int high)
{
    bool ok = false;
    const int n = argument(o, i).toInt(&ok);
    return ok && n >= low && n <= high ? std::optional<int>(n) : std::nullopt;
}

// The text of say or cache store as orv4120 COMMAND reads it (widget form, "\n" line breaks).
std::optional<QString> readText(const CliOptions &o, Failure *failure)
{
    QByteArray bytes;
    bool fromFile = false;
    if (!o.file.isEmpty() || o.fromStdin) {
        const InputRead input = readInput(o.fromStdin ? QString() : o.file);
        if (input.interrupted) {
            *failure = {ExitFailed, QStringLiteral("interrupted while reading the text")};
            return std::nullopt;
        }
        if (!input.error.isEmpty()) {
            *failure = {ExitBadInput, input.error};
            return std::nullopt;
        }
        bytes = input.bytes;
        fromFile = true;
    } else {
        bytes = o.arguments.mid(o.command == u"cache store" ? 1 : 0).join(' ');
    }
    const std::optional<QString> text = decodeInput(bytes, o.inputGbk);
    if (!text) {
        *failure = {ExitBadInput,
            o.inputGbk ? QStringLiteral("the text is not valid GBK")
                       : QStringLiteral("the text is not valid UTF-8 (for GBK text give "
                                        "--input-encoding gbk)")};
        return std::nullopt;
    }
    QString widgetText = fromCrLf(*text);
    if (fromFile && widgetText.endsWith(u'\n'))
        widgetText.chop(1);
    return widgetText;
}

// Warns of characters the encoding cannot carry, or refuses them under --strict.
bool checkCarried(
    const CliOptions &o, const Session &session, const QString &text, Failure *failure)
{
    std::optional<CodeTable> table;
    if (o.encoding == int(Encoding::Big5))
        table = session.codeTable().table;
    const TextCheck check = checkText(text, o.encoding, table ? &*table : nullptr);
    if (check.uncarried.isEmpty())
        return true;
    const QString list = uncarriedList(check);
    if (o.strict) {
        *failure = {ExitBadInput,
            QStringLiteral("the encoding cannot carry every character (--strict): %1").arg(list)};
        return false;
    }
    print(stderr,
        QStringLiteral("orv4120: warning: the encoding cannot carry every character: %1\n")
            .arg(list));
    return true;
}

// The frames of a text, cut to the link's limit as the window cuts it.
std::optional<QList<QByteArray>> textFrames(
    const CliOptions &o, const Session &session, const QString &text, Failure *failure)
{
    const bool store = o.command == u"cache store";
    const Command command = store ? Command::CacheStore : Command::Synthesize;
    const quint8 parameter = quint8(store ? o.arguments.value(0).trimmed().toInt() : o.encoding);
    QList<QByteArray> frames;
    for (const TextFrame &piece : session.textPieces(text, command, parameter, o.encoding)) {
        if (piece.table != CodeTable::LoadStatus::Loaded) {
            *failure = {ExitFailed,
                QStringLiteral("the code table %1 cannot be used: %2")
                    .arg(session.codeTablePath(),
                        piece.tableError.isEmpty() ? QStringLiteral("missing or too short")
                                                   : piece.tableError)};
            return std::nullopt;
        }
        if (piece.frame.isEmpty()) {
            *failure = {ExitBadInput, QStringLiteral("the text cannot be framed")};
            return std::nullopt;
        }
        if (store && piece.cut) {
            *failure = {ExitBadInput,
                QStringLiteral("the text does not fit one cache-store frame of this link (%1 "
                               "text bytes at most)")
                    .arg(session.maxTextBytes())};
            return std::nullopt;
        }
        frames << piece.frame;
    }
    return frames;
}

// The one frame of a command without text, as orv4120 COMMAND builds it.
std::optional<QByteArray> commandFrameOf(const CliOptions &o, Failure *failure)
{
    const QString command = o.command;
    auto bad = [failure](const QString &message) {
        *failure = {ExitBadInput, message};
        return std::nullopt;
    };
    if (command == u"cache play") {
        if (o.arguments.size() == 2)
            return bad(QStringLiteral("the chip's cache-play frame carries no segment, only the "
                                      "repeat count and the encoding"));
        const std::optional<int> count = number(o, 0, 1, kMaxCacheRepeats);
        if (!count)
            return bad(QStringLiteral("the repeat count is 1 to %1, not \"%2\"")
                           .arg(kMaxCacheRepeats)
                           .arg(argument(o, 0)));
        return cachePlayFrame(*count, o.encoding);
    }
    if (command == u"raw") {
        const QString text = toCrLf(QString::fromUtf8(o.arguments.join(' ')));
        const HexParse parse =
            o.header ? headerPlayFrame(text, quint8(o.encoding)) : directPlayFrame(text);
        switch (parse.status) {
        case HexStatus::Empty:
            return bad(QStringLiteral("no bytes"));
        case HexStatus::Mismatch:
            return bad(QStringLiteral("not hexadecimal at character %1 of \"%2\": each byte is two "
                                      "hexadecimal digits and one separator, as in \"FD 00 01 02\"")
                           .arg(parse.badOffset + 1)
                           .arg(text));
        case HexStatus::TooLong:
            return bad(QStringLiteral("too many bytes for one frame's length field"));
        case HexStatus::Parsed:
            return parse.bytes;
        }
    }
    if (command.startsWith(u"tag ")) {
        const QString what = command.mid(4);
        if (what == u"reset")
            return resetTagFrame();
        if (what == u"voice") {
            std::optional<int> entry = number(o, 0, 0, kVoiceCount - 1);
            const QStringList names = voiceNames();
            for (int i = 0; !entry && i < names.size(); ++i) {
                if (names.at(i).compare(argument(o, 0), Qt::CaseInsensitive) == 0)
                    entry = i;
            }
            if (!entry)
                return bad(QStringLiteral("the voice is 0 to %1 or one of: %2; not \"%3\"")
                               .arg(kVoiceCount - 1)
                               .arg(names.join(QStringLiteral(", ")), argument(o, 0)));
            return voiceTagFrame(*entry);
        }
        const TagBar bar = what == u"volume" ? TagBar::Volume
            : what == u"rate"                ? TagBar::Rate
                                             : TagBar::Intonation;
        const int top = kTagBarMaximum - kTagBarMinimum;
        const std::optional<int> value = number(o, 0, 0, top);
        if (!value)
            return bad(QStringLiteral("the %1 is 0 to %2, not \"%3\"")
                           .arg(what)
                           .arg(top)
                           .arg(argument(o, 0)));
        return barTagFrame(bar, *value + kTagBarMinimum);   // the bar sends its value - 1
    }
    static const QList<std::pair<const char *, Command>> kControls = {{"stop", Command::Stop},
        {"pause", Command::Pause}, {"resume", Command::Resume}, {"status", Command::StatusQuery},
        {"standby", Command::Standby}, {"wakeup", Command::WakeUp},
        {"version", Command::VersionQuery}};
    for (const auto &[name, code] : kControls) {
        if (command == QLatin1String(name))
            return commandFrame(code);
    }
    return bad(QStringLiteral("%1 sends no frame of its own; frame takes say, stop, pause, "
                              "resume, status, standby, wakeup, version, cache store, cache "
                              "play, raw and tag")
                   .arg(command));
}

QString formatted(Format format, const NamedFrame &f, int storeEncoding)
{
    const DecodedFrame decoded = decodeFrame(f.bytes, storeEncoding);
    const QString comment = frameSummary(decoded);
    switch (format) {
    case Format::Hex:
        return hexLine(f.bytes) + u'\n';
    case Format::C:
        return cArray(f.name, f.bytes, comment);
    case Format::Python:
        return pythonBytes(f.name, f.bytes, comment);
    case Format::Json:
        return QString::fromUtf8(QJsonDocument(QJsonObject {{QStringLiteral("name"), f.name},
                                                   {QStringLiteral("bytes"), hexLine(f.bytes)},
                                                   {QStringLiteral("frame"), frameJson(decoded)}})
                                     .toJson(QJsonDocument::Compact))
            + u'\n';
    }
    return {};
}

}   // namespace

QString frameCommandHelp()
{
    return QStringLiteral(
        "Usage: orv4120 frame COMMAND [ARGUMENTS] [--format hex|c|python|json] [--name NAME]\n"
        "Prints the frames that orv4120 COMMAND would send, built by the same code and with\n"
        "the same options (--encoding, --input-encoding, --strict, --header, -f FILE, -, and\n"
        "--usb for the USB link's 512-byte limit), without opening a board. COMMAND is say,\n"
        "stop, pause, resume, status, standby, wakeup, version, cache store, cache play, raw\n"
        "or tag.\n"
        "  --format hex      FD 00 06 01 01 C4 E3 BA C3, a frame a line (the default)\n"
        "  --format c        a C array per frame, the decoded frame as a comment above it\n"
        "  --format python   NAME = bytes.fromhex(\"...\")  # the decoded frame\n"
        "  --format json     one object per frame: name, bytes, frame (decoded)\n"
        "  --name NAME       the arrays' name (default orv_COMMAND; prompt with -f): a C and\n"
        "                    Python identifier; a text in several frames gives NAME_1, NAME_2\n"
        "With -f FILE or - every line of the text is a prompt of its own: one frame (or more,\n"
        "for a long line) per line, named NAME_LINE (prompt_3 for line 3); empty lines give\n"
        "none.\n");
}

int runFrameCommand(const QList<QByteArray> &arguments)
{
    Format format = Format::Hex;
    bool formatGiven = false;
    QString name;
    QList<QByteArray> rest;
    bool boardGiven = false;
    bool endOfOptions = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &arg = arguments.at(i);
        if (!endOfOptions
            && (arg == "--format" || arg.startsWith("--format=") || arg == "--name"
                || arg.startsWith("--name="))) {
            const bool inlineValue = arg.contains('=');
            if (!inlineValue && i + 1 >= arguments.size())
                return failWith(
                    {ExitBadInput, QString::fromUtf8(arg) + QStringLiteral(" needs a value")});
            const QString value =
                QString::fromUtf8(inlineValue ? arg.mid(arg.indexOf('=') + 1) : arguments.at(++i));
            if (arg.startsWith("--name")) {
                if (!isSourceIdentifier(value))
                    return failWith({ExitBadInput,
                        QStringLiteral("--name takes a C and Python identifier (letters, digits "
                                       "and _, not a keyword), not \"%1\"")
                            .arg(value)});
                name = value;
                continue;
            }
            const QString v = value.toLower();
            formatGiven = true;
            if (v == u"hex")
                format = Format::Hex;
            else if (v == u"c")
                format = Format::C;
            else if (v == u"python")
                format = Format::Python;
            else if (v == u"json")
                format = Format::Json;
            else
                return failWith({ExitBadInput,
                    QStringLiteral("--format takes hex, c, python or json, not \"%1\"")
                        .arg(value)});
            continue;
        }
        if (arg == "--")
            endOfOptions = true;
        if (!endOfOptions
            && (arg == "--port" || arg.startsWith("--port=") || arg.startsWith("--usb")
                || arg == "--virtual"))
            boardGiven = true;
        if (!endOfOptions && (arg == "-h" || arg == "--help") && rest.isEmpty()) {
            print(stdout, frameCommandHelp());
            return ExitDone;
        }
        rest << arg;
    }
    if (rest.isEmpty() || rest.first().startsWith('-'))
        return failWith({ExitBadInput,
            QStringLiteral("usage: orv4120 frame COMMAND [ARGUMENTS] "
                           "[--format hex|c|python|json]")});
    // The command line's own reading, with a board that is never opened: serial unless --usb.
    if (!boardGiven)
        rest = QList<QByteArray> {"--port", "(none)"} + rest;
    const ParsedCommandLine parsed = parseCommandLine(rest);
    if (parsed.exitNow) {
        print(parsed.exitCode == ExitDone ? stdout : stderr, parsed.output);
        return parsed.exitCode;
    }
    const CliOptions &o = parsed.options;
    if (o.json && !formatGiven)
        format = Format::Json;
    if (o.command == u"soak" || o.command == u"ports")
        return failWith(
            {ExitBadInput, QStringLiteral("%1 sends no frame of its own").arg(o.command)});

    const BoardSpec::Kind kind = o.boards.first().kind;
    const bool usb = kind == BoardSpec::Kind::Usb || kind == BoardSpec::Kind::VirtualUsb;
    ListeningLink link(usb ? kUsbMaxTextBytes : kSerialMaxTextBytes);
    Session session;
    session.attachLink(&link, usb ? AnswerRule::UsbReports : AnswerRule::SerialCharacters);

    const QString base = !name.isEmpty() ? name
        : (!o.file.isEmpty() || o.fromStdin)
        ? QStringLiteral("prompt")
        : QStringLiteral("orv_") + QString(o.command).replace(u' ', u'_');
    QList<NamedFrame> frames;
    Failure failure;
    if (o.command == u"say" || o.command == u"cache store") {
        if (o.command == u"cache store" && !number(o, 0, 0, kCacheSegments - 1))
            return failWith({ExitBadInput,
                QStringLiteral("the cache segment is 0 to %1, not \"%2\"")
                    .arg(kCacheSegments - 1)
                    .arg(argument(o, 0))});
        const std::optional<QString> text = readText(o, &failure);
        if (!text)
            return failWith(failure);
        // A file or standard input is a table of prompts, a line each.
        const bool table = !o.file.isEmpty() || o.fromStdin;
        const QStringList lines = table ? text->split(u'\n') : QStringList {*text};
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            if (line.isEmpty())
                continue;
            if (!checkCarried(o, session, line, &failure))
                return failWith(failure);
            const std::optional<QList<QByteArray>> pieces = textFrames(o, session, line, &failure);
            if (!pieces)
                return failWith(failure);
            const QString lineName = table ? base + u'_' + QString::number(i + 1) : base;
            for (qsizetype p = 0; p < pieces->size(); ++p)
                frames << NamedFrame {
                    pieces->size() == 1 ? lineName : lineName + u'_' + QString::number(p + 1),
                    pieces->at(p)};
        }
        if (frames.isEmpty())
            return failWith({ExitBadInput, QStringLiteral("the text is empty: no frame")});
    } else {
        const std::optional<QByteArray> frame = commandFrameOf(o, &failure);
        if (!frame)
            return failWith(failure);
        frames << NamedFrame {base, *frame};
    }
    QString out;
    for (const NamedFrame &f : std::as_const(frames)) {
        if (format == Format::C && !out.isEmpty())
            out += u'\n';
        out += formatted(format, f, o.encoding);
    }
    print(stdout, out);
    return ExitDone;
}
