#ifndef DROVIK_TOOL_COMMANDS_H
#define DROVIK_TOOL_COMMANDS_H

#include <QtCore/QStringList>

// One function per command; each takes the arguments after the command name
// and returns the exit status.

// Reading (never writes the file): cmd_read.cpp
int runGet(const QStringList &arguments);
int runList(const QStringList &arguments);
int runKeys(const QStringList &arguments);
int runStatus(const QStringList &arguments);
int runShow(const QStringList &arguments);

// Changing values and protection: cmd_change.cpp
int runSet(const QStringList &arguments);
int runDel(const QStringList &arguments);
int runDelSection(const QStringList &arguments);
int runProtect(const QStringList &arguments);
int runUnprotect(const QStringList &arguments);
int runPasswd(const QStringList &arguments);
int runRegen(const QStringList &arguments);

// Editing in a text editor: cmd_edit.cpp
int runEdit(const QStringList &arguments);

// Running a program with values in its environment: cmd_exec.cpp
int runExec(const QStringList &arguments);

// Changes from a JSON document in one rewrite: cmd_apply.cpp
int runApply(const QStringList &arguments);

// Names for the shell completion scripts, without a password: cmd_complete.cpp
int runComplete(const QStringList &arguments);

#endif // DROVIK_TOOL_COMMANDS_H
