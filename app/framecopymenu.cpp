#include "framecopymenu.h"

#include "framecode.h"
#include "framedecoder.h"
#include "hexeditor.h"
#include "textform.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPlainTextEdit>

void addFrameCopyEntries(QPlainTextEdit *hexBox)
{
    hexBox->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        hexBox, &QWidget::customContextMenuRequested, hexBox, [hexBox](const QPoint &at) {
            QMenu *menu = hexBox->createStandardContextMenu(at);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            const HexParse parse = parseHexText(toCrLf(hexBox->toPlainText()));
            const bool parsed = parse.status == HexStatus::Parsed;
            const QString comment = parsed ? frameSummary(decodeFrame(parse.bytes)) : QString();
            menu->addSeparator();
            QAction *c =
                menu->addAction(QCoreApplication::translate("FrameCopyMenu", "复制为 C 数组"));
            c->setObjectName(QStringLiteral("copyAsCArray"));
            QAction *python = menu->addAction(
                QCoreApplication::translate("FrameCopyMenu", "复制为 Python bytes"));
            python->setObjectName(QStringLiteral("copyAsPythonBytes"));
            c->setEnabled(parsed);
            python->setEnabled(parsed);
            QObject::connect(c, &QAction::triggered, hexBox, [parse, comment] {
                QGuiApplication::clipboard()->setText(
                    cArray(QStringLiteral("frame"), parse.bytes, comment));
            });
            QObject::connect(python, &QAction::triggered, hexBox, [parse, comment] {
                QGuiApplication::clipboard()->setText(
                    pythonBytes(QStringLiteral("frame"), parse.bytes, comment));
            });
            menu->popup(hexBox->viewport()->mapToGlobal(at));   // never a local event loop
        });
}
