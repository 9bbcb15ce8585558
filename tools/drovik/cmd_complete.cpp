#include "commands.h"

#include "config_file.h"
#include "config_view.h"
#include "console.h"

// For the shell completion scripts: the names a file shows without its
// password. It never asks for one, never writes and never locks, and prints
// nothing but names (a file it cannot read has none), so a completion stays
// silent whatever is on the command line.
int runComplete(const QStringList &arguments)
{
    const bool sections = arguments.value(0) == QLatin1String("sections");
    if (arguments.size() != 2 || (!sections && arguments.value(0) != QLatin1String("keys")))
        return fail(Exit::Usage, QStringLiteral("usage: drovik __complete sections|keys FILE"));
    ConfigFile file(arguments.at(1));
    QString error;
    if (!file.open(Access::Read, &error))
        return Exit::IoError;
    QStringList names;
    for (const SectionView &section : layoutView(*file.settings()).sections) {
        if (sections)
            names.append(section.name);
        for (const ParamView &param : section.params) {
            if (!sections)
                names.append(section.name + QLatin1Char('/') + param.name);
        }
    }
    if (!names.isEmpty())
        printOut(names.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return Exit::Ok;
}
