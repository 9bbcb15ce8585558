#include "commands.h"

#include "command_line.h"
#include "console.h"
#include "ini_text.h"
#include "json_output.h"
#include "session.h"
#include "typed_value.h"

#include <QtCore/QJsonArray>

#include <unistd.h>

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

// Colour tells the states apart at a glance, but only for a person: never
// into a pipe or file, and never when NO_COLOR asks for none.
bool colourWanted()
{
    return isatty(STDOUT_FILENO) == 1 && qEnvironmentVariableIsEmpty("NO_COLOR");
}

QString coloured(const QString &label, bool colour)
{
    if (!colour)
        return label;
    const char *code = label.startsWith(QLatin1String("protected")) ? "32"
            : label.startsWith(QLatin1String("marked"))             ? "33"
            : label.startsWith(QLatin1Char('('))                    ? "2"
                                                                    : nullptr;
    return code ? QStringLiteral("\x1b[%1m%2\x1b[0m").arg(QLatin1String(code), label) : label;
}

const QString hiddenLabel = QStringLiteral("(hidden without the password)");

QString statusTree(const QString &path, const ConfigView &view, bool colour)
{
    QList<QPair<QString, QString>> rows {{path, protectionName(view.protection)}};
    bool anyMarked = view.protection == Protection::Marked;
    // Outside any section: never covered by the file's protection.
    for (const ParamView &param : view.ungrouped)
        rows.append({QStringLiteral("  ") + param.name, protectionName(param.protection)});
    if (view.sectionsHidden.hidden)
        rows.append({QStringLiteral("  [sections]"), hiddenLabel});
    for (const SectionView &section : view.sections) {
        rows.append({QStringLiteral("  [%1]").arg(section.name),
                     stateLabel(section.protection, view.protection, "file")});
        if (section.paramsHidden.hidden)
            rows.append({QStringLiteral("    parameters"), hiddenLabel});
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
        text += row.first.leftJustified(width + 2) + coloured(row.second, colour)
                + QLatin1Char('\n');
    if (anyMarked)
        text += QStringLiteral("\nmarked: asked for protection by hand, still stored in plain; the "
                               "next change to the file stores it protected (drovik regen does "
                               "it now).\n");
    return text;
}

} // namespace

int checkKeyArgument(const CommandLine &line)
{
    if (isKeyPath(line.arguments().constFirst()))
        return Exit::Ok;
    return usageError(line.command(), QStringLiteral("KEY must be SECTION/PARAMETER"));
}

int runGet(Session &session, const CommandLine &line)
{
    const QString key = line.arguments().constFirst();
    const ParamView *param = session.view.param(key);
    const bool useDefault = !param && line.isSet(QStringLiteral("default"));
    const QVariant value = param ? param->value
            : useDefault         ? QVariant(line.value(QStringLiteral("default")))
                                 : QVariant();
    if (line.json()) {
        QJsonObject object {{QStringLiteral("key"), key},
                            {QStringLiteral("found"), param != nullptr}};
        if (param || useDefault)
            object.insert(QStringLiteral("value"), valueToJson(value));
        printOut(jsonText(object));
    }
    if (!param && !useDefault)
        return fail(Exit::NotFound, QStringLiteral("%1: no value at %2").arg(session.path(), key));
    if (!line.json())
        printOut(valueLines(value).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return Exit::Ok;
}

int runList(Session &session, const CommandLine &line)
{
    QStringList names;
    if (line.arguments().isEmpty()) {
        for (const SectionView &section : session.view.sections)
            names.append(section.name);
        printNames(line, QStringLiteral("sections"), names);
        return Exit::Ok;
    }
    const QString name = line.arguments().constFirst();
    const SectionView *section = session.view.section(name);
    if (!section)
        return fail(Exit::NotFound, QStringLiteral("%1: no section %2").arg(session.path(), name));
    for (const ParamView &param : section->params)
        names.append(param.name);
    printNames(line, QStringLiteral("parameters"), names, {{QStringLiteral("section"), name}});
    return Exit::Ok;
}

int runKeys(Session &session, const CommandLine &line)
{
    printNames(line, QStringLiteral("keys"), session.view.keyPaths());
    return Exit::Ok;
}

int runStatus(Session &session, const CommandLine &line)
{
    if (line.json()) {
        QJsonObject object = viewToJson(session.view, false);
        object.insert(QStringLiteral("file"), session.path());
        printOut(jsonText(object));
    } else {
        printOut(statusTree(session.path(), session.view, colourWanted()));
    }
    return Exit::Ok;
}

int runShow(Session &session, const CommandLine &line)
{
    if (session.hidden()) {
        // What show --json prints is meant to be fed back; a part of it is not.
        if (line.json())
            return fail(Exit::Usage,
                        QStringLiteral("%1: show --json needs the password (give "
                                       "--password-file, --password-command or DROVIK_PASSWORD)")
                                .arg(session.path()));
        note(QStringLiteral("%1: protected parts hidden: no password given").arg(session.path()));
    }
    if (line.json()) {
        QJsonObject object = viewToJson(session.view, true);
        object.insert(QStringLiteral("file"), session.path());
        printOut(jsonText(object));
    } else {
        printOut(iniText(session.view));
    }
    return Exit::Ok;
}
