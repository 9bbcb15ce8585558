#ifndef DROVIK_TOOL_COMMANDS_H
#define DROVIK_TOOL_COMMANDS_H

#include "config_file.h"
#include "session.h"

#include <QtCore/QCommandLineOption>
#include <QtCore/QList>
#include <QtCore/QString>

class CommandLine;

// One argument after FILE, as --help shows it.
struct Argument
{
    QString name;
    QString help;
    enum Count { One, Optional, OneOrMore } count = One;
};

// One row per command. runCommand() parses the row's arguments and options,
// runs its check, opens FILE as the row says (lock, password, load) and only
// then calls run, so every command opens its file the same way.
struct Command
{
    QString name;
    QString summary;     // one line in `drovik --help`
    QString description; // the text of `drovik NAME --help`
    QList<Argument> arguments;
    QList<QCommandLineOption> options;
    Access access;         // Read: never writes FILE
    PasswordNeed password; // Never: works without one, uses one if given
    bool json;             // takes --json
    // Checks of the arguments alone, before FILE is opened; nullptr if none.
    // Returns Exit::Ok or the status to end with (already reported).
    int (*check)(const CommandLine &line);
    int (*run)(Session &session, const CommandLine &line);
};

// Every command, in the order `drovik --help` lists them.
const QList<Command> &commandTable();
const Command *findCommand(const QString &name);

// Parses arguments (what follows the command name), opens FILE, runs the row.
int runCommand(const Command &command, const QStringList &arguments);

// The rows' functions, by file: cmd_read.cpp, cmd_change.cpp, cmd_edit.cpp,
// cmd_exec.cpp, cmd_apply.cpp.
int checkKeyArgument(const CommandLine &line);
int runGet(Session &session, const CommandLine &line);
int runList(Session &session, const CommandLine &line);
int runKeys(Session &session, const CommandLine &line);
int runStatus(Session &session, const CommandLine &line);
int runShow(Session &session, const CommandLine &line);

int checkSet(const CommandLine &line);
int runSet(Session &session, const CommandLine &line);
int checkDel(const CommandLine &line);
int runDel(Session &session, const CommandLine &line);
int runDelSection(Session &session, const CommandLine &line);
int checkProtection(const CommandLine &line);
int runProtect(Session &session, const CommandLine &line);
int runUnprotect(Session &session, const CommandLine &line);
int checkPasswd(const CommandLine &line);
int runPasswd(Session &session, const CommandLine &line);
int runRegen(Session &session, const CommandLine &line);

int runEdit(Session &session, const CommandLine &line);

int checkExec(const CommandLine &line);
int runExec(Session &session, const CommandLine &line);
int checkApply(const CommandLine &line);
int runApply(Session &session, const CommandLine &line);

// No row: `drovik __complete sections|keys FILE`, the names the completion
// scripts offer, read without a password (cmd_complete.cpp).
int runComplete(const QStringList &arguments);

#endif // DROVIK_TOOL_COMMANDS_H
