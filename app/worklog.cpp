#include "worklog.h"

#include "codepage.h"
#include "logjournal.h"
#include "textform.h"

#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

WorkLog::WorkLog(QPlainTextEdit *box, LogJournal *journal, int boxLines, int boxCharacters)
    : m_box(box)
    , m_journal(journal)
    , m_boxLines(qMax(1, boxLines))
    , m_boxCharacters(qMax(1, boxCharacters))
    , m_lines(journal->size())
{
    const QString before = box->toPlainText();
    {
        const QScopedValueRollback writing(m_writing, true);
        box->clear();
    }
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
        [this](int position, int removed, int added) {
            if (m_writing)
                return;
            if (m_editedFrom < 0) {
                m_editedFrom = position;
                m_editedTo = position + added;
            } else {
                if (m_editedTo >= position + removed)
                    m_editedTo += added - removed;   // the change lies before the waiting end
                m_editedFrom = qMin(m_editedFrom, position);
                m_editedTo = qMax(m_editedTo, position + added);
            }
            m_editSettled.start();
        });
}

WorkLog::Trimmed WorkLog::insertAtEnd(const QString &entry)
{
    // The box starts a line only at "\n"; the record holds exactly what the box shows.
    QString shown = fromCrLf(entry);
    shown.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
    const QByteArray bytes = toGbk(toCrLf(shown));
    m_lines.appended(m_journal->size(), bytes);
    {
        const QScopedValueRollback writing(m_writing, true);
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
    const int characters = document->characterCount();
    if (excess <= 0 && characters <= m_boxCharacters)
        return {};
    // Whole lines leave, oldest first, until both bounds hold; the newest line always stays.
    Trimmed trimmed;
    int count = 0;
    QTextBlock block = document->firstBlock();
    while (block.next().isValid()
        && (count < excess || characters - block.position() > m_boxCharacters)) {
        trimmed.lines += qMax(1, block.lineCount());
        block = block.next();
        ++count;
    }
    if (count == 0)
        return {};
    trimmed.characters = block.position();
    // An edit reaches the record before its lines leave the box.
    if (m_editedFrom >= 0 && m_editedFrom < trimmed.characters)
        settleEdit();
    QTextCursor top(document);
    top.setPosition(trimmed.characters, QTextCursor::KeepAnchor);
    {
        const QScopedValueRollback writing(m_writing, true);
        top.removeSelectedText();
    }
    m_lines.dropFirst(size_t(count));
    if (m_editedFrom >= 0) {
        m_editedFrom -= trimmed.characters;
        m_editedTo -= trimmed.characters;
    }
    return trimmed;
}

void WorkLog::settleEdit()
{
    m_editSettled.stop();
    if (m_editedFrom < 0)
        return;
    QTextDocument *document = m_box->document();
    QTextBlock first = document->findBlock(m_editedFrom);
    if (!first.isValid())
        first = document->lastBlock();
    QTextBlock last = document->findBlock(m_editedTo);
    if (!last.isValid() || last.blockNumber() < first.blockNumber())
        last = document->lastBlock();
    m_editedFrom = m_editedTo = -1;
    // The lines after the edit are as they were: as many as before, with the same bytes.
    const size_t firstLine = size_t(first.blockNumber());
    size_t linesAfter = size_t(document->blockCount() - 1 - last.blockNumber());
    if (linesAfter >= m_lines.count() - firstLine) {
        Q_ASSERT(false);   // the box and its offsets disagree: the rest is written anew
        last = document->lastBlock();
        linesAfter = 0;
    }
    QStringList lines;
    for (QTextBlock line = first;; line = line.next()) {
        lines << line.text();
        if (line == last)
            break;
    }
    const RecordLines::Edit edit = m_lines.replace(firstLine, linesAfter, lines, m_journal->size());
    m_journal->replace(edit.from, edit.to, edit.bytes);
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
        const QScopedValueRollback writing(m_writing, true);
        m_box->clear();
    }
    m_editSettled.stop();
    m_editedFrom = m_editedTo = -1;
    m_journal->clear();
    m_lines = RecordLines();
}

QString WorkLog::text() const
{
    return fromGbk(m_journal->read(0, m_lines.start(0))) + toCrLf(m_box->toPlainText());
}

LogFile::ExportResult WorkLog::exportTo(const QString &dir)
{
    settleEdit();
    return m_journal->exportTo(dir);
}
