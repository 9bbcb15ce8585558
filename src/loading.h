#ifndef DROVIK_LOADING_H
#define DROVIK_LOADING_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

namespace drovik {

// Rebuilds, inside one plainly stored section, every parameter whose switch
// "packed-param-enabled/<name>" reads true: decrypts its stored parts into a
// protected node, or flags a parameter still stored in plain for protection.
// Appends rebuilt names to order. False at the first wrong magic text; the
// parameters handled before it stay rebuilt, the others untouched.
bool decodeProtectedParams(const QByteArray &password, const QString &section,
                           QMap<QString, QVariant> *params, QStringList *order, bool *needsSaving);

// Decrypts one stored payload and decodes its typed text, wiping the plain text.
QMap<QString, QVariant> decodePayload(const QString &cipherText, const QString &publicKey,
                                      const QByteArray &password, int algorithm);

// True when one of the names (already known to start with chunkPrefix) is the
// chunk key of an index beyond the first missing one. Joining stops at a gap, and
// under ECB the part before the gap still decrypts: a payload whose check text
// sorts before the cut would load with its last values truncated, and the next
// save would store them so. Such damage is refused like a wrong password.
bool chunkBeyondGap(const QStringList &chunkNames, const QString &chunkPrefix, int gap);

inline void raise(bool *flag)
{
    if (flag)
        *flag = true;
}

} // namespace drovik

#endif // DROVIK_LOADING_H
