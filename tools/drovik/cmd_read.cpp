#include "commands.h"

#include "command_line.h"
#include "console.h"
#include "ini_text.h"
#include "json_output.h"
#include "session.h"
#include "typed_value.h"

#include <QtCore/QJsonArray>

// Reading commands load through the read-only path: they never write FILE,
// not even to protect what was marked by hand, so a read is always safe.

namespace {

// Names one per line, or as {"field": [names]} plus the fields of object.
void printNames(const CommandLine &line, const QString &field, const QStringList &names,
                QJsonObject object = QJsonObject())
{
    object.insert(field, QJsonArray::fromStringList(names));
    if (line.json())
        printOut(jsonText(object));
    else if (!names.isEmpty())
        printOut(names.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

// A part's own protection, or for a plain part inside a protected one, how it is covered.
QString stateLabel(Protection own, Protection outer, const char *outerName)
{
    if (own != Protection::Plain || outer == Protection::Plain)
        return protectionName(own);
    return QStringLiteral("(%1 with the %2)").arg(protectionName(outer), QLatin1String(outerName));
}

QString statusTree(const QString &path, const ConfigView &view)
{
    QList<QPair<QString, QString>> rows {{path, protectionName(view.protection)}};
    bool anyMarked = view.protection == Protection::Marked;
    // Outside any section: never covered by the file's protection.
    for (const ParamView &param : view.ungrouped)
        rows.append({QStringLiteral("  ") + param.name, protectionName(param.protection)});
    for (const SectionView &section : view.sections) {
        rows.append({QStringLiteral("  [%1]").arg(section.name),
                     stateLabel(section.protection, view.protection, "file")});
        const bool sectionCovers = section.protection != Protection::Plain;
        anyMarked = anyMarked || section.protection == Protection::Marked;
        for (const ParamView &param : section.params) {
            rows.append({QStringLiteral("    ") + param.name,
                         stateLabel(param.protection,
                                    sectionCovers ? section.protection : view.protection,
                                    sectionCovers ? "section" : "file")});
            anyMarked = anyMarked || param.protection == Protection::Marked;
        }
    }
    int width = 0;
    for (const auto &row : rows)
        width = qMax(width, row.first.size());
    QString text;
    for (const auto &row : rows)
        text += row.first.leftJustified(width + 2) + row.second + QLatin1Char('\n');
    if (anyMarked)
        text += QStringLiteral("\nmarked: asked for protection by hand, still stored in plain; the "
                               "next change to the file stores it protected (drovik regen does "
                               "it now).\n");
    return text;
}

} // namespace

int runGet(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("get"),
                     QStringLiteral("Prints the value at KEY, decrypted; a list one item per line. "
                                    "Exits with 1 when KEY holds no value and no --default is "
                                    "given. Never writes FILE."),
                     CommandLine::Password | CommandLine::Json);
    const QCommandLineOption defaultOption(QStringLiteral("default"),
                                           QStringLiteral("Print V when KEY holds no value."),
                                           QStringLiteral("V"));
    line.addOption(defaultOption);
    line.addPositional(QStringLiteral("KEY"), QStringLiteral("SECTION/PARAMETER"));
    int status = Exit::Ok;
    if (!line.parse(arguments, 2, 2, &status))
        return status;
    const QString key = line.positional().at(1);
    if (!isKeyPath(key))
        return usageError(QStringLiteral("get"), QStringLiteral("KEY must be SECTION/PARAMETER"));
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Read, line.passwordOptions())))
        return status;
    const ParamView *param = session.view.param(key);
    if (!param && !line.isSet(defaultOption))
        return fail(Exit::NotFound, QStringLiteral("%1: no value at %2").arg(session.path(), key));
    const QVariant value = param ? param->value : QVariant(line.value(defaultOption));
    if (line.json())
        printOut(jsonText({{QStringLiteral("key"), key},
                           {QStringLiteral("value"), valueToJson(value)},
                           {QStringLiteral("found"), param != nullptr}}));
    else
        printOut(valueLines(value).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return Exit::Ok;
}

int runList(const QStringList &arguments)
{
    CommandLine line(QStringLiteral("list"),
                     QStringLiteral("Lists the sections of FILE, or the parameters of SECTION, in "
                                    "the order QSettings gives them (sorted). Never writes FILE."),
                     CommandLine::Password | CommandLine::Json);
    line.addPositional(QStringLiteral("SECTION"), QStringLiteral("A section name."),
                       QStringLiteral("[SECTION]"));
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 2, &status))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Read, line.passwordOptions())))
        return status;
    QStringList names;
    if (line.positional().size() == 1) {
        for (const SectionView &section : session.view.sections)
            names.append(section.name);
        printNames(line, QStringLiteral("sections"), names);
        return Exit::Ok;
    }
    const QString name = line.positional().at(1);
    const SectionView *section = session.view.section(name);
    if (!section)
        return fail(Exit::NotFound, QStringLiteral("%1: no section %2").arg(session.path(), name));
    for (const ParamView &param : section->params)
        names.append(param.name);
    printNames(line, QStringLiteral("parameters"), names, {{QStringLiteral("section"), name}});
    return Exit::Ok;
}

int runKeys(const QStringList &arguments)
{
    CommandLine line(
            QStringLiteral("keys"),
            QStringLiteral("Lists every parameter of FILE as a key path SECTION/PARAMETER, "
                           "in the order QSettings gives them (sorted); keys outside any "
                           "section come first, by their bare names. Never writes FILE."),
            CommandLine::Password | CommandLine::Json);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Read, line.passwordOptions())))
        return status;
    printNames(line, QStringLiteral("keys"), session.view.keyPaths());
    return Exit::Ok;
}

namespace {

// status and show load the same view and differ only in how they print it.
int describeFile(const QStringList &arguments, bool asIni)
{
    CommandLine line(asIni ? QStringLiteral("show") : QStringLiteral("status"),
                     asIni ? QStringLiteral("Prints the whole configuration, decrypted, as INI "
                                            "text; a comment line before each protected or marked "
                                            "part says so. Never writes FILE.")
                           : QStringLiteral("Shows FILE as a tree of sections and parameters, "
                                            "each with its protection: protected (stored "
                                            "encrypted), marked (asked for by hand, still stored "
                                            "in plain) or plain. Never writes FILE, not even to "
                                            "protect what is marked."),
                     CommandLine::Password | CommandLine::Json);
    int status = Exit::Ok;
    if (!line.parse(arguments, 1, 1, &status))
        return status;
    Session session(line.positional().constFirst());
    if ((status = session.open(Access::Read, line.passwordOptions())))
        return status;
    QJsonObject object = viewToJson(session.view, asIni);
    object.insert(QStringLiteral("file"), session.path());
    if (line.json())
        printOut(jsonText(object));
    else
        printOut(asIni ? iniText(session.view) : statusTree(session.path(), session.view).toUtf8());
    return Exit::Ok;
}

} // namespace

int runStatus(const QStringList &arguments)
{
    return describeFile(arguments, false);
}

int runShow(const QStringList &arguments)
{
    return describeFile(arguments, true);
}
