#ifndef DROVIK_TOOL_EDIT_CHANGES_H
#define DROVIK_TOOL_EDIT_CHANGES_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

class QSettings;
struct ConfigView;

// What the user changed in edited INI text, against the configuration the
// text was made from. Only these differences are applied, onto the file as it
// is then, so what another run changed meanwhile elsewhere survives.
struct EditChanges
{
    QStringList removedKeys;                // every key shown and deleted, a deleted section's too
    QList<QPair<QString, QVariant>> values; // key path and new value
    QStringList ignoredKeys;                // outside any section: the library keeps none

    bool isEmpty() const { return removedKeys.isEmpty() && values.isEmpty(); }
};

// A value counts as changed when its INI text differs, so an unchanged typed
// value (a number stored protected) is not rewritten as text.
EditChanges editChanges(const ConfigView &before, const QSettings &edited);

// The keys the user changed that another run changed too since before was
// loaded (now differs from before, and from what the user wants): applying
// would silently drop one of the two changes.
QStringList conflictingKeys(const EditChanges &changes, const ConfigView &before,
                            const ConfigView &now);

// The changes as they apply to now: keys already gone are not deleted again,
// and a section all of whose parameters go is deleted whole (into *sections).
QStringList keysToRemove(const EditChanges &changes, const ConfigView &now, QStringList *sections);

// Why QSettings refuses the text, naming the first line at fault, for the
// user to fix it; never quotes the line, which may hold a secret.
QString invalidIniReason(const QByteArray &text);

#endif // DROVIK_TOOL_EDIT_CHANGES_H
