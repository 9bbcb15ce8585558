#include "command_line.h"

#include "commands.h"
#include "console.h"

namespace {

// The parser prints the description as given; wrap it for an 80-column terminal.
QString wrapped(const QString &text)
{
    const int width = 79;
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
                lines.append(line);
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

const QString passwordText = QStringLiteral(
        "\n\nThe password comes from the first of: --no-password (the empty password), "
        "--password-file PATH ('-' reads standard input), --password-command CMD, the "
        "DROVIK_PASSWORD environment variable, the DROVIK_PASSWORD_COMMAND environment variable, "
        "the terminal. A command runs through /bin/sh without any DROVIK_ variable in its "
        "environment; the first line it prints is the password. A file that holds nothing "
        "protected or marked needs none, except to protect.");

const QStringList passwordOptionNames
        = {QStringLiteral("no-password"), QStringLiteral("password-file"),
           QStringLiteral("password-command")};

} // namespace

CommandLine::CommandLine(const Command &command) : m_command(command.name), m_json(command.json)
{
    m_parser.setApplicationDescription(wrapped(command.description + passwordText));
    m_parser.addPositionalArgument(QStringLiteral("FILE"),
                                   QStringLiteral("The configuration file (INI)."));
    m_minArguments = 1;
    m_maxArguments = 1;
    for (const Argument &argument : command.arguments) {
        QString syntax = argument.name;
        if (argument.count == Argument::Optional)
            syntax = QLatin1Char('[') + syntax + QLatin1Char(']');
        else if (argument.count == Argument::OneOrMore)
            syntax += QStringLiteral("...");
        m_parser.addPositionalArgument(argument.name, argument.help, syntax);
        m_minArguments += argument.count == Argument::Optional ? 0 : 1;
        m_maxArguments = argument.count == Argument::OneOrMore || m_maxArguments < 0
                ? -1
                : m_maxArguments + 1;
    }
    m_parser.addOption(
            {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")});
    m_parser.addOption({{QStringLiteral("q"), QStringLiteral("quiet")},
                        QStringLiteral("Print no notes; errors are still printed.")});
    if (command.json)
        m_parser.addOption({QStringLiteral("json"), QStringLiteral("Print JSON instead of text.")});
    m_parser.addOption({QStringLiteral("no-password"), QStringLiteral("Use the empty password.")});
    m_parser.addOption({QStringLiteral("password-file"),
                        QStringLiteral("Read the password from PATH, '-' for standard input (one "
                                       "final line break is dropped)."),
                        QStringLiteral("PATH")});
    m_parser.addOption({QStringLiteral("password-command"),
                        QStringLiteral("Run CMD and take the first line it prints."),
                        QStringLiteral("CMD")});
    for (const QCommandLineOption &option : command.options)
        m_parser.addOption(option);
}

QString CommandLine::helpText() const
{
    // The parser names the program by its path; the command reads better.
    QString help = m_parser.helpText();
    const int at = help.indexOf(QLatin1Char(':'));
    const int end = help.indexOf(QLatin1Char(' '), at + 2);
    if (at >= 0 && end > at)
        help.replace(at + 2, end - at - 2, QStringLiteral("drovik ") + m_command);
    return help;
}

bool CommandLine::parse(const QStringList &arguments, int *status)
{
    const int dashes = arguments.indexOf(QStringLiteral("--"));
    m_afterDashes = dashes < 0 ? QStringList() : arguments.mid(dashes + 1);
    if (!m_parser.parse(QStringList(QStringLiteral("drovik")) + arguments)) {
        QString message = m_parser.errorText();
        if (message.endsWith(QLatin1Char('.')))
            message.chop(1);
        *status = usageError(m_command, message);
        return false;
    }
    setQuiet(m_parser.isSet(QStringLiteral("quiet")));
    if (m_parser.isSet(QStringLiteral("help"))) {
        printOut(helpText());
        *status = Exit::Ok;
        return false;
    }
    const int count = m_parser.positionalArguments().size();
    if (count < m_minArguments || (m_maxArguments >= 0 && count > m_maxArguments)) {
        *status = usageError(m_command,
                             count < m_minArguments ? QStringLiteral("missing arguments")
                                                    : QStringLiteral("too many arguments"));
        return false;
    }
    QStringList given;
    for (const QString &name : passwordOptionNames) {
        if (m_parser.isSet(name))
            given.append(QStringLiteral("--") + name);
    }
    if (given.size() > 1) {
        *status = usageError(
                m_command,
                QStringLiteral("%1 exclude each other").arg(given.join(QStringLiteral(" and "))));
        return false;
    }
    return true;
}

PasswordOptions CommandLine::passwordOptions() const
{
    PasswordOptions options;
    options.none = m_parser.isSet(QStringLiteral("no-password"));
    options.file = m_parser.value(QStringLiteral("password-file"));
    options.command = m_parser.value(QStringLiteral("password-command"));
    return options;
}

int usageError(const QString &command, const QString &message)
{
    return fail(Exit::Usage,
                QStringLiteral("%1: %2 (see 'drovik %1 --help')").arg(command, message));
}
