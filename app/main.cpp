#include "Form1.h"
#include "commandline.h"
#include "operatormessages.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orv4120-demo"));
    QApplication::setApplicationVersion(QStringLiteral("3.4"));

    CommandLine commandLine = parseCommandLine(QApplication::arguments());
    if (commandLine.exitNow) {
        std::fputs(commandLine.output.toLocal8Bit().constData(),
                   commandLine.exitCode == 0 ? stdout : stderr);
        return commandLine.exitCode;
    }

    Form1 *window = nullptr;
    MessageBoxes messages(nullptr);
    window = new Form1(std::move(commandLine.options), &messages);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return app.exec();
}
