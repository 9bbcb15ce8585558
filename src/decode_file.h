#ifndef DROVIK_DECODE_FILE_H
#define DROVIK_DECODE_FILE_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QVariant>

class QSettings;

namespace drovik {

// A file stored protected as a whole: fills "sections" and "sections-order".
// *found (never null) tells whether cipher data was present; a false result
// means it was, but the password is wrong.
bool decodeProtectedFile(const QSettings *settings, const QByteArray &password,
                         QMap<QString, QVariant> *tree, bool *found);

} // namespace drovik

#endif // DROVIK_DECODE_FILE_H
