#include "command_line.h"

#include "console.h"

#include <QtCore/QCoreApplication>

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

} // namespace

CommandLine::CommandLine(const QString &command, const QString &description, int features)
    : m_command(command), m_features(features),
      m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")),
      m_json(QStringLiteral("json"), QStringLiteral("Print JSON instead of text.")),
      m_passwordFile(QStringLiteral("password-file"),
                     QStringLiteral("Read the password from PATH (one final line break is "
                                    "dropped)."),
                     QStringLiteral("PATH")),
      m_noPassword(QStringLiteral("no-password"),
                   QStringLiteral("Use the empty password (from no other source is an empty "
                                  "one taken)."))
{
    QString text = description;
    if (features & Password)
        text += QStringLiteral("\n\nThe password comes from --no-password, --password-file, the "
                               "DROVIK_PASSWORD environment variable, or else the terminal. A file "
                               "that holds nothing protected or marked needs none, except to "
                               "protect.");
    m_parser.setApplicationDescription(wrapped(text));
    m_parser.addPositionalArgument(QStringLiteral("FILE"),
                                   QStringLiteral("The configuration file (INI)."));
    m_parser.addOption(m_help);
    if (features & Json)
        m_parser.addOption(m_json);
    if (features & Password) {
        m_parser.addOption(m_passwordFile);
        m_parser.addOption(m_noPassword);
    }
}

void CommandLine::addPositional(const QString &name, const QString &help, const QString &syntax)
{
    m_parser.addPositionalArgument(name, help, syntax);
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    m_parser.addOption(option);
}

bool CommandLine::parse(const QStringList &arguments, int minPositional, int maxPositional,
                        int *status)
{
    const QString program = QStringLiteral("drovik ") + m_command;
    if (!m_parser.parse(QStringList(program) + arguments)) {
        QString message = m_parser.errorText();
        if (message.endsWith(QLatin1Char('.')))
            message.chop(1);
        *status = usageError(m_command, message);
        return false;
    }
    if (m_parser.isSet(m_help)) {
        // The parser names the program by its path; the command reads better.
        QString help = m_parser.helpText();
        const QString path = QCoreApplication::arguments().constFirst();
        const int at = help.indexOf(path);
        if (at >= 0)
            help.replace(at, path.size(), program);
        printOut(help);
        *status = Exit::Ok;
        return false;
    }
    const int count = positional().size();
    if (count < minPositional || (maxPositional >= 0 && count > maxPositional)) {
        *status = usageError(m_command,
                             count < minPositional ? QStringLiteral("missing arguments")
                                                   : QStringLiteral("too many arguments"));
        return false;
    }
    if ((m_features & Password) && isSet(m_passwordFile) && isSet(m_noPassword)) {
        *status = usageError(
                m_command, QStringLiteral("--password-file and --no-password exclude each other"));
        return false;
    }
    return true;
}

PasswordOptions CommandLine::passwordOptions() const
{
    PasswordOptions options;
    options.none = m_parser.isSet(m_noPassword);
    options.file = m_parser.value(m_passwordFile);
    return options;
}

int usageError(const QString &command, const QString &message)
{
    return fail(Exit::Usage,
                QStringLiteral("%1: %2 (see 'drovik %1 --help')").arg(command, message));
}
