#include "worklog.h"

#include "codepage.h"
#include "textform.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>

namespace {

// Sets the flag for the lifetime of the guard, and back to what it was after.
class Writing
{
public:
    explicit Writing(bool &flag)
        : m_flag(flag)
        , m_was(std::exchange(flag, true))
    { }
    ~Writing() { m_flag = m_was; }

private:
    bool &m_flag;
    bool m_was;
};

}   // namespace

WorkLog::WorkLog(QPlainTextEdit *box, LogJournal *journal, int boxLines)
    : m_box(box)
    , m_journal(journal)
    , m_boxLines(qMax(1, boxLines))
{
    const QString before = box->toPlainText();
    {
        Writing writing(m_writing);
        box->clear();
    }
    m_lineStarts.push_back(journal->size());
    if (!before.isEmpty())
        append(toCrLf(before));

    m_editSettled.setSingleShot(true);
    m_editSettled.setInterval(kEditSettleMs);
    // Both connections end with the timer, that is with this log.
    QObject::connect(&m_editSettled, &QTimer::timeout, &m_editSettled, [this] {
        settleEdit();
        trimTop();   // a paste may have brought more lines than the box keeps
    });
    QObject::connect(box->document(), &QTextDocument::contentsChange, &m_editSettled,
        [this](int position, int, int) {
            if (m_writing)
                return;
            m_editedFrom = m_editedFrom < 0 ? position : qMin(m_editedFrom, position);
            m_editSettled.start();
        });
}

WorkLog::Trimmed WorkLog::insertAtEnd(const QString &entry)
{
    // The box starts a line only at "\n"; the record holds exactly what the box shows.
    QString shown = fromCrLf(entry);
    shown.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
    const QByteArray bytes = toGbk(toCrLf(shown));
    const qint64 at = m_journal->size();
    // No GBK character has a byte 0x0A: each one ends a line.
    for (qsizetype i = bytes.indexOf('\n'); i >= 0; i = bytes.indexOf('\n', i + 1))
        m_lineStarts.push_back(at + i + 1);
    {
        Writing writing(m_writing);
        QTextCursor end(m_box->document());
        end.movePosition(QTextCursor::End);
        end.insertText(shown);
    }
    m_journal->append(bytes);
    return trimTop();
}

WorkLog::Trimmed WorkLog::trimTop()
{
    QTextDocument *document = m_box->document();
    const int excess = document->blockCount() - m_boxLines;
    if (excess <= 0)
        return {};
    // An edit reaches the record before its lines leave the box.
    if (m_editedFrom >= 0 && document->findBlock(m_editedFrom).blockNumber() < excess)
        settleEdit();
    Trimmed trimmed;
    QTextBlock block = document->firstBlock();
    for (int i = 0; i < excess; ++i, block = block.next())
        trimmed.lines += qMax(1, block.lineCount());
    trimmed.characters = block.position();
    QTextCursor top(document);
    top.setPosition(trimmed.characters, QTextCursor::KeepAnchor);
    {
        Writing writing(m_writing);
        top.removeSelectedText();
    }
    m_lineStarts.erase(m_lineStarts.begin(), m_lineStarts.begin() + excess);
    if (m_editedFrom >= 0)
        m_editedFrom -= trimmed.characters;
    return trimmed;
}

void WorkLog::settleEdit()
{
    m_editSettled.stop();
    if (m_editedFrom < 0)
        return;
    QTextBlock block = m_box->document()->findBlock(m_editedFrom);
    if (!block.isValid())
        block = m_box->document()->lastBlock();
    m_editedFrom = -1;
    // Lines before the edit are as they were, and so are their offsets.
    const qint64 from = m_lineStarts[size_t(block.blockNumber())];
    m_lineStarts.resize(size_t(block.blockNumber()) + 1);
    QByteArray bytes;
    for (QTextBlock line = block; line.isValid(); line = line.next()) {
        if (line != block) {
            bytes += "\r\n";
            m_lineStarts.push_back(from + bytes.size());
        }
        bytes += toGbk(toCrLf(line.text()));   // a line break typed inside a line too
    }
    m_journal->rewriteFrom(from, bytes);
}

void WorkLog::append(const QString &entry)
{
    insertAtEnd(entry);
    QTextCursor caret = m_box->textCursor();
    caret.movePosition(QTextCursor::End);
    m_box->setTextCursor(caret);
    m_box->ensureCursorVisible();
}

void WorkLog::appendKeepingCaret(const QString &entry)
{
    const QTextCursor before = m_box->textCursor();
    const int anchor = before.anchor();
    const int position = before.position();
    const int scroll = m_box->verticalScrollBar()->value();
    const Trimmed trimmed = insertAtEnd(entry);
    QTextCursor caret(m_box->document());
    caret.setPosition(qMax(0, anchor - trimmed.characters));
    caret.setPosition(qMax(0, position - trimmed.characters), QTextCursor::KeepAnchor);
    m_box->setTextCursor(caret);
    m_box->verticalScrollBar()->setValue(qMax(0, scroll - trimmed.lines));
}

void WorkLog::clear()
{
    {
        Writing writing(m_writing);
        m_box->clear();
    }
    m_editSettled.stop();
    m_editedFrom = -1;
    m_journal->clear();
    m_lineStarts = {0};
}

QString WorkLog::text() const
{
    return fromGbk(m_journal->read(0, m_lineStarts.front())) + toCrLf(m_box->toPlainText());
}

LogFile::ExportResult WorkLog::exportTo(const QString &dir)
{
    settleEdit();
    return LogFile::appendExport(
        dir, [this](int fd, QString *reason) { return m_journal->writeTo(fd, reason); });
}
