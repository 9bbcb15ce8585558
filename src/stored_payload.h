#ifndef DROVIK_STORED_PAYLOAD_H
#define DROVIK_STORED_PAYLOAD_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QVariant>

namespace drovik {

// Encrypts one payload map under a fresh public key, stored in *publicKey.
QString encryptPayload(const QMap<QString, QVariant> &payload, const QByteArray &password,
                       QString *publicKey);

// Decrypts one stored payload and decodes its typed text.
QMap<QString, QVariant> decryptPayload(const QString &cipherText, const QString &publicKey,
                                       const QByteArray &password, int algorithm);

} // namespace drovik

#endif // DROVIK_STORED_PAYLOAD_H
