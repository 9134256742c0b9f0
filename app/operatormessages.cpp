#include "operatormessages.h"

#include <QMessageBox>

static QMessageBox *makeBox(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void MessageBoxes::show(const QString &text)
{
    if (m_queue.contains(text))
        return;   // the operator has yet to read the same message
    m_queue << text;
    if (m_queue.size() == 1)
        showFirst();
}

void MessageBoxes::showFirst()
{
    QMessageBox *box = makeBox(m_parent, m_queue.first());
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QDialog::finished, [this] {
        m_queue.removeFirst();
        if (!m_queue.isEmpty())
            showFirst();
    });
    box->open();   // modal to the window, but the event loop keeps running
}

void MessageBoxes::showAndWait(const QString &text)
{
    // The window is closing: nothing else is left to run while the operator reads this.
    QMessageBox *box = makeBox(nullptr, text);
    box->exec();
}
