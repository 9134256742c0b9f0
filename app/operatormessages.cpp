#include "operatormessages.h"

#include <QEvent>
#include <QMessageBox>
#include <QWindow>

// Opens the queue's first box once the window is exposed (mapped on its screen).
class MessageBoxes::WindowWatch : public QObject
{
public:
    explicit WindowWatch(MessageBoxes *boxes)
        : m_boxes(boxes)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The native window exists from the widget's first show; its exposure is what counts.
        if (event->type() == QEvent::Show && watched == m_boxes->m_window) {
            if (QWindow *handle = m_boxes->m_window->windowHandle())
                handle->installEventFilter(this);
        }
        if (event->type() == QEvent::Expose || event->type() == QEvent::Show) {
            // after the window has handled the event itself
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!m_boxes->m_box && !m_boxes->m_queue.isEmpty() && m_boxes->windowOnScreen())
                        m_boxes->showFirst();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    MessageBoxes *m_boxes;
};

static QMessageBox *makeBox(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

MessageBoxes::MessageBoxes(QWidget *window)
{
    setWindow(window);
}

MessageBoxes::~MessageBoxes()
{
    if (m_box)
        m_box->disconnect();   // a box that outlives the queue reports to nobody
}

void MessageBoxes::setWindow(QWidget *window)
{
    m_window = window;
    m_watch = std::make_unique<WindowWatch>(this);
    if (!window)
        return;
    window->installEventFilter(m_watch.get());
    if (QWindow *handle = window->windowHandle())
        handle->installEventFilter(m_watch.get());
    if (!m_box && !m_queue.isEmpty() && windowOnScreen())
        showFirst();
}

bool MessageBoxes::windowOnScreen() const
{
    if (!m_window)
        return false;   // none yet, or gone with the program's end
    const QWindow *handle = m_window->windowHandle();
    return m_window->isVisible() && handle && handle->isExposed();
}

void MessageBoxes::show(const QString &text)
{
    if (m_queue.contains(text))
        return;   // the operator has yet to read the same message
    m_queue << text;
    if (m_queue.size() == 1 && windowOnScreen())
        showFirst();
}

void MessageBoxes::showFirst()
{
    if (m_box || m_queue.isEmpty())
        return;
    QMessageBox *box = makeBox(m_window, m_queue.first());
    m_box = box;
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QDialog::finished, box, [this] {
        m_box = nullptr;
        m_queue.removeFirst();
        if (!m_queue.isEmpty() && windowOnScreen())
            showFirst();
    });
    box->open();   // modal to the window, but the event loop keeps running
    box->raise();
    box->activateWindow();
}

void MessageBoxes::showAndWait(const QString &text)
{
    // The window is closing: nothing else is left to run while the operator reads this.
    QMessageBox *box = makeBox(nullptr, text);
    box->exec();
}
