#pragma once

#include <QFunctionPointer>
#include <QString>

// Finds one of the programs' modules (shared libraries loaded on demand: the virtual boards, the
// timing chart) beside the program (the build), where the package installs it relative to the
// program, or in the installed folder, and returns its entry point. Null, with *error naming
// each place tried and why, when none has it. A module found stays loaded.
QFunctionPointer resolveModuleEntry(const QString &module, const char *entry, QString *error);
