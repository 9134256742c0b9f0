#include "input.h"

#include "interrupts.h"
#include "output.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool userDefinedGbk(quint8 lead, quint8 trail)
{
    return (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1) || (lead >= 0xF8 && trail >= 0xA1)
        || (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0);
}

}   // namespace

InputRead readInput(const QString &path, qint64 limit)
{
    InputRead r;
    const QString name = path.isEmpty() ? QStringLiteral("standard input") : path;
    int fd = STDIN_FILENO;
    if (!path.isEmpty()) {
        // O_NONBLOCK: opening a FIFO does not wait for its writer here, but in poll() below.
        fd = ::open(
            QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            r.error = QStringLiteral("cannot read %1: %2").arg(name, systemError());
            return r;
        }
    }
    const int wake = Interrupts::descriptor();
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, wake >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            r.error = QStringLiteral("cannot read %1: %2").arg(name, systemError());
            break;
        }
        if (fds[1].revents & POLLIN) {
            r.interrupted = true;   // the byte stays for the event loop, which is not running
            break;
        }
        if (!fds[0].revents)
            continue;
        const qsizetype room = qsizetype(limit) + 1 - r.bytes.size();
        const qsizetype before = r.bytes.size();
        r.bytes.resize(before + qMin<qsizetype>(room, 1 << 16));
        const ssize_t got = ::read(fd, r.bytes.data() + before, size_t(r.bytes.size() - before));
        r.bytes.resize(before + qMax<ssize_t>(got, 0));
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got < 0) {
            r.error = QStringLiteral("cannot read %1: %2").arg(name, systemError());
            break;
        }
        if (r.bytes.size() > limit) {
            r.error = QStringLiteral("%1 is longer than %2 bytes (%3 MiB): nothing sent")
                          .arg(name)
                          .arg(limit)
                          .arg(limit >> 20);
            break;
        }
        if (got == 0)
            break;   // the end
    }
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (!r.error.isEmpty() || r.interrupted)
        r.bytes.clear();
    return r;
}

std::optional<qsizetype> firstNonGbkByte(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 lead = quint8(bytes.at(i));
        if (lead < 0x80)
            continue;
        if (lead == 0x80 || lead == 0xFF || i + 1 == size)
            return i;
        const quint8 trail = quint8(bytes.at(i + 1));
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF || userDefinedGbk(lead, trail))
            return i;
        ++i;
    }
    return std::nullopt;
}

std::optional<QString> checkedText(
    const QByteArray &bytes, const CliOptions &options, Output &output, int *exitCode)
{
    auto refuse = [&](const QString &message) -> std::optional<QString> {
        output.error(message);
        *exitCode = ExitBadInput;
        return std::nullopt;
    };
    if (options.inputGbk) {
        if (const std::optional<qsizetype> bad = firstNonGbkByte(bytes)) {
            const QByteArray shown = bytes.mid(*bad, 2).toHex(' ').toUpper();
            const QString what = QStringLiteral("the text is not valid GBK: byte %1 is %2")
                                     .arg(*bad + 1)
                                     .arg(QString::fromLatin1(shown));
            if (options.strict)
                return refuse(what + QStringLiteral(" (--strict); nothing sent"));
            output.warning(what + QStringLiteral("; sent as it stands"));
        }
    }
    const std::optional<QString> text = decodeInput(bytes, options.inputGbk);
    if (!text)
        return refuse(options.inputGbk
                ? QStringLiteral("the text is not valid GBK; nothing sent")
                : QStringLiteral("the text is not valid UTF-8 (for GBK text give "
                                 "--input-encoding gbk); nothing sent"));
    if (const qsizetype nul = text->indexOf(QChar(0)); nul >= 0) {
        const QString what = QStringLiteral("the text holds %1 NUL character(s), the first at "
                                            "character %2")
                                 .arg(text->count(QChar(0)))
                                 .arg(nul + 1);
        if (options.strict)
            return refuse(what + QStringLiteral(" (--strict); nothing sent"));
        output.warning(what + QStringLiteral("; sent inside the text"));
    }
    return text;
}
