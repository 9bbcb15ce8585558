#ifndef DROVIK_TOOL_EDIT_CHANGES_H
#define DROVIK_TOOL_EDIT_CHANGES_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

class QSettings;
struct ConfigView;

// What edited INI text changes in the configuration it was made from. Only
// the differences are applied, so changes that another run made to other
// parts in the meantime survive.
struct EditChanges
{
    QStringList removedSections;
    QStringList removedKeys;                // of sections that remain
    QList<QPair<QString, QVariant>> values; // key path and new value
    QStringList ignoredKeys;                // outside any section: the library keeps none

    bool isEmpty() const
    {
        return removedSections.isEmpty() && removedKeys.isEmpty() && values.isEmpty();
    }
};

// A value counts as changed when its INI text differs, so an unchanged typed
// value (a number stored protected) is not rewritten as text.
EditChanges editChanges(const ConfigView &before, const QSettings &edited);

#endif // DROVIK_TOOL_EDIT_CHANGES_H
