#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// What the chip makes of a frame: its command, parameter, text and control tags, and what is
// wrong with it. The inverse of the frame builders: a frame the program builds decodes to the
// parameters it was built with and to the text the chip receives (after the encoding's
// substitutions: the traditional form in BIG5, "?" and "？" where a character has no code).

// The language of the decoder's words: Chinese for the work log, the reports, the command line and
// the Chinese window; English for the English window.
enum class Wording { Chinese, English };

enum class ProblemSeverity {
    Error,   // the chip refuses the frame or reads something else than meant
    Warning,   // the chip takes the frame; part of it may not come out as meant
};

struct FrameProblem
{
    ProblemSeverity severity = ProblemSeverity::Error;
    int offset = -1;   // frame byte where it starts; -1 for the frame as a whole
    QString message;   // for the operator, in the wording asked for
};

// A control tag ("[v5]", "[m51]", "[p500]", "[d]", "[=xing2]") as a span of the decoded text.
struct TagSpan
{
    int start = 0;   // UTF-16 units
    int length = 0;
};

struct DecodedFrame
{
    int command = -1;   // byte 3; -1 when the frame ends before it
    int encoding = -1;   // synthesis parameter, cache-play low nibble, or the cache-store encoding
    int segment = -1;   // cache store: the start segment
    int repeatCount = -1;   // cache play: the high nibble
    int declaredLength = -1;   // the length field; -1 when the frame ends before it
    int actualLength = 0;   // bytes after the length field
    int textOffset = -1;   // frame offset of the text; -1 for commands without text
    int textBytes = 0;
    QString text;   // line breaks as CR LF, as on the wire
    QList<TagSpan> tags;
    QList<FrameProblem> problems;   // errors first

    bool hasErrors() const;
};

// Decodes any bytes as a frame. The cache-store frame does not name its encoding: its text is
// read in storeEncoding (the window's current choice; GBK when outside 0 to 4).
DecodedFrame decodeFrame(
    const QByteArray &frame, int storeEncoding = 1, Wording wording = Wording::Chinese);

// The window's button caption of a command code ("合成", "STANDBY"; "Synthesize" in English); empty
// for an unknown code.
QString commandName(int command, Wording wording = Wording::Chinese);

// The encoding list's item for an encoding index ("GBK", "Unicode小头"); empty outside 0 to 4.
QString encodingName(int encoding, Wording wording = Wording::Chinese);

// One line for the timing view: "合成 GBK 122 字节：欢迎观看语音合成系统的演示！…", followed by the
// first problem in brackets; in English "Synthesize GBK 122 bytes: 欢迎…".
QString frameSummary(const DecodedFrame &frame, Wording wording = Wording::Chinese);

// The decoded frame for the command line's JSON output; fields that the command does not have
// are left out.
QJsonObject frameJson(const DecodedFrame &frame);
