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
    if (m_open.contains(text))
        return;   // the operator has not yet dismissed the same message
    m_open << text;
    QMessageBox *box = makeBox(m_parent, text);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QDialog::finished, [this, text] { m_open.removeOne(text); });
    box->open();   // modal to the window, but the event loop keeps running
}

void MessageBoxes::showAndWait(const QString &text)
{
    // The window is closing: nothing else is left to run while the operator reads this.
    QMessageBox *box = makeBox(nullptr, text);
    box->exec();
}
