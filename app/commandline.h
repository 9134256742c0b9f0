#pragma once

#include "Form1.h"
#include "boardoptions.h"

#include <QString>
#include <QStringList>

// What the command line asks of the program.
struct CommandLine
{
    Form1Options options;
    bool virtualBoard = false;   // attach the built-in virtual chip board as COM1
    BoardOptions board;   // how the virtual board is set up
    bool exitNow = false;   // --help, --version or an error: print and leave
    int exitCode = 0;
    QString output;   // what to print before leaving
};

// Reads the program's arguments (argv[0] first).
CommandLine parseCommandLine(const QStringList &arguments);
