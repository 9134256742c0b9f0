#pragma once

#include <QByteArray>
#include <QString>

// A frame written as source code for firmware and test scripts. The bytes are exactly the
// frame's; names and comments are made so that no text can break the code around them.

// "FD 00 06 01 01 C4 E3 BA C3": two upper-case digits a byte, one blank between.
QString hexLine(const QByteArray &bytes);

// Whether name is an identifier in both C and Python and a keyword of neither; names that C
// reserves for its implementation ("__x", "_X") are refused too.
bool isSourceIdentifier(const QString &name);

// Text on one line that a C block comment or a Python "#" comment holds as it stands: control
// and other invisible characters become escapes (\r, \n, \t, \u2028), and "*/" and "/*" are
// broken up ("*\/", "/\*").
QString commentText(const QString &text);

// /* comment */ and "static const unsigned char name[N] = { 0xFD, ... };", twelve bytes a line.
QString cArray(const QString &name, const QByteArray &bytes, const QString &comment);

// name = bytes.fromhex("FD 00 ...")  # comment
QString pythonBytes(const QString &name, const QByteArray &bytes, const QString &comment);
