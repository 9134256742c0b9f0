#include "worklog.h"

#include "logfile.h"
#include "textform.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

WorkLog::WorkLog(QPlainTextEdit *box, LogJournal *journal)
    : m_box(box)
    , m_journal(journal)
{
    m_editSettled.setSingleShot(true);
    m_editSettled.setInterval(kEditSettleMs);
    // Both connections end with the timer, that is with this log.
    QObject::connect(&m_editSettled, &QTimer::timeout, &m_editSettled, [this] {
        if (m_journal)
            m_journal->rewrite(text());
    });
    QObject::connect(box->document(), &QTextDocument::contentsChange, &m_editSettled,
        [this] { onContentsChange(); });
}

void WorkLog::onContentsChange()
{
    if (!m_writing && m_journal)
        m_editSettled.start();
}

void WorkLog::insertAtEnd(const QString &entry)
{
    m_writing = true;
    QTextCursor end(m_box->document());
    end.movePosition(QTextCursor::End);
    end.insertText(fromCrLf(entry));
    m_writing = false;
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
    m_writing = true;
    m_box->clear();
    m_writing = false;
    m_editSettled.stop();
    if (m_journal)
        m_journal->clear();
}

QString WorkLog::text() const
{
    return toCrLf(m_box->toPlainText());
}
