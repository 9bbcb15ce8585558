#include "secure_wipe.h"

#include <drovik/blowfish.h>
#include <drovik/drovik.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QDateTime>
#include <QtCore/QtGlobal>

// Payload cipher: UTF-8 plain text <-> base64 cipher text.
//
// Algorithm 2: Blowfish in ECB under the key base64(MD5(public key + password)),
// a 24-character text, i.e. six whole key words. Every other number: a keystream
// of MD5(public key + private key of block k + password), 16 bytes per block,
// XORed with the text; encrypting and decrypting are then the same operation.
// Decrypted bytes are cut at the first zero byte, which drops Blowfish's zero
// padding.

namespace {

constexpr int blowfishAlgorithm = 2;
constexpr int keystreamBlock = 16; // one MD5 digest

QByteArray keystreamXor(const QByteArray &input, const QByteArray &publicKey,
                        const QByteArray &password)
{
    QByteArray output(input.size(), Qt::Uninitialized);
    QCryptographicHash digest(QCryptographicHash::Md5);
    for (int pos = 0, block = 0; pos < input.size(); pos += keystreamBlock, ++block) {
        QByteArray privateKey = Drovik::getPrivateKey(block);
        digest.reset();
        digest.addData(publicKey);
        digest.addData(privateKey);
        digest.addData(password);
        QByteArray stream = digest.result();
        const int n = qMin(keystreamBlock, input.size() - pos);
        for (int j = 0; j < n; ++j)
            output[pos + j] = char(uchar(input.at(pos + j)) ^ uchar(stream.at(j)));
        drovik::secureWipe(stream);
        drovik::secureWipe(privateKey);
    }
    return output;
}

QByteArray blowfishCrypt(bool decrypt, const QByteArray &input, const QByteArray &publicKey,
                         const QByteArray &password)
{
    QCryptographicHash digest(QCryptographicHash::Md5);
    digest.addData(publicKey);
    digest.addData(password);
    QByteArray keyDigest = digest.result();
    QByteArray keyBase64 = keyDigest.toBase64();
    QString keyText = QString::fromLatin1(keyBase64);
    QBlowfish cipher(keyText);
    drovik::secureWipe(keyDigest);
    drovik::secureWipe(keyBase64);
    drovik::secureWipe(keyText);
    return decrypt ? cipher.decrypt(input) : cipher.encrypt(input);
}

} // namespace

QString Drovik::decryptEncrypt(bool decrypt, const QString &text, const QString &publicKey,
                               const QByteArray &password, int algorithm)
{
    const QByteArray publicBytes = publicKey.toUtf8();
    // The lenient decoder skips characters outside the alphabet instead of failing.
    QByteArray input = decrypt ? QByteArray::fromBase64(text.toUtf8()) : text.toUtf8();

    QByteArray output = (algorithm == blowfishAlgorithm)
            ? blowfishCrypt(decrypt, input, publicBytes, password)
            : keystreamXor(input, publicBytes, password);
    QString result;
    if (decrypt) {
        const int plainLength = int(qstrnlen(output.constData(), uint(output.size())));
        result = QString::fromUtf8(output.constData(), plainLength);
    } else {
        result = QString::fromLatin1(output.toBase64());
    }
    drovik::secureWipe(decrypt ? output : input);
    return result;
}

QString Drovik::genPublicKey()
{
    QCryptographicHash digest(QCryptographicHash::Md5);
    digest.addData(QDateTime::currentDateTime().toString(Qt::TextDate).toUtf8());
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    // The caller owns the sequence: the library never seeds it.
    digest.addData(QByteArray::number(qrand()));
    QT_WARNING_POP
    const QByteArray hex = digest.result().toHex();
    static const int picks[] = {1, 5, 22, 9, 8, 30};
    QString key;
    key.reserve(6);
    for (int pick : picks)
        key += QLatin1Char(hex.at(pick));
    return key;
}

QByteArray Drovik::getPrivateKey(int index)
{
    // Nine 16-bit units, most significant byte first. Odd units are fixed; the
    // even ones mix the block index in, chosen by its divisibility and parity,
    // so neighbouring blocks never share key material.
    const quint32 k = quint32(index);
    const quint16 units[9] = {
            quint16((k % 3 == 0) ? (k ^ 0x3c6eu) : ((k >> 2) ^ 0xa5b1u)),
            0x5a17,
            quint16((k & 1u) ? ((k >> 4) ^ 0x7d30u) : (k ^ 0xc3d2u)),
            0x1f2e,
            quint16((k >> 8) ^ 0x4e7au),
            0x9b64,
            quint16((k % 5 == 0) ? (0x2d81u ^ (k & 0xffu)) : ((k ^ 0xe1f9u) & 0xfff0u)),
            0x6c03,
            quint16(((k >> 1) ^ 0x8b5du) & 0xffffu),
    };
    QByteArray key(int(sizeof(units)), Qt::Uninitialized);
    for (int i = 0; i < 9; ++i) {
        key[2 * i] = char(units[i] >> 8);
        key[2 * i + 1] = char(units[i] & 0xffu);
    }
    return key;
}
