#include "options.h"

#include "codepage.h"
#include "version.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <cmath>

namespace {

// Which options a command takes, as bits.
enum OptionGroup : quint32 {
    BoardGroup = 1,   // --port --usb --virtual --baud --virtual-* --timeout --json --quiet
    NoWaitGroup = 2,
    EncodingGroup = 4,
    TextGroup = 8,   // --input-encoding --strict
    FileGroup = 16,   // -f
    HeaderGroup = 32,
    SoakGroup = 64,   // --duration --texts --report-dir --wait-scale
    SpeechGroup = 128,   // --speech-timeout
    JsonGroup = 256,
    StopGroup = 512,   // --no-stop
};

struct CommandInfo
{
    const char *name;
    int minArguments;
    int maxArguments;   // -1: any number
    quint32 options;
    const char *usage;
    const char *help;
};

constexpr quint32 kControl = BoardGroup | JsonGroup | NoWaitGroup;

const CommandInfo kCommands[] = {
    {"say", 0, -1, kControl | EncodingGroup | TextGroup | FileGroup | SpeechGroup | StopGroup,
        "say TEXT... | say -f FILE | say -",
        "Speaks a text: the arguments joined by blanks, the file FILE, or standard input (-).\n"
        "Line breaks go out as CR LF; one line break at the end of a file or of standard input\n"
        "is left out. A text longer than one frame of the link carries is cut as the window\n"
        "cuts it; each piece goes once the chip has taken the one before and reported idle.\n"
        "Waits for the chip's 0x41 and for the end of speech (0x4F). A file or standard input\n"
        "holds 16 MiB at most. Interrupted (Ctrl-C), it stops the speech (FD 00 01 02) unless\n"
        "--no-stop is given, and exits 1."},
    {"stop", 0, 0, kControl, "stop", "Stops the speech (FD 00 01 02)."},
    {"pause", 0, 0, kControl, "pause", "Pauses the speech (FD 00 01 03)."},
    {"resume", 0, 0, kControl, "resume", "Resumes a paused speech (FD 00 01 04)."},
    {"status", 0, 0, kControl, "status",
        "Asks whether the chip speaks (FD 00 01 21) and prints \"idle\" or \"playing\"; the exit\n"
        "code is 0 either way."},
    {"standby", 0, 0, kControl, "standby", "Sends the chip to standby (FD 00 01 22)."},
    {"wakeup", 0, 0, kControl, "wakeup", "Wakes the chip up (FD 00 01 FF)."},
    {"version", 0, 0, kControl, "version",
        "Asks for the chip's software version (FD 00 01 58) and prints it. Serial only: the USB\n"
        "side does not read the version answer (exit code 6, nothing sent)."},
    {"cache store", 2, -1, kControl | EncodingGroup | TextGroup, "cache store SEGMENT TEXT...",
        "Stores a text in the chip's cache from SEGMENT (0-15). The text must fit one frame."},
    {"cache play", 1, 2, kControl | EncodingGroup | SpeechGroup | StopGroup, "cache play COUNT",
        "Plays the chip's cache COUNT times (1-15). The frame carries the count and the\n"
        "encoding (--encoding: the one the text was stored in), no segment: the chip plays its\n"
        "cache from the start. Waits for the end of speech like say, and stops it like say\n"
        "when interrupted."},
    {"raw", 1, -1, kControl | HeaderGroup | EncodingGroup | SpeechGroup | StopGroup, "raw HEX...",
        "Sends bytes typed as in the window's hexadecimal editor: two hexadecimal digits and one\n"
        "separator each (\"FD 00 01 02\"); the arguments are joined by blanks. --header puts the\n"
        "synthesis header (FD, length, 01, --encoding) in front, as \"添加命令头播放(自动)\" "
        "does."},
    {"tag volume", 1, 1, kControl, "tag volume N", "Sends [vN], N 0-10, as the volume bar does."},
    {"tag rate", 1, 1, kControl, "tag rate N", "Sends [sN], N 0-10, as the rate bar does."},
    {"tag intonation", 1, 1, kControl, "tag intonation N",
        "Sends [tN], N 0-10, as the intonation bar does."},
    {"tag voice", 1, 1, kControl, "tag voice N|NAME",
        "Sends the voice tag of entry N (0-5) or of its name in the voice list."},
    {"tag reset", 0, 0, kControl, "tag reset", "Sends [d]: every setting back to its default."},
    {"soak", 0, 0, BoardGroup | JsonGroup | EncodingGroup | TextGroup | SoakGroup | SpeechGroup,
        "soak --duration D [--texts FILE] [--report-dir DIR]",
        "Runs a soak test for D (90s, 30m, 8h, 2d; a bare number is seconds) and writes a soak\n"
        "report per board into --report-dir (default: the current folder):\n"
        "soak-<date>-<time>-<random>.csv, one row per frame, and a .txt summary beside it.\n"
        "Without --texts it plays the internal test script with its waits (--wait-scale F\n"
        "multiplies them, 0.001-1); with --texts FILE it speaks the file's lines one after the\n"
        "other, each once the one before has ended. Several --port / --usb boards run at once;\n"
        "a board that fails does not stop the others; the run ends when no board is left.\n"
        "The texts file holds 16 MiB at most. Ctrl-C ends the sending, waits for the last\n"
        "answers and completes the reports (a second Ctrl-C: at once); the run exits 1 then."},
    {"ports", 0, 0, JsonGroup, "ports",
        "Lists the serial devices with the COMn each stands for, and the board's USB link, and\n"
        "says whether you may open them (and what to do if not)."},
};

const char *const kProgramHelp =
    "Usage: orv4120 COMMAND [ARGUMENTS] [OPTIONS]\n"
    "Drives the ORV4120 text-to-speech chip from scripts, over a serial port or the board's\n"
    "USB link, with the frames, limits and answer labels of orv4120-demo.\n"
    "\n"
    "Commands:\n"
    "  say TEXT | say -f FILE | say -   speak a text\n"
    "  stop, pause, resume              control the speech\n"
    "  status                           print idle or playing\n"
    "  standby, wakeup                  standby and wake-up\n"
    "  version                          the chip's software version (serial only)\n"
    "  cache store SEGMENT TEXT         store text in the chip's cache\n"
    "  cache play COUNT                 play the cache COUNT times\n"
    "  raw HEX                          send bytes typed as in the hexadecimal editor\n"
    "  tag volume|rate|intonation N     a control tag, N 0-10\n"
    "  tag voice N|NAME, tag reset      the voice tag, [d]\n"
    "  soak --duration D                a soak run with a report per board\n"
    "  ports                            serial devices and the USB board, and access to them\n"
    "  frame COMMAND [ARGUMENTS]        the frames COMMAND would send, as hex, C, Python or JSON\n"
    "  decode [FILE|-]                  frames and answers in a dump, a capture or LOG.txt\n"
    "  monitor --frames PORT            listens to the line between a microcontroller and the "
    "chip\n"
    "  help COMMAND                     help on one command (or: orv4120 COMMAND --help)\n"
    "\n"
    "Board (exactly one; several --port / --usb for soak):\n"
    "  --port PATH|COMn            a serial device, or COM1-COM20 numbered as in the window\n"
    "  --baud N                    4800, 9600 (default), 57600 or 115200\n"
    "  --usb [PATH]                the board's USB link: the first board, or the hidraw device\n"
    "                              PATH (--usb PATH when PATH starts with /, or --usb=PATH)\n"
    "  --virtual                   the built-in virtual board on a pseudo-terminal; with --usb\n"
    "                              its USB side\n"
    "  --virtual-accept-ms MS      the virtual board answers MS ms after a frame (default 4)\n"
    "  --virtual-speech-scale F    its playing time per second of speech (0-100, default 1)\n"
    "  --virtual-usb-acks full|all|ready\n"
    "                              which USB reports its board answers with 0x5E: 0xFC ones\n"
    "                              only, all at once, or the closing one once the chip is\n"
    "                              ready (default ready)\n"
    "\n"
    "Options:\n"
    "  --encoding E                gb2312, gbk (default), big5, utf16le or utf16be\n"
    "  --input-encoding E          text arguments and files are utf8 (default) or gbk\n"
    "  --strict                    refuse a text the encoding cannot carry, bytes that are not\n"
    "                              GBK (--input-encoding gbk) and NUL (else: a warning)\n"
    "  --timeout S                 longest wait for each answer, seconds (default 2)\n"
    "  --speech-timeout S          longest wait for the end of speech (default 3600)\n"
    "  --no-wait                   exit once the frame is written\n"
    "  --no-stop                   an interrupted say, cache play or raw leaves the chip\n"
    "                              speaking (else it sends stop, FD 00 01 02)\n"
    "  --json                      one JSON object per line and event on standard output\n"
    "  -q, --quiet                 no work-log lines, only results and errors\n"
    "  -h, --help                  this help\n"
    "  --version                   the program's version\n"
    "\n"
    "Each option is given once; only --port and --usb may be repeated (soak).\n"
    "\n"
    "Exit codes: 0 done; 1 another failure (a code table, a report file that cannot be written\n"
    "whole, an interruption by SIGINT, SIGTERM or SIGHUP: every command, soak too); 2 bad\n"
    "input, nothing sent; 3 port or USB board not available (missing, in use, no permission)\n"
    "or lost (soak: every board); 4 no answer in time; 5 the chip answered 0x45; 6 the link\n"
    "cannot carry the command, nothing sent. With --json every exit code comes with a result\n"
    "event.\n";

struct OptionInfo
{
    const char *name;
    bool takesValue;
    OptionGroup group;
};

const OptionInfo kOptions[] = {
    {"--port", true, BoardGroup},
    {"--baud", true, BoardGroup},
    {"--usb", false, BoardGroup},
    {"--virtual", false, BoardGroup},
    {"--virtual-accept-ms", true, BoardGroup},
    {"--virtual-speech-scale", true, BoardGroup},
    {"--virtual-usb-acks", true, BoardGroup},
    {"--timeout", true, BoardGroup},
    {"--json", false, JsonGroup},
    {"--quiet", false, BoardGroup},
    {"--no-wait", false, NoWaitGroup},
    {"--no-stop", false, StopGroup},
    {"--encoding", true, EncodingGroup},
    {"--input-encoding", true, TextGroup},
    {"--strict", false, TextGroup},
    {"--file", true, FileGroup},
    {"--header", false, HeaderGroup},
    {"--speech-timeout", true, SpeechGroup},
    {"--duration", true, SoakGroup},
    {"--texts", true, SoakGroup},
    {"--report-dir", true, SoakGroup},
    {"--wait-scale", true, SoakGroup},
};

const OptionInfo *findOption(const QString &name)
{
    for (const OptionInfo &option : kOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &command : kCommands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString commandHelp(const CommandInfo &c)
{
    QString text = QStringLiteral("Usage: orv4120 %1 [OPTIONS]\n%2\n")
                       .arg(QLatin1String(c.usage), QLatin1String(c.help));
    QStringList options;
    if (c.options & BoardGroup)
        options << QStringLiteral("--port PATH|COMn, --baud N, --usb [PATH], --virtual, "
                                  "--virtual-accept-ms MS, --virtual-speech-scale F, "
                                  "--virtual-usb-acks full|all|ready")
                << QStringLiteral("--timeout S, -q/--quiet");
    if (c.options & NoWaitGroup)
        options << QStringLiteral("--no-wait");
    if (c.options & StopGroup)
        options << QStringLiteral("--no-stop");
    if (c.options & EncodingGroup)
        options << QStringLiteral("--encoding gb2312|gbk|big5|utf16le|utf16be (default gbk)");
    if (c.options & TextGroup)
        options << QStringLiteral("--input-encoding utf8|gbk, --strict");
    if (c.options & FileGroup)
        options << QStringLiteral("-f FILE");
    if (c.options & HeaderGroup)
        options << QStringLiteral("--header");
    if (c.options & SpeechGroup)
        options << QStringLiteral("--speech-timeout S");
    if (c.options & SoakGroup)
        options << QStringLiteral("--duration D, --texts FILE, --report-dir DIR, --wait-scale F");
    if (c.options & JsonGroup)
        options << QStringLiteral("--json");
    text += QStringLiteral("Options: ") + options.join(QStringLiteral("; ")) + u'\n';
    text += QStringLiteral("See orv4120 --help for the board options and the exit codes.\n");
    return text;
}

std::optional<double> positiveNumber(const QString &text, double max)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value) || value <= 0.0 || value > max)
        return std::nullopt;
    return value;
}

// "90", "90s", "30m", "8h", "2d", "1.5h": seconds.
std::optional<double> durationSeconds(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d+(?:\\.\\d+)?)([smhd]?)$"));
    const QRegularExpressionMatch m = shape.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const double unit = m.captured(2) == u"m" ? 60.0
        : m.captured(2) == u"h"               ? 3600.0
        : m.captured(2) == u"d"               ? 86400.0
                                              : 1.0;
    const double seconds = QLocale::c().toDouble(m.captured(1)) * unit;
    if (seconds <= 0.0 || seconds > 366.0 * 86400.0)
        return std::nullopt;
    return seconds;
}

std::optional<int> encodingIndex(const QString &name)
{
    static const char *const kNames[] = {"gb2312", "gbk", "big5", "utf16le", "utf16be"};
    for (int i = 0; i < 5; ++i) {
        if (name.compare(QLatin1String(kNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return std::nullopt;
}

ParsedCommandLine fail(const QString &message)
{
    ParsedCommandLine r;
    r.exitNow = true;
    r.exitCode = ExitBadInput;
    r.output = QStringLiteral("orv4120: ") + message + u'\n';
    return r;
}

}   // namespace

std::optional<QString> decodeInput(const QByteArray &bytes, bool gbk)
{
    if (gbk) {
        const QString text = fromGbk(bytes);
        if (text.contains(QChar::ReplacementCharacter))
            return std::nullopt;   // GBK has no code for U+FFFD: the bytes were not GBK
        return text;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

ParsedCommandLine parseCommandLine(const QList<QByteArray> &arguments)
{
    ParsedCommandLine r;
    CliOptions &o = r.options;
    QList<QByteArray> words;
    QSet<QString> used;   // options given, for the check against the command
    QStringList ports;
    QStringList usbPaths;
    bool bareUsb = false;
    bool virtualBoard = false;
    bool help = false;
    bool endOfOptions = false;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &arg = arguments.at(i);
        if (endOfOptions || arg == "-" || !arg.startsWith('-')) {
            words << arg;
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        QString name = QString::fromUtf8(arg);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = name.indexOf(u'='); eq > 0 && name.startsWith(u"--")) {
            inlineValue = name.mid(eq + 1);
            name.truncate(eq);
        }
        if (name == u"-h" || name == u"--help") {
            help = true;
            continue;
        }
        if (name == u"--version") {
            r.exitNow = true;
            r.output = QStringLiteral("orv4120 %1\n").arg(QLatin1String(kVersion));
            return r;
        }
        if (name == u"-q")
            name = QStringLiteral("--quiet");
        if (name == u"-f")
            name = QStringLiteral("--file");
        const OptionInfo *option = findOption(name);
        if (!option)
            return fail(QStringLiteral("unknown option %1; see orv4120 --help").arg(name));
        // Which of two values was meant is not for the program to guess.
        if (used.contains(name) && name != u"--port" && name != u"--usb")
            return fail(QStringLiteral("%1 is given twice; give it once").arg(name));
        used.insert(name);
        QString value;
        if (option->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = QString::fromUtf8(arguments.at(++i));
            } else {
                return fail(QStringLiteral("%1 needs a value").arg(name));
            }
        } else if (inlineValue && name != u"--usb") {
            return fail(QStringLiteral("%1 takes no value").arg(name));
        }

        if (name == u"--port") {
            ports << value;
        } else if (name == u"--baud") {
            const int baud = value.toInt();
            if (baud != 4800 && baud != 9600 && baud != 57600 && baud != 115200)
                return fail(QStringLiteral("--baud takes 4800, 9600, 57600 or 115200, not \"%1\"")
                                .arg(value));
            o.baud = baud;
        } else if (name == u"--usb") {
            if (inlineValue)
                usbPaths << *inlineValue;
            else if (i + 1 < arguments.size() && arguments.at(i + 1).startsWith('/'))
                usbPaths << QString::fromUtf8(arguments.at(++i));
            else
                bareUsb = true;
        } else if (name == u"--virtual") {
            virtualBoard = true;
        } else if (name == u"--virtual-accept-ms" || name == u"--virtual-speech-scale"
            || name == u"--virtual-usb-acks") {
            o.virtualOptions.append({name, value});   // read by the virtual board itself
        } else if (name == u"--timeout" || name == u"--speech-timeout") {
            const std::optional<double> s = positiveNumber(value, 7 * 86400.0);
            if (!s)
                return fail(
                    QStringLiteral("%1 takes seconds above 0, not \"%2\"").arg(name, value));
            (name == u"--timeout" ? o.timeoutS : o.speechTimeoutS) = *s;
        } else if (name == u"--json") {
            o.json = true;
        } else if (name == u"--quiet") {
            o.quiet = true;
        } else if (name == u"--no-wait") {
            o.noWait = true;
        } else if (name == u"--no-stop") {
            o.noStop = true;
        } else if (name == u"--encoding") {
            const std::optional<int> e = encodingIndex(value);
            if (!e)
                return fail(QStringLiteral("--encoding takes gb2312, gbk, big5, utf16le or "
                                           "utf16be, not \"%1\"")
                                .arg(value));
            o.encoding = *e;
        } else if (name == u"--input-encoding") {
            const QString v = value.toLower();
            if (v != u"utf8" && v != u"utf-8" && v != u"gbk")
                return fail(
                    QStringLiteral("--input-encoding takes utf8 or gbk, not \"%1\"").arg(value));
            o.inputGbk = v == u"gbk";
        } else if (name == u"--strict") {
            o.strict = true;
        } else if (name == u"--file") {
            o.file = value;
        } else if (name == u"--header") {
            o.header = true;
        } else if (name == u"--duration") {
            const std::optional<double> s = durationSeconds(value);
            if (!s)
                return fail(QStringLiteral("--duration takes a time such as 90s, 30m, 8h or 2d "
                                           "(at most 366d), not \"%1\"")
                                .arg(value));
            o.durationS = *s;
        } else if (name == u"--texts") {
            o.textsFile = value;
        } else if (name == u"--report-dir") {
            o.reportDir = value;
        } else if (name == u"--wait-scale") {
            const std::optional<double> s = positiveNumber(value, 1.0);
            if (!s || *s < 0.001)
                return fail(QStringLiteral("--wait-scale takes 0.001 to 1, not \"%1\"").arg(value));
            o.waitScale = *s;
        }
    }

    // The command: one word, two for cache and tag; "help COMMAND" asks for its help.
    if (!words.isEmpty() && words.first() == "help") {
        words.removeFirst();
        help = true;
    }
    QString commandName;
    qsizetype taken = 0;
    if (!words.isEmpty()) {
        commandName = QString::fromUtf8(words.first());
        taken = 1;
        if ((commandName == u"cache" || commandName == u"tag") && words.size() > 1) {
            commandName += u' ' + QString::fromUtf8(words.at(1));
            taken = 2;
        }
    }
    const CommandInfo *command = commandName.isEmpty() ? nullptr : findCommand(commandName);
    if (help) {
        r.exitNow = true;
        if (!commandName.isEmpty() && !command)
            return fail(
                QStringLiteral("unknown command \"%1\"; see orv4120 --help").arg(commandName));
        r.output = command ? commandHelp(*command) : QString::fromUtf8(kProgramHelp);
        return r;
    }
    if (!command) {
        if (commandName.isEmpty())
            return fail(QStringLiteral("no command given; see orv4120 --help"));
        if (commandName == u"cache" || commandName == u"tag")
            return fail(QStringLiteral("%1 needs one of: %2; see orv4120 --help")
                            .arg(commandName,
                                commandName == u"cache"
                                    ? QStringLiteral("store, play")
                                    : QStringLiteral("volume, rate, intonation, voice, reset")));
        return fail(QStringLiteral("unknown command \"%1\"; see orv4120 --help").arg(commandName));
    }
    o.command = commandName;
    o.arguments = words.mid(taken);

    for (const QString &name : std::as_const(used)) {
        if (!(command->options & findOption(name)->group))
            return fail(QStringLiteral("%1 does not apply to %2").arg(name, commandName));
    }
    const int count = int(o.arguments.size());
    if (o.command == u"say") {
        const bool stdinMarker = count == 1 && o.arguments.first() == "-";
        o.fromStdin = stdinMarker;
        const int sources = (count > 0 && !stdinMarker ? 1 : 0) + (stdinMarker ? 1 : 0)
            + (o.file.isEmpty() ? 0 : 1);
        if (sources != 1)
            return fail(QStringLiteral("say takes a text, -f FILE or - (standard input): one of "
                                       "them"));
        if (stdinMarker)
            o.arguments.clear();
    } else if (count < command->minArguments
        || (command->maxArguments >= 0 && count > command->maxArguments)) {
        return fail(QStringLiteral("usage: orv4120 %1").arg(QLatin1String(command->usage)));
    }
    if (o.command == u"soak" && o.durationS <= 0.0)
        return fail(QStringLiteral("soak needs --duration"));

    for (const QString &port : std::as_const(ports))
        o.boards << BoardSpec {BoardSpec::Kind::Serial, port};
    for (const QString &path : std::as_const(usbPaths))
        o.boards << BoardSpec {BoardSpec::Kind::Usb, path};
    if (virtualBoard)
        o.boards << BoardSpec {
            bareUsb ? BoardSpec::Kind::VirtualUsb : BoardSpec::Kind::VirtualSerial, {}};
    else if (bareUsb)
        o.boards << BoardSpec {BoardSpec::Kind::Usb, {}};
    if (o.command != u"ports") {
        if (o.boards.isEmpty())
            return fail(QStringLiteral("name the board: --port PATH|COMn, --usb [PATH] or "
                                       "--virtual"));
        if (o.boards.size() > 1 && o.command != u"soak")
            return fail(QStringLiteral("%1 talks to one board; several boards are for soak")
                            .arg(o.command));
    }
    if (!virtualBoard && !o.virtualOptions.isEmpty())
        return fail(QStringLiteral("%1 is for the virtual board: give --virtual too")
                        .arg(o.virtualOptions.first().first));
    return r;
}
