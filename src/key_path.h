#ifndef DROVIK_KEY_PATH_H
#define DROVIK_KEY_PATH_H

#include <QtCore/QString>

namespace drovik {

// Where a key path splits into section and parameter: its first '/' or '\\',
// or -1 when it has neither. Only the first separator splits, so parameter
// names may hold further slashes or backslashes.
int keyPathSplit(const QString &key);

// Splits key into its section and parameter; false, outputs untouched, when it
// has no separator.
bool splitKeyPath(const QString &key, QString &section, QString &param);

} // namespace drovik

#endif // DROVIK_KEY_PATH_H
