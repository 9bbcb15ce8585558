#include "commands.h"
#include "console.h"
#include "core_dumps.h"
#include "password.h"
#include "signal_cleanup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>

#include <cstdlib>

namespace {

QString overview()
{
    QString text = QStringLiteral("Usage: drovik COMMAND FILE [ARGUMENTS] [OPTIONS]\n\n"
                                  "Reads and changes INI configuration files whose parts may be "
                                  "stored encrypted.\n\nCommands:\n");
    for (const Command &command : commandTable())
        text += QStringLiteral("  %1%2\n").arg(command.name.leftJustified(13), command.summary);
    text += QStringLiteral(
            "\nRun 'drovik help COMMAND' (or 'drovik COMMAND --help') for the options of a "
            "command.\n"
            "The password comes from the first of: --no-password, --password-file PATH\n"
            "('-': standard input), --password-command CMD, DROVIK_PASSWORD,\n"
            "DROVIK_PASSWORD_COMMAND, the terminal; never from the command line itself.\n"
            "Exit status: 0 done, 1 not found or wrong password, 2 usage or file error.\n");
    return text;
}

// The library leaves its random draw unseeded; without a seed every run would
// draw the same "fresh" public keys. It draws from qrand() under Qt 5 and from
// the C library's rand() under Qt 6, which has no qrand().
void seedPublicKeys()
{
    const quint32 seed = QRandomGenerator::system()->generate();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(seed);
    QT_WARNING_POP
#else
    std::srand(seed);
#endif
}

} // namespace

int main(int argc, char **argv)
{
    disableCoreDumps();
    takePasswordsFromEnvironment();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("drovik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DROVIK_VERSION_STRING));
    installCleanupHandlers();
    seedPublicKeys();

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return fail(Exit::Usage, QStringLiteral("no command given (see 'drovik --help')"));
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")
        || (name == QLatin1String("help") && arguments.isEmpty())) {
        printOut(overview());
        return Exit::Ok;
    }
    if (name == QLatin1String("--version") || name == QLatin1String("-v")) {
        printOut(QStringLiteral("drovik %1\n").arg(QCoreApplication::applicationVersion()));
        return Exit::Ok;
    }
    if (name == QLatin1String("__complete"))
        return runComplete(arguments);
    // `drovik help CMD` is `drovik CMD --help`.
    const bool help = name == QLatin1String("help");
    const QString commandName = help ? arguments.constFirst() : name;
    if (const Command *command = findCommand(commandName))
        return runCommand(*command, help ? QStringList(QStringLiteral("--help")) : arguments);
    return fail(Exit::Usage,
                QStringLiteral("unknown command '%1' (see 'drovik --help')").arg(commandName));
}
