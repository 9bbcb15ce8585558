#include "payload_cipher.h"
#include "qt_compat.h"
#include "secure_wipe.h"

#include <drovik/blowfish.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QDateTime>
#include <QtCore/QtGlobal>

#include <array>

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
        QByteArray privateKey = drovik::keystreamPrivateKey(block);
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

// Base64 straight between QString and bytes. Payloads of whole files run to
// megabytes, and going through QByteArray::fromBase64(text.toUtf8()) and
// QString::fromLatin1(bytes.toBase64()) costs a second copy and a slower
// decoding loop.
const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Like QByteArray::fromBase64() with default options: every character outside
// the alphabet ('=' included) is skipped, and bits left over at the end are
// dropped.
QByteArray fromBase64(const QString &text)
{
    static const auto digitValues = [] {
        std::array<signed char, 128> values {};
        values.fill(-1);
        for (int i = 0; i < 64; ++i)
            values[std::size_t(base64Alphabet[i])] = static_cast<signed char>(i);
        return values;
    }();
    const auto valueOf = [](QChar c) {
        const ushort u = c.unicode();
        return u < 128 ? int(digitValues[u]) : -1;
    };
    QByteArray bytes(text.size() / 4 * 3 + 3, Qt::Uninitialized);
    char *out = bytes.data();
    quint32 bits = 0;
    int bitCount = 0;
    const QChar *c = text.constData();
    const QChar *const end = c + text.size();
    while (c != end) {
        // Cipher text is all alphabet but its padding: four digits on a byte
        // boundary make three bytes at once.
        if (bitCount == 0 && end - c >= 4) {
            const int d0 = valueOf(c[0]), d1 = valueOf(c[1]), d2 = valueOf(c[2]),
                      d3 = valueOf(c[3]);
            if ((d0 | d1 | d2 | d3) >= 0) {
                const quint32 group = (quint32(d0) << 18) | (quint32(d1) << 12) | (quint32(d2) << 6)
                        | quint32(d3);
                *out++ = char(uchar(group >> 16));
                *out++ = char(uchar(group >> 8));
                *out++ = char(uchar(group));
                c += 4;
                continue;
            }
        }
        const int digit = valueOf(*c++);
        if (digit < 0)
            continue;
        bits = (bits << 6) | quint32(digit);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            *out++ = char(uchar(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    bytes.truncate(int(out - bytes.constData()));
    return bytes;
}

// Like QByteArray::toBase64() with default options: padded with '='.
QString toBase64(const QByteArray &bytes)
{
    const int size = bytes.size();
    QString text((size + 2) / 3 * 4, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const uchar *>(bytes.constData());
    QChar *out = text.data();
    int i = 0;
    for (; i + 3 <= size; i += 3) {
        const quint32 group = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | in[i + 2];
        *out++ = QLatin1Char(base64Alphabet[group >> 18]);
        *out++ = QLatin1Char(base64Alphabet[(group >> 12) & 0x3f]);
        *out++ = QLatin1Char(base64Alphabet[(group >> 6) & 0x3f]);
        *out++ = QLatin1Char(base64Alphabet[group & 0x3f]);
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const quint32 group = (quint32(in[i]) << 16) | (two ? quint32(in[i + 1]) << 8 : 0u);
        *out++ = QLatin1Char(base64Alphabet[group >> 18]);
        *out++ = QLatin1Char(base64Alphabet[(group >> 12) & 0x3f]);
        *out++ = two ? QLatin1Char(base64Alphabet[(group >> 6) & 0x3f]) : QLatin1Char('=');
        *out++ = QLatin1Char('=');
    }
    return text;
}

// Both directions share every step but the base64 side.
QString crypt(bool decrypt, const QString &text, const QString &publicKey,
              const QByteArray &password, int algorithm)
{
    const QByteArray publicBytes = publicKey.toUtf8();
    // The lenient decoder skips characters outside the alphabet instead of failing.
    QByteArray input = decrypt ? fromBase64(text) : text.toUtf8();

    QByteArray output = (algorithm == blowfishAlgorithm)
            ? blowfishCrypt(decrypt, input, publicBytes, password)
            : keystreamXor(input, publicBytes, password);
    QString result;
    if (decrypt) {
        const int plainLength = int(qstrnlen(output.constData(), uint(output.size())));
        result = QString::fromUtf8(output.constData(), plainLength);
    } else {
        result = toBase64(output);
    }
    drovik::secureWipe(decrypt ? output : input);
    return result;
}

} // namespace

namespace drovik {

QString encryptText(const QString &text, const QString &publicKey, const QByteArray &password,
                    int algorithm)
{
    return crypt(false, text, publicKey, password, algorithm);
}

QString decryptText(const QString &cipherText, const QString &publicKey, const QByteArray &password,
                    int algorithm)
{
    return crypt(true, cipherText, publicKey, password, algorithm);
}

QString newPublicKey()
{
    QCryptographicHash digest(QCryptographicHash::Md5);
    digest.addData(QDateTime::currentDateTime().toString(Qt::TextDate).toUtf8());
    // The caller owns the sequence: the library never seeds it.
    digest.addData(QByteArray::number(drovik::unseededDraw()));
    const QByteArray hex = digest.result().toHex();
    static const int picks[] = {1, 5, 22, 9, 8, 30};
    QString key;
    key.reserve(6);
    for (int pick : picks)
        key += QLatin1Char(hex.at(pick));
    return key;
}

QByteArray keystreamPrivateKey(int index)
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

} // namespace drovik
