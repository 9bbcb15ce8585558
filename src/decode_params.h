#ifndef DROVIK_DECODE_PARAMS_H
#define DROVIK_DECODE_PARAMS_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

namespace drovik {

// The loaders' needs-saving out-parameter may be null and is only ever set.
inline void markNeedsSaving(bool *needsSaving)
{
    if (needsSaving)
        *needsSaving = true;
}

// Rebuilds, inside one plainly stored section, every parameter whose switch
// "packed-param-enabled/<name>" reads true: decrypts its stored parts into a
// protected node, or flags a parameter still stored in plain for protection.
// Appends rebuilt names to order. False at the first wrong magic text; the
// parameters handled before it stay rebuilt, the others untouched.
bool decodeProtectedParams(const QByteArray &password, const QString &section,
                           QMap<QString, QVariant> *params, QStringList *order, bool *needsSaving);

} // namespace drovik

#endif // DROVIK_DECODE_PARAMS_H
