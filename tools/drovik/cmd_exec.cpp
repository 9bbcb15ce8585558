#include "commands.h"

#include "command_line.h"
#include "config_file.h"
#include "console.h"
#include "readable_view.h"
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

// Our environment without DROVIK_ variables and without the names set anew,
// then the new ones.
std::vector<QByteArray> childEnvironment(const QMap<QString, QString> &variables)
{
    std::vector<QByteArray> entries;
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray text(*entry);
        const int equals = text.indexOf('=');
        const QString name = QString::fromLocal8Bit(equals < 0 ? text : text.left(equals));
        if (!name.startsWith(QLatin1String("DROVIK_")) && !variables.contains(name))
            entries.push_back(text);
    }
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        entries.push_back(it.key().toLocal8Bit() + '=' + it.value().toLocal8Bit());
    return entries;
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
    std::vector<QByteArray> environment = childEnvironment(variables);
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

int runExec(const QStringList &arguments)
{
    CommandLine line(
            QStringLiteral("exec"),
            QStringLiteral("Runs COMMAND (no shell) with the parameters of the named sections (all "
                           "when none is named) added to its environment as SECTION_PARAMETER: "
                           "upper case, every character other than A-Z, 0-9 and _ turned into _. "
                           "A list's items are joined with ','. Keys outside any section are not "
                           "passed. No DROVIK_ variable reaches COMMAND. The exit status is "
                           "COMMAND's (127: not found, 126: cannot run it). The password is needed "
                           "only when the named sections hold something protected. Never writes "
                           "FILE."),
            CommandLine::Password);
    line.addPositional(QStringLiteral("SECTION"), QStringLiteral("A section to pass (repeatable)."),
                       QStringLiteral("[SECTION...] -- COMMAND [ARGUMENT...]"));
    const QCommandLineOption prefixOption(QStringLiteral("prefix"),
                                          QStringLiteral("Put P before every name (letters, "
                                                         "digits and _)."),
                                          QStringLiteral("P"));
    line.addOption(prefixOption);
    const int dashes = arguments.indexOf(QStringLiteral("--"));
    int status = Exit::Ok;
    if (!line.parse(arguments.mid(0, dashes), 1, -1, &status))
        return status;
    const QStringList command = dashes < 0 ? QStringList() : arguments.mid(dashes + 1);
    if (command.isEmpty())
        return usageError(QStringLiteral("exec"), QStringLiteral("give -- COMMAND"));
    const QString prefix = line.value(prefixOption);
    if (!isPrefix(prefix))
        return usageError(QStringLiteral("exec"),
                          QStringLiteral("--prefix takes letters, digits and _ only"));
    const QStringList wanted = line.positional().mid(1);

    ConfigFile file(line.positional().constFirst());
    QString error;
    if (!file.open(Access::Read, &error))
        return fail(Exit::IoError, error);
    ConfigView view = readableView(*file.settings());
    if (needsPassword(view, wanted)) {
        Secret password;
        if (!readPassword(line.passwordOptions(),
                          QStringLiteral("Password for %1: ").arg(file.path()), &password, &error))
            return fail(Exit::Usage, error);
        view = ConfigView();
        if (!loadView(*file.settings(), password.bytes(), &view))
            return fail(Exit::WrongPassword,
                        QStringLiteral("%1: wrong password; nothing was run").arg(file.path()));
    }
    for (const QString &name : wanted) {
        if (!view.section(name))
            return fail(
                    Exit::NotFound,
                    QStringLiteral("%1: no section %2; nothing was run").arg(file.path(), name));
    }

    QMap<QString, QString> variables;
    QMap<QString, QString> keyOf; // variable name -> the key path it came from
    for (const SectionView &section : qAsConst(view.sections)) {
        if (!wanted.isEmpty() && !wanted.contains(section.name))
            continue;
        for (const ParamView &param : section.params) {
            const QString name = variableName(prefix, section.name, param.name);
            const QString key = section.name + QLatin1Char('/') + param.name;
            if (keyOf.contains(name))
                return fail(Exit::Usage,
                            QStringLiteral("%1: %2 and %3 both become %4; nothing was run (pass "
                                           "fewer sections, or rename one)")
                                    .arg(file.path(), keyOf.value(name), key, name));
            if (isReservedName(name))
                return fail(Exit::Usage,
                            QStringLiteral("%1: %2 would become %3, a name reserved for the "
                                           "system or this tool; nothing was run (use --prefix)")
                                    .arg(file.path(), key, name));
            keyOf.insert(name, key);
            variables.insert(name, variableValue(param.value));
        }
    }
    file.close();
    return runProgram(command, variables);
}
