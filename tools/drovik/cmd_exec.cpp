#include "commands.h"

#include "child_environment.h"
#include "command_line.h"
#include "console.h"
#include "typed_value.h"

#include <QtCore/QFile>
#include <QtCore/QMap>
#include <QtCore/QSettings>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

// exec hands values to a program through its environment only: nothing is
// written, nothing locked, and the tool replaces itself with the program, so
// the program's exit status (or the signal that ended it) is the run's.

namespace {

const QLatin1Char listSeparator(',');

// SECTION_PARAMETER upper-cased; whatever a shell would not take in a name becomes '_'.
QString variableName(const QString &prefix, const QString &section, const QString &param)
{
    QString name = (section + QLatin1Char('_') + param).toUpper();
    for (QChar &c : name) {
        const bool fits = (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
        if (!fits)
            c = QLatin1Char('_');
    }
    return prefix + name;
}

QString variableValue(const QVariant &value)
{
    return valueLines(value).join(listSeparator);
}

bool isPrefix(const QString &prefix)
{
    for (const QChar c : prefix) {
        if (!(c.isDigit() || c == QLatin1Char('_') || (c.isLetter() && c.unicode() < 128)))
            return false;
    }
    return true;
}

// Names that would steer the dynamic loader or this tool are no place for
// values a file supplies.
bool isReservedName(const QString &name)
{
    return name.startsWith(QLatin1String("LD_")) || name.startsWith(QLatin1String("DROVIK_"));
}

// The environment every child of the tool gets (no DROVIK_ variable), less
// the names set anew, then the new ones.
std::vector<QByteArray> environmentWith(const QMap<QString, QString> &variables)
{
    std::vector<QByteArray> entries;
    for (char *entry : childEnvironment()) {
        if (!entry)
            break;
        const QByteArray text(entry);
        const int equals = text.indexOf('=');
        if (!variables.contains(QString::fromLocal8Bit(equals < 0 ? text : text.left(equals))))
            entries.push_back(text);
    }
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        entries.push_back(it.key().toLocal8Bit() + '=' + it.value().toLocal8Bit());
    return entries;
}

// Whether the named sections (all when none is named) hold anything that only
// the password shows.
bool needsPassword(const ConfigView &view, const QStringList &sections)
{
    if (view.sectionsHidden.hidden)
        return true;
    for (const SectionView &section : view.sections) {
        if (!sections.isEmpty() && !sections.contains(section.name))
            continue;
        if (section.paramsHidden.hidden)
            return true;
        for (const ParamView &param : section.params) {
            if (param.valueHidden.hidden)
                return true;
        }
    }
    return false;
}

QStringList sectionsOf(const CommandLine &line)
{
    return line.arguments().mid(0, line.arguments().size() - line.afterDashes().size());
}

int runProgram(const QStringList &command, const QMap<QString, QString> &variables)
{
    std::vector<QByteArray> arguments;
    for (const QString &argument : command)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> environment = environmentWith(variables);
    std::vector<char *> envp;
    for (QByteArray &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::fflush(nullptr);
    execvpe(argv.front(), argv.data(), envp.data());
    // As shells do: 127 when there is no such program, 126 when it cannot run.
    const int error = errno;
    return fail(error == ENOENT ? 127 : 126,
                QStringLiteral("exec: cannot run %1: %2")
                        .arg(command.constFirst(), QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace

int checkExec(const CommandLine &line)
{
    if (line.afterDashes().isEmpty())
        return usageError(line.command(), QStringLiteral("give -- COMMAND"));
    if (!isPrefix(line.value(QStringLiteral("prefix"))))
        return usageError(line.command(),
                          QStringLiteral("--prefix takes letters, digits and _ only"));
    return Exit::Ok;
}

int runExec(Session &session, const CommandLine &line)
{
    const QStringList wanted = sectionsOf(line);
    const QString prefix = line.value(QStringLiteral("prefix"));
    // Opened without asking: the password only when what is wanted needs it.
    int status = Exit::Ok;
    if (session.hidden() && needsPassword(session.view, wanted)
        && (status = session.open(Access::Read, PasswordNeed::WhenProtected)))
        return status;
    const ConfigView &view = session.view;
    for (const QString &name : wanted) {
        if (!view.section(name))
            return fail(
                    Exit::NotFound,
                    QStringLiteral("%1: no section %2; nothing was run").arg(session.path(), name));
    }

    QMap<QString, QString> variables;
    QMap<QString, QString> keyOf; // variable name -> the key path it came from
    for (const SectionView &section : view.sections) {
        if (!wanted.isEmpty() && !wanted.contains(section.name))
            continue;
        for (const ParamView &param : section.params) {
            const QString name = variableName(prefix, section.name, param.name);
            const QString key = section.name + QLatin1Char('/') + param.name;
            if (keyOf.contains(name))
                return fail(Exit::Usage,
                            QStringLiteral("%1: %2 and %3 both become %4; nothing was run (pass "
                                           "fewer sections, or rename one)")
                                    .arg(session.path(), keyOf.value(name), key, name));
            if (isReservedName(name))
                return fail(Exit::Usage,
                            QStringLiteral("%1: %2 would become %3, a name reserved for the "
                                           "system or this tool; nothing was run (use --prefix)")
                                    .arg(session.path(), key, name));
            keyOf.insert(name, key);
            variables.insert(name, variableValue(param.value));
        }
    }
    session.password.wipe();
    session.file.close();
    return runProgram(line.afterDashes(), variables);
}
