#include "worklog.h"

#include "logfile.h"
#include "textform.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

WorkLog::WorkLog(QPlainTextEdit *box, LogJournal *journal)
    : m_box(box)
    , m_journal(journal)
{ }

void WorkLog::insertAtEnd(const QString &entry)
{
    QTextCursor end(m_box->document());
    end.movePosition(QTextCursor::End);
    end.insertText(fromCrLf(entry));
    if (m_journal)
        m_journal->append(entry);
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
    insertAtEnd(entry);
    QTextCursor caret(m_box->document());
    caret.setPosition(anchor);
    caret.setPosition(position, QTextCursor::KeepAnchor);
    m_box->setTextCursor(caret);
    m_box->verticalScrollBar()->setValue(scroll);
}

void WorkLog::clear()
{
    m_box->clear();
    if (m_journal)
        m_journal->clear();
}

QString WorkLog::text() const
{
    return toCrLf(m_box->toPlainText());
}
