#pragma once

#include "Form1.h"
#include "language.h"
#include "virtualoptions.h"

#include <QString>
#include <QStringList>

// What the command line asks of the program.
struct CommandLine
{
    Form1Options options;
    bool virtualBoard = false;   // attach the built-in virtual chip board as COM1
    VirtualBoardOptions board;   // how the virtual board is set up
    bool languageGiven = false;   // --lang chose the language; otherwise the locale does
    Language language = Language::Chinese;
    bool exitNow = false;   // --help, --version or an error: print and leave
    int exitCode = 0;
    QString output;   // what to print before leaving
};

// Reads the program's arguments (argv[0] first).
CommandLine parseCommandLine(const QStringList &arguments);

// Makes DIR the folder for the start-up text and LOG.txt, creating it when missing. A leading "~"
// stands for the home folder, since a desktop entry passes its arguments unexpanded. Returns the
// absolute path, or an empty string and the reason in *error.
QString prepareWorkDir(const QString &dir, QString *error);
