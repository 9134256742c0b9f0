#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QMessageBox;
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
//
// Each box belongs to the window: transient for it (the desktop keeps it above the window),
// modal to it, and opened only once the window is on screen. Messages raised before that (the
// start-up's port message) wait, so that no box hides behind the window and holds up the queue.
class MessageBoxes : public OperatorMessages
{
public:
    explicit MessageBoxes(QWidget *window = nullptr);
    ~MessageBoxes() override;
    MessageBoxes(const MessageBoxes &) = delete;
    MessageBoxes &operator=(const MessageBoxes &) = delete;

    // The window the boxes belong to; the queue opens its first box once the window is shown,
    // and holds every box while there is no window.
    void setWindow(QWidget *window);
    void show(const QString &text) override;
    void showAndWait(const QString &text) override;
    // The message on screen first, then those waiting.
    QStringList open() const { return m_queue; }

private:
    class WindowWatch;
    bool windowOnScreen() const;
    void showFirst();

    QPointer<QWidget> m_window;
    std::unique_ptr<WindowWatch> m_watch;
    QStringList m_queue;
    QPointer<QMessageBox> m_box;   // the box on screen
};

// Keeps every message instead of showing it (tests, headless runs).
class RecordedMessages : public OperatorMessages
{
public:
    void show(const QString &text) override { shown << text; }
    QStringList shown;
};
