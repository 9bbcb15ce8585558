#include "commands.h"
#include "console.h"
#include "core_dumps.h"
#include "password.h"
#include "signal_cleanup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>

namespace {

struct Command
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

const Command commands[] = {
        {"get", "print one value", runGet},
        {"set", "store a value, keeping the protection of its place", runSet},
        {"del", "delete parameters", runDel},
        {"del-section", "delete sections", runDelSection},
        {"list", "list the sections, or the parameters of one section", runList},
        {"keys", "list every parameter as SECTION/PARAMETER", runKeys},
        {"status", "show what is protected, marked or plain", runStatus},
        {"show", "print the decrypted configuration as INI text", runShow},
        {"edit", "edit the decrypted configuration in a text editor", runEdit},
        {"protect", "protect the file, sections or parameters", runProtect},
        {"unprotect", "store the file, sections or parameters in plain again", runUnprotect},
        {"passwd", "change the password", runPasswd},
        {"regen", "encrypt every protected part anew under fresh public keys", runRegen},
        {"exec", "run a program with parameters in its environment", runExec},
        {"apply", "apply the changes of a JSON document in one rewrite", runApply},
        {"__complete", nullptr, runComplete}, // for the completion scripts; not listed
};

QString overview()
{
    QString text = QStringLiteral("Usage: drovik COMMAND FILE [ARGUMENTS] [OPTIONS]\n\n"
                                  "Reads and changes INI configuration files whose parts may be "
                                  "stored encrypted.\n\nCommands:\n");
    for (const Command &command : commands)
        if (command.summary)
            text += QStringLiteral("  %1%2\n")
                            .arg(QString::fromLatin1(command.name).leftJustified(13),
                                 QLatin1String(command.summary));
    text += QStringLiteral(
            "\nRun 'drovik COMMAND --help' for the options of a command.\n"
            "Passwords come from --password-file, --no-password, DROVIK_PASSWORD, or the "
            "terminal;\nnever from the command line.\n"
            "Exit status: 0 done, 1 not found or wrong password, 2 usage or file error.\n");
    return text;
}

// The library leaves qrand unseeded; without a seed every run would draw the
// same "fresh" public keys.
void seedPublicKeys()
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(QRandomGenerator::system()->generate());
    QT_WARNING_POP
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
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        printOut(overview());
        return Exit::Ok;
    }
    if (name == QLatin1String("--version") || name == QLatin1String("-v")) {
        printOut(QStringLiteral("drovik %1\n").arg(QCoreApplication::applicationVersion()));
        return Exit::Ok;
    }
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name))
            return command.run(arguments);
    }
    return fail(Exit::Usage,
                QStringLiteral("unknown command '%1' (see 'drovik --help')").arg(name));
}
