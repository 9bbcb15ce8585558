#include "edit_changes.h"

#include "config_view.h"
#include "ini_text.h"
#include "typed_value.h"

#include <drovik/drovik.h>

#include <QtCore/QSet>
#include <QtCore/QSettings>

namespace {

// A missing parameter is the null text, apart from any value's text.
QString textOf(const ParamView *param)
{
    return param ? iniValueText(param->value) : QString();
}

} // namespace

EditChanges editChanges(const ConfigView &before, const QSettings &edited)
{
    EditChanges changes;
    QSet<QString> keys;
    const QStringList editedKeys = edited.allKeys();
    for (const QString &key : editedKeys) {
        QString section;
        QString param;
        if (!Drovik::parseSectionParamByKey(key, section, param)) {
            changes.ignoredKeys.append(key);
            continue;
        }
        keys.insert(key);
        const QVariant value = edited.value(key);
        const ParamView *old = before.param(key);
        if (!old)
            changes.values.append({key, value});
        else if (iniValueText(old->value) != iniValueText(value))
            changes.values.append({key, withKindOf(old->value, value)});
    }
    for (const QString &key : before.keyPaths()) {
        if (!keys.contains(key))
            changes.removedKeys.append(key);
    }
    return changes;
}

QStringList conflictingKeys(const EditChanges &changes, const ConfigView &before,
                            const ConfigView &now)
{
    QStringList conflicts;
    const auto check = [&](const QString &key, const QString &wanted) {
        const QString current = textOf(now.param(key));
        // Both runs made the same change: nothing is lost.
        if (current != wanted && current != textOf(before.param(key)))
            conflicts.append(key);
    };
    for (const auto &change : changes.values)
        check(change.first, iniValueText(change.second));
    for (const QString &key : changes.removedKeys)
        check(key, QString());
    return conflicts;
}

QStringList keysToRemove(const EditChanges &changes, const ConfigView &now, QStringList *sections)
{
    const QSet<QString> removed(changes.removedKeys.cbegin(), changes.removedKeys.cend());
    QSet<QString> setSections;
    for (const auto &change : changes.values) {
        QString section;
        QString param;
        Drovik::parseSectionParamByKey(change.first, section, param);
        setSections.insert(section);
    }
    QStringList keys;
    for (const SectionView &section : now.sections) {
        QStringList sectionKeys;
        for (const ParamView &param : section.params) {
            const QString key = section.name + QLatin1Char('/') + param.name;
            if (removed.contains(key))
                sectionKeys.append(key);
        }
        // Keys another run added meanwhile were never shown, so never deleted.
        // A section that gets a new key (a renamed one) stays, with its protection.
        if (!sectionKeys.isEmpty() && sectionKeys.size() == section.params.size()
            && !setSections.contains(section.name))
            sections->append(section.name);
        else
            keys += sectionKeys;
    }
    return keys;
}

QString invalidIniReason(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QByteArray line = lines.at(index).trimmed();
        const char *problem = nullptr;
        if (line.startsWith('[') && !line.contains(']'))
            problem = "a section header without ']'";
        else if (!line.isEmpty() && !line.startsWith('[') && !line.startsWith(';')
                 && !line.contains('='))
            problem = "neither [section], key=value nor a ';' comment";
        if (problem)
            return QStringLiteral("line %1: %2").arg(index + 1).arg(QLatin1String(problem));
    }
    return QStringLiteral("QSettings cannot read it as INI");
}
