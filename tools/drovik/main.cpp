#include "commands.h"
#include "console.h"
#include "signal_cleanup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRandomGenerator>

#include <cstdlib>

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
};

QString overview()
{
    QString text = QStringLiteral("Usage: drovik COMMAND FILE [ARGUMENTS] [OPTIONS]\n\n"
                                  "Reads and changes INI configuration files whose parts may be "
                                  "stored encrypted.\n\nCommands:\n");
    for (const Command &command : commands)
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
