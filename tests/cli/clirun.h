#pragma once

#include "ptypeer.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// What the command-line suites share: a board that answers on a pseudo-terminal, and a program
// run to its end while the event loop serves that board.

// The board at the far end of a pseudo-terminal: it answers every whole frame it reads with
// answers (nothing when empty); synthesis, cache play and the status query also get "O" unless
// the speech is endless.
class AnsweringPeer : public PtyPeer
{
public:
    explicit AnsweringPeer(const QByteArray &answers, bool speechEnds = true)
    {
        connect(this, &PtyPeer::bytesReceived, this, [this, answers, speechEnds] {
            while (received().size() - m_taken >= 3) {
                const QByteArray rest = received().mid(m_taken);
                const int size = 3 + (quint8(rest.at(1)) << 8) + quint8(rest.at(2));
                if (rest.size() < size)
                    return;
                m_taken += size;
                const quint8 command = quint8(rest.at(3));
                if (answers.isEmpty())
                    continue;
                answer(answers);
                if ((command == 0x01 || command == 0x32 || command == 0x21) && speechEnds)
                    answer("O");
            }
        });
    }

private:
    qsizetype m_taken = 0;
};

struct Run
{
    int exitCode = -1;   // -1: killed, or ended by a signal
    QByteArray out;
    QByteArray err;
};

// Runs program to its end (30 s at most) while the event loop serves the peer; setUp runs in the
// child before it starts.
inline Run runProgram(const QString &program, const QStringList &arguments,
    const QByteArray &input = {}, const QString &workDir = {}, std::function<void()> setUp = {})
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    if (setUp)
        process.setChildProcessModifier(setUp);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    QSignalSpy finished(&process, &QProcess::finished);
    if (!finished.wait(30000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError()};
}

// A file of the given bytes in dir; its path, or empty when it could not be written.
inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}
