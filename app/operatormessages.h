#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The one way the window speaks to the operator: an OK-only message.
class OperatorMessages
{
public:
    virtual ~OperatorMessages() = default;
    // Shows the text and returns at once; the window stays responsive.
    virtual void show(const QString &text) = 0;
    // Shows the text and returns once the operator has read it; only used while the window closes.
    virtual void showAndWait(const QString &text) { show(text); }
};

// Message boxes with an OK button, no icon, no title of their own, one at a time: the next one
// opens when the operator has closed the one before, in the order they were raised. A message
// identical to one on screen or waiting is not queued again, so a fault that repeats (a board
// that is gone, while the internal test sends frame after frame) does not pile up boxes.
class MessageBoxes : public OperatorMessages
{
public:
    explicit MessageBoxes(QWidget *parent)
        : m_parent(parent)
    { }
    void show(const QString &text) override;
    void showAndWait(const QString &text) override;
    // The message on screen first, then those waiting.
    QStringList open() const { return m_queue; }

private:
    void showFirst();

    QWidget *m_parent;
    QStringList m_queue;
};

// Keeps every message instead of showing it (tests, headless runs).
class RecordedMessages : public OperatorMessages
{
public:
    void show(const QString &text) override { shown << text; }
    QStringList shown;
};
