#include "soakreport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        return '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

QString decimal(qint64 micros, double unit, int decimals)
{
    return micros < 0 ? QString() : QString::number(double(micros) / unit, 'f', decimals);
}

}   // namespace

int createNewFile(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && error)
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return fd;
}

SoakReport::~SoakReport()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SoakReport::start(const QString &folder, const QDateTime &startedAt)
{
    const QString stem =
        QStringLiteral("soak-%1-%2")
            .arg(startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss")))
            .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
    const QDir dir(folder);
    m_csvPath = dir.filePath(stem + QStringLiteral(".csv"));
    m_summaryPath = dir.filePath(stem + QStringLiteral(".txt"));
    m_error.clear();
    m_summaryWritten = false;
    m_fd = createNewFile(m_csvPath, &m_error);
    if (m_fd < 0)
        return false;
    const QByteArray header = "time,link,frame,answers,latency_ms,speech_s,speech_end,problems\r\n";
    if (!writeAll(m_fd, header, m_csvPath)) {
        // An empty or cut file is no report: it goes (it is the one this call created).
        ::close(std::exchange(m_fd, -1));
        ::unlink(QFile::encodeName(m_csvPath).constData());
        return false;
    }
    m_wholeBytes = header.size();
    return true;
}

bool SoakReport::writeAll(int fd, const QByteArray &bytes, const QString &path)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("%1: %2").arg(
                    path, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)));
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

QByteArray SoakReport::csvLine(const TransactionRow &row)
{
    const QString time = QDateTime::fromMSecsSinceEpoch(row.wallMs)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QStringList fields {time, row.link, row.frame, row.answers,
        decimal(row.latencyUs, 1000.0, 3), decimal(row.speechUs, 1e6, 3), row.speechEnd,
        row.problems.join(QStringLiteral("; "))};
    QByteArrayList line;
    for (const QString &field : fields)
        line << csvField(field);
    return line.join(',') + "\r\n";
}

void SoakReport::addRow(const TransactionRow &row)
{
    if (m_fd < 0 || !m_error.isEmpty()) {
        ++m_rowsLost;
        return;
    }
    const QByteArray line = csvLine(row);
    if (writeAll(m_fd, line, m_csvPath)) {
        ++m_rowsWritten;
        m_wholeBytes += line.size();
        return;
    }
    ++m_rowsLost;
    // The part of the row that went out is taken back: the file ends with a whole row.
    if (::ftruncate(m_fd, m_wholeBytes) != 0)
        m_error += QStringLiteral("; the last row is cut: ")
            + QString::fromLocal8Bit(std::strerror(errno));
}

bool SoakReport::finish(const QString &summary)
{
    if (m_fd < 0)
        return false;
    bool ok = m_error.isEmpty();
    if (::close(std::exchange(m_fd, -1)) != 0 && ok) {
        m_error = m_csvPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ok = false;
    }
    QString text = summary;
    if (m_rowsLost > 0)
        text += QStringLiteral("报告中缺 %1 行：%2\n").arg(m_rowsLost).arg(m_error);
    QString error;
    const int fd = createNewFile(m_summaryPath, &error);
    if (fd < 0) {
        if (m_error.isEmpty())
            m_error = error;
        return false;
    }
    bool written = writeAll(fd, text.toUtf8(), m_summaryPath);
    if (::close(fd) != 0 && written) {
        if (m_error.isEmpty())
            m_error =
                m_summaryPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        written = false;
    }
    if (!written)
        ::unlink(QFile::encodeName(m_summaryPath).constData());   // no cut summary is left
    m_summaryWritten = written;
    return ok && written;
}
