#ifndef DROVIK_TOOL_COMMAND_LINE_H
#define DROVIK_TOOL_COMMAND_LINE_H

#include "password.h"

#include <QtCore/QCommandLineParser>

struct Command;

// One command's options and arguments, with its --help, parsed the same way
// for every command from its row. FILE is always the first argument; every
// command takes the password options, --quiet and --help.
class CommandLine
{
public:
    explicit CommandLine(const Command &command);

    // True to go on. False when the command must end with *status: after
    // --help (0) or with a usage error (2), both already printed.
    bool parse(const QStringList &arguments, int *status);
    QString helpText() const;

    bool isSet(const QString &option) const { return m_parser.isSet(option); }
    QString value(const QString &option) const { return m_parser.value(option); }
    QStringList values(const QString &option) const { return m_parser.values(option); }
    QString file() const { return m_parser.positionalArguments().constFirst(); }
    // The arguments after FILE.
    QStringList arguments() const { return m_parser.positionalArguments().mid(1); }
    // The arguments after the first "--" (the last of arguments()): exec's program.
    const QStringList &afterDashes() const { return m_afterDashes; }
    bool json() const { return m_json && m_parser.isSet(QStringLiteral("json")); }
    PasswordOptions passwordOptions() const;
    const QString &command() const { return m_command; }

private:
    QString m_command;
    int m_minArguments = 0;
    int m_maxArguments = 0; // -1: any number
    bool m_json = false;
    QStringList m_afterDashes;
    QCommandLineParser m_parser;
};

// A usage error: the message and a pointer to --help; returns the status.
int usageError(const QString &command, const QString &message);

#endif // DROVIK_TOOL_COMMAND_LINE_H
