#include "blowfish_reference.h"
#include "testutil.h"

#include <QtCore/QCryptographicHash>
#include <QtTest/QtTest>

#include <climits>

namespace {

const int blowfish = 2;
const int keystream = 0;

QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

// The Blowfish algorithm rebuilt from its parts: the key is the base64 text of
// MD5(public key, password), 24 characters and so whole key words, where
// OpenSSL's byte-wise key schedule agrees with ours.
QString referenceBlowfish(const QString &text, const QString &publicKey, const QByteArray &password)
{
    const QByteArray key = md5(publicKey.toUtf8() + password).toBase64();
    return QString::fromLatin1(testutil::referenceEcb(key, text.toUtf8()).toBase64());
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

QString encrypt(const QString &text, int algorithm, const QString &publicKey = u"a1b2c3"_s,
                const QByteArray &password = "correct horse")
{
    return Drovik::decryptEncrypt(false, text, publicKey, password, algorithm);
}

QString decrypt(const QString &cipher, int algorithm, const QString &publicKey = u"a1b2c3"_s,
                const QByteArray &password = "correct horse")
{
    return Drovik::decryptEncrypt(true, cipher, publicKey, password, algorithm);
}

} // namespace

class tst_PayloadCipher : public QObject
{
    Q_OBJECT

private slots:
    void matchesIndependentComputation_data();
    void matchesIndependentComputation();
    void nulCutsText();
    void everyOtherNumberIsKeystream();
};

void tst_PayloadCipher::matchesIndependentComputation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("publicKey");
    QTest::addColumn<QByteArray>("password");

    // clang-format off
    QTest::newRow("empty-text")           << QString()                << u"0a1b2c"_s << QByteArray();
    QTest::newRow("short")                << u"hi"_s                  << u"0a1b2c"_s << QByteArrayLiteral("secret");
    QTest::newRow("17-bytes-two-streams") << u"seventeen bytes!!"_s   << u"123abc"_s << QByteArrayLiteral("pw");
    QTest::newRow("binary-password")      << u"x"_s                   << u"9f8e7d"_s << QByteArrayLiteral("\0\xff\x80 z");
    QTest::newRow("non-ascii-text")       << u"пароль 密码 ü"_s       << u"c0ffee"_s << QByteArrayLiteral("\xd0\xba\xd0\xbb");
    QTest::newRow("non-hex-public-key")   << u"any key text"_s        << u"ключ!"_s  << QByteArrayLiteral("pw");
    QTest::newRow("300-streams")          << QString(4800, u'ж')       << u"5e6f70"_s << QByteArrayLiteral("pw");
    // clang-format on
}

void tst_PayloadCipher::matchesIndependentComputation()
{
    QFETCH(QString, text);
    QFETCH(QString, publicKey);
    QFETCH(QByteArray, password);

    const QString viaBlowfish = referenceBlowfish(text, publicKey, password);
    QCOMPARE(encrypt(text, blowfish, publicKey, password), viaBlowfish);
    QCOMPARE(decrypt(viaBlowfish, blowfish, publicKey, password), text);

    const QString viaKeystream = referenceKeystream(text, publicKey, password);
    QCOMPARE(encrypt(text, keystream, publicKey, password), viaKeystream);
    QCOMPARE(decrypt(viaKeystream, keystream, publicKey, password), text);
}

void tst_PayloadCipher::nulCutsText()
{
    for (int algorithm : {blowfish, keystream}) {
        QCOMPARE(decrypt(encrypt(u"abc\0def"_s, algorithm), algorithm), u"abc"_s);
        QCOMPARE(decrypt(encrypt(u"\0def"_s, algorithm), algorithm), QString());
    }
}

void tst_PayloadCipher::everyOtherNumberIsKeystream()
{
    const QString text = u"some payload of 33 bytes, ünicode"_s;
    const QString cipher = encrypt(text, 0);
    for (int algorithm : {1, 3, -1, INT_MIN, INT_MAX}) {
        QCOMPARE(encrypt(text, algorithm), cipher);
        QCOMPARE(decrypt(cipher, algorithm), text);
    }
    QVERIFY(encrypt(text, blowfish) != cipher);
}

QTEST_APPLESS_MAIN(tst_PayloadCipher)
#include "tst_payload_cipher.moc"
