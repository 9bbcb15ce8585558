#include "edit_changes.h"

#include "config_view.h"
#include "ini_text.h"
#include "typed_value.h"

#include <drovik/drovik.h>

#include <QtCore/QSet>
#include <QtCore/QSettings>

EditChanges editChanges(const ConfigView &before, const QSettings &edited)
{
    EditChanges changes;
    QSet<QString> sections;
    QSet<QString> keys;
    const QStringList editedKeys = edited.allKeys();
    for (const QString &key : editedKeys) {
        QString section;
        QString param;
        if (!Drovik::parseSectionParamByKey(key, section, param)) {
            changes.ignoredKeys.append(key);
            continue;
        }
        sections.insert(section);
        keys.insert(key);
        const QVariant value = edited.value(key);
        const ParamView *old = before.param(key);
        if (!old)
            changes.values.append({key, value});
        else if (iniValueText(old->value) != iniValueText(value))
            changes.values.append({key, withKindOf(old->value, value)});
    }
    for (const SectionView &section : before.sections) {
        if (!sections.contains(section.name)) {
            changes.removedSections.append(section.name);
            continue;
        }
        for (const ParamView &param : section.params) {
            const QString key = section.name + QLatin1Char('/') + param.name;
            if (!keys.contains(key))
                changes.removedKeys.append(key);
        }
    }
    return changes;
}
