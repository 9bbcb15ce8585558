#ifndef DROVIK_STORED_FILE_H
#define DROVIK_STORED_FILE_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

class QSettings;

namespace drovik {

// Loads the whole file into a tree the caller passes empty. False when some
// protected content does not open (the tree then holds what was loaded).
// needsSaving may be null; it is only ever set to true.
bool loadFile(const QSettings *settings, const QByteArray &password, QMap<QString, QVariant> *tree,
              bool *needsSaving);

// The sections stored in plain, each completed by loadSection().
bool loadPlainFile(const QSettings *settings, const QByteArray &password,
                   QMap<QString, QVariant> *tree, bool *needsSaving);

// Raw section nodes (every param node holding only "value"); appends the
// section names, in the order QSettings lists them, to order.
QMap<QString, QVariant> rawSections(const QSettings *settings, QStringList &order);

// Clears the file and writes the whole tree, every protected part under a
// fresh public key. Does not sync.
void saveFile(QSettings *settings, const QByteArray &password, const QMap<QString, QVariant> &tree);

// Whether every name that goes into a payload comes back unchanged: the typed
// payload text ends a name at U+0000 and turns an unpaired surrogate into '?',
// which would rename it, possibly onto another.
bool canSaveFaithfully(const QMap<QString, QVariant> &tree);

// saveFile() when canSaveFaithfully(), else false with nothing written.
bool saveFaithfully(QSettings *settings, const QByteArray &password,
                    const QMap<QString, QVariant> &tree);

// Loads, then saves at once when content marked by hand still needs protecting.
// False also when that save would not be faithful (nothing is written then).
bool loadWithSaving(QSettings *settings, const QByteArray &password, QMap<QString, QVariant> *tree);

} // namespace drovik

#endif // DROVIK_STORED_FILE_H
