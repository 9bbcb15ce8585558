#ifndef DROVIK_PAYLOAD_CIPHER_H
#define DROVIK_PAYLOAD_CIPHER_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace drovik {

// Plain text to base64 cipher text and back under a public key and a password.
// Algorithm 2 is Blowfish, any other number the keystream algorithm. Never
// fails: a wrong password just yields other text.
QString encryptText(const QString &text, const QString &publicKey, const QByteArray &password,
                    int algorithm);
QString decryptText(const QString &cipherText, const QString &publicKey, const QByteArray &password,
                    int algorithm);

// A fresh public key: 6 lowercase hexadecimal digits.
QString newPublicKey();

// Built-in key material of the keystream algorithm: 18 bytes for one block.
QByteArray keystreamPrivateKey(int block);

} // namespace drovik

#endif // DROVIK_PAYLOAD_CIPHER_H
