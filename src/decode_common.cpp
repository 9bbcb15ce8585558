#include "loading.h"
#include "secure_wipe.h"

#include <drovik/drovik.h>

// Steps shared by the decoders of protected parameters, sections and files.

namespace drovik {

QMap<QString, QVariant> decodePayload(const QString &cipherText, const QString &publicKey,
                                      const QByteArray &password, int algorithm)
{
    QString plain = Drovik::decryptEncrypt(true, cipherText, publicKey, password, algorithm);
    QMap<QString, QVariant> payload = Drovik::textToTinyStruct(plain);
    secureWipe(plain); // the typed text holds every protected value in plain
    return payload;
}

bool chunkBeyondGap(const QStringList &chunkNames, const QString &chunkPrefix, int gap)
{
    for (const QString &name : chunkNames) {
        bool isIndex = false;
        const int index = QStringView(name).mid(chunkPrefix.size()).toInt(&isIndex, 10);
        if (isIndex && index > gap)
            return true;
    }
    return false;
}

} // namespace drovik
