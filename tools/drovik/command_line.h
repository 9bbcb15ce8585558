#ifndef DROVIK_TOOL_COMMAND_LINE_H
#define DROVIK_TOOL_COMMAND_LINE_H

#include "password.h"

#include <QtCore/QCommandLineParser>

// One command's options and arguments, with its --help, parsed the same way
// for every command. FILE is always the first argument.
class CommandLine
{
public:
    enum Feature {
        None = 0,
        Password = 1, // --password-file, --no-password
        Json = 2,     // --json
    };

    CommandLine(const QString &command, const QString &description, int features);

    void addPositional(const QString &name, const QString &help, const QString &syntax = QString());
    void addOption(const QCommandLineOption &option);

    // True to go on. False when the command must end with *status: after
    // --help (0) or with a usage error (2), both already printed.
    bool parse(const QStringList &arguments, int minPositional, int maxPositional, int *status);

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    QStringList values(const QCommandLineOption &option) const { return m_parser.values(option); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    bool json() const { return m_parser.isSet(m_json); }
    PasswordOptions passwordOptions() const;

private:
    QString m_command;
    int m_features;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_json;
    QCommandLineOption m_passwordFile;
    QCommandLineOption m_noPassword;
};

// A usage error: the message and a pointer to --help; returns the status.
int usageError(const QString &command, const QString &message);

#endif // DROVIK_TOOL_COMMAND_LINE_H
