#pragma once

#include "HidAPI.h"
#include "options.h"
#include "portresolver.h"
#include "session.h"
#include "virtualoptions.h"

#include <QString>

#include <memory>

class HidLink;
class MSComm;
class VirtualBoards;

// A board opened for a run: its link and how its answers are read.
struct OpenedBoard
{
    QString name;   // what the output and the reports call it
    Link *link = nullptr;
    AnswerRule rule = AnswerRule::SerialCharacters;
    bool justPoweredUp = false;   // the virtual board: it answers 0x4A shortly after it starts
    std::unique_ptr<MSComm> serial;
    std::unique_ptr<HidApi> picker;   // narrows the USB search to one device path
    std::unique_ptr<HidLink> usb;
    ~OpenedBoard();
};

// Opens the boards named on the command line; owns the virtual boards, so it outlives every
// board it opened.
class BoardOpener
{
public:
    explicit BoardOpener(const CliOptions &options);
    ~BoardOpener();

    // Loads the virtual board when one is named and sets it up; false with *error and the exit
    // code (a refused option value, or the module missing). Nothing is opened otherwise.
    bool prepareVirtual(QString *error, int *exitCode);

    // The board, or null with *error saying why (missing, in use, no permission and what to do).
    std::unique_ptr<OpenedBoard> open(const BoardSpec &board, QString *error);

private:
    std::unique_ptr<OpenedBoard> openSerial(const QString &path, QString *error);
    std::unique_ptr<OpenedBoard> openUsb(HidApi &api, const QByteArray &path, QString *error);

    const CliOptions &m_options;
    PortResolver m_resolver;
    std::unique_ptr<VirtualBoards> m_virtual;
};

// The virtual board's options as the command line sets them (the line speed is --baud); *error
// names a value it refuses, and is empty otherwise.
VirtualBoardOptions virtualBoardOptions(const CliOptions &options, QString *error);

// Why this user may not open a device node, and what to do; empty when access(R_OK | W_OK)
// allows it.
QString accessProblem(const QString &path);

// Words on what to do for the board's USB link when the user may not open it.
QString udevRuleAdvice();
