#include "stored_payload.h"

#include "payload_cipher.h"
#include "secure_wipe.h"
#include "stored_names.h"
#include "value_codec.h"

// The typed text in between holds every protected value in plain, so it is
// wiped as soon as it has been encrypted or decoded.

namespace drovik {

QString encryptPayload(const QMap<QString, QVariant> &payload, const QByteArray &password,
                       QString *publicKey)
{
    QString text = toTypedText(payload);
    *publicKey = newPublicKey();
    const QString cipher = encryptText(text, *publicKey, password, stored::writtenAlgorithm);
    secureWipe(text);
    return cipher;
}

QMap<QString, QVariant> decryptPayload(const QString &cipherText, const QString &publicKey,
                                       const QByteArray &password, int algorithm)
{
    QString plain = decryptText(cipherText, publicKey, password, algorithm);
    QMap<QString, QVariant> payload = fromTypedText(plain);
    secureWipe(plain);
    return payload;
}

} // namespace drovik
