#include "testutil.h"

#include <drovik/blowfish.h>

#include <QtCore/QCryptographicHash>
#include <QtTest/QtTest>

#include <climits>

namespace {

QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

// The Blowfish algorithm rebuilt from its parts (the block cipher itself is
// checked against OpenSSL on its own): ECB under the base64 text of
// MD5(public key, password).
QString referenceBlowfish(const QString &text, const QString &publicKey, const QByteArray &password)
{
    QBlowfish cipher(QString::fromLatin1(md5(publicKey.toUtf8() + password).toBase64()));
    return QString::fromLatin1(cipher.encrypt(text.toUtf8()).toBase64());
}

// Block k of 16 bytes is XORed with MD5(public key, private key k, password).
QString referenceKeystream(const QString &text, const QString &publicKey,
                           const QByteArray &password)
{
    QByteArray bytes = text.toUtf8();
    for (int pos = 0; pos < bytes.size(); pos += 16) {
        const QByteArray stream
                = md5(publicKey.toUtf8() + Drovik::getPrivateKey(pos / 16) + password);
        for (int j = 0; j < 16 && pos + j < bytes.size(); ++j)
            bytes[pos + j] = char(bytes.at(pos + j) ^ stream.at(j));
    }
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

class tst_PayloadCipher : public QObject
{
    Q_OBJECT

private slots:
    void matchesIndependentComputation_data();
    void matchesIndependentComputation();
};

void tst_PayloadCipher::matchesIndependentComputation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("publicKey");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("keystream"); // any algorithm number but 2 (Blowfish)
    QTest::addColumn<QString>("readBack");

    const QString cyrillic(4800, u'ж');
    // clang-format off
    QTest::newRow("empty-text")           << QString()              << u"0a1b2c"_s << QByteArray()                            << 0       << QString();
    QTest::newRow("short")                << u"hi"_s                << u"0a1b2c"_s << QByteArrayLiteral("secret")             << 1       << u"hi"_s;
    QTest::newRow("17-bytes-two-streams") << u"seventeen bytes!!"_s << u"123abc"_s << QByteArrayLiteral("pw")                 << 3       << u"seventeen bytes!!"_s;
    QTest::newRow("binary-password")      << u"x"_s                 << u"9f8e7d"_s << QByteArrayLiteral("\0\xff\x80 z")       << -1      << u"x"_s;
    QTest::newRow("non-ascii-text")       << u"пароль 密码 ü"_s     << u"c0ffee"_s << QByteArrayLiteral("\xd0\xba\xd0\xbb")   << INT_MIN << u"пароль 密码 ü"_s;
    QTest::newRow("non-hex-public-key")   << u"any key text"_s      << u"ключ!"_s  << QByteArrayLiteral("pw")                 << INT_MAX << u"any key text"_s;
    QTest::newRow("300-streams")          << cyrillic               << u"5e6f70"_s << QByteArrayLiteral("pw")                 << 0       << cyrillic;
    // Decrypted bytes end at the first zero byte, which drops Blowfish's padding.
    QTest::newRow("nul-cuts-read-back")   << u"abc\0def"_s          << u"0a1b2c"_s << QByteArrayLiteral("pw")                 << 0       << u"abc"_s;
    QTest::newRow("leading-nul")          << u"\0def"_s             << u"0a1b2c"_s << QByteArrayLiteral("pw")                 << 1       << QString();
    // clang-format on
}

void tst_PayloadCipher::matchesIndependentComputation()
{
    QFETCH(QString, text);
    QFETCH(QString, publicKey);
    QFETCH(QByteArray, password);
    QFETCH(int, keystream);
    QFETCH(QString, readBack);

    for (const int algorithm : {2, keystream}) {
        const QString cipher = algorithm == 2 ? referenceBlowfish(text, publicKey, password)
                                              : referenceKeystream(text, publicKey, password);
        QCOMPARE(Drovik::decryptEncrypt(false, text, publicKey, password, algorithm), cipher);
        QCOMPARE(Drovik::decryptEncrypt(true, cipher, publicKey, password, algorithm), readBack);
    }
}

QTEST_APPLESS_MAIN(tst_PayloadCipher)
#include "tst_payload_cipher.moc"
