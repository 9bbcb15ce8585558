#ifndef DROVIK_DECODE_SECTION_H
#define DROVIK_DECODE_SECTION_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QVariant>

namespace drovik {

// Completes one raw section node: protected, marked or plain. False when some
// protected content in it does not open; needsSaving may be null.
bool loadSection(const QByteArray &password, const QString &section,
                 QMap<QString, QVariant> *sectionNode, bool *needsSaving);

// A section stored in plain: drops stale magic keys and decodes its protected parameters.
bool loadPlainSection(const QByteArray &password, const QString &section,
                      QMap<QString, QVariant> *sectionNode, QMap<QString, QVariant> *params,
                      bool *needsSaving);

// A section stored protected. *found (never null) tells whether cipher data was
// present; a false result means it was, but the password is wrong.
bool decodeProtectedSection(const QByteArray &password, const QString &section,
                            QMap<QString, QVariant> *sectionNode, QMap<QString, QVariant> *params,
                            bool *found);

} // namespace drovik

#endif // DROVIK_DECODE_SECTION_H
