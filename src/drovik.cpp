#include "key_path.h"
#include "payload_cipher.h"
#include "value_codec.h"

#include <drovik/drovik.h>

// The public class only forwards: the work lives in namespace drovik, whose
// layers call each other directly and never come back through here.

bool Drovik::parseSectionParamByKey(const QString &key, QString &section, QString &param)
{
    return drovik::splitKeyPath(key, section, param);
}

QString Drovik::tinyStrictToText(const QMap<QString, QVariant> &map)
{
    return drovik::toTypedText(map);
}

QMap<QString, QVariant> Drovik::textToTinyStruct(const QString &text)
{
    return drovik::fromTypedText(text);
}

QString Drovik::decryptEncrypt(bool decrypt, const QString &text, const QString &publicKey,
                               const QByteArray &password, int algorithm)
{
    return decrypt ? drovik::decryptText(text, publicKey, password, algorithm)
                   : drovik::encryptText(text, publicKey, password, algorithm);
}

QString Drovik::genPublicKey()
{
    return drovik::newPublicKey();
}

QByteArray Drovik::getPrivateKey(int index)
{
    return drovik::keystreamPrivateKey(index);
}
