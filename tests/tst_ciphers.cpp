// The ciphers: QBlowfish against OpenSSL's Blowfish, and the payload cipher
// of both algorithms against a computation rebuilt from its published parts.
#include "testutil.h"

#include <drovik/blowfish.h>

#include <QtCore/QCryptographicHash>
#include <QtTest/QtTest>

#include <climits>

// OpenSSL's Blowfish serves only as an independent reference; OpenSSL 3 marks
// the low-level calls deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

namespace {

// Zero bytes up to a whole number of 8-byte blocks.
QByteArray zeroPadded(const QByteArray &data)
{
    return data + QByteArray(-data.size() & 7, '\0');
}

// ECB with OpenSSL's key schedule over the raw key bytes, the last block
// zero-filled. OpenSSL cycles key bytes where QBlowfish cycles whole words, so
// the two agree only for keys whose length is a multiple of 4.
QByteArray referenceEcb(const QByteArray &key, const QByteArray &data, int direction = BF_ENCRYPT)
{
    BF_KEY schedule;
    BF_set_key(&schedule, key.size(), reinterpret_cast<const unsigned char *>(key.constData()));
    QByteArray out = zeroPadded(data);
    auto *bytes = reinterpret_cast<unsigned char *>(out.data());
    for (int i = 0; i < out.size(); i += 8)
        BF_ecb_encrypt(bytes + i, bytes + i, &schedule, direction);
    return out;
}

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

class tst_Ciphers : public QObject
{
    Q_OBJECT

private slots:
    void blowfishAgreesWithOpenSsl_data();
    void blowfishAgreesWithOpenSsl();
    void payloadMatchesItsParts_data();
    void payloadMatchesItsParts();
};

void tst_Ciphers::blowfishAgreesWithOpenSsl_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("rekey");       // applied after key; a short one is ignored
    QTest::addColumn<QByteArray>("keyBytes"); // the same schedule for OpenSSL
    QTest::addColumn<QByteArray>("plain");

    const QByteArray two = QByteArray::fromHex("0123456789abcdeffedcba9876543210");
    QString longKey;
    for (int i = 0; i < 100; ++i)
        longKey.append(QLatin1Char(char('!' + (i * 7) % 90)));
    const QString first = u"the first key in force!!"_s;
    const QByteArray zeros(8, '\0');
    const QByteArray ones(8, '\xff');
    // The last key word is zero-filled and words are cycled, where the published
    // schedule cycles bytes: the same only for whole words. Each character gives
    // the low byte of its UTF-16 code unit; only the first 72 characters count.
    // The padding is zeros and is never removed.
    // clang-format off
    QTest::newRow("zero-key-and-block")   << QString(8, QChar())    << QString() << zeros                                     << zeros;
    QTest::newRow("all-ones-key")         << QString(8, QChar(0xff)) << QString() << ones                                     << ones;
    QTest::newRow("5-chars-zero-filled")  << u"k3Y!p"_s             << QString() << QByteArray("k3Y!p\0\0\0", 8)              << two;
    QTest::newRow("7-chars-zero-filled")  << u"k3Y!pas"_s           << QString() << QByteArray("k3Y!pas\0", 8)                << two;
    QTest::newRow("13-chars-zero-filled") << u"k3Y!pass#word"_s     << QString() << QByteArray("k3Y!pass#word\0\0\0", 16)     << two;
    QTest::newRow("low-bytes-of-utf16")   << u"中Ωéÿxyzw"_s         << QString() << QByteArrayLiteral("\x2D\xA9\xE9\xFFxyzw") << two;
    QTest::newRow("only-first-72-chars")  << longKey                << QString() << longKey.left(72).toLatin1()               << two;
    QTest::newRow("3-char-rekey-ignored") << first                  << u"abc"_s  << first.toLatin1()                          << two;
    QTest::newRow("4-char-rekey-applied") << first                  << u"abcd"_s << QByteArrayLiteral("abcd")                 << two;
    QTest::newRow("empty-stays-empty")    << first                  << QString() << first.toLatin1()                          << QByteArray();
    QTest::newRow("3-bytes-padded-to-8")  << first                  << QString() << first.toLatin1()                          << QByteArrayLiteral("\xa0\xa1\xa2");
    QTest::newRow("9-bytes-padded-to-16") << first                  << QString() << first.toLatin1()                          << QByteArrayLiteral("\xa0\xa1\xa2\xa3\xa4\xa5\xa6\xa7\xa8");
    // clang-format on
}

void tst_Ciphers::blowfishAgreesWithOpenSsl()
{
    QFETCH(QString, key);
    QFETCH(QString, rekey);
    QFETCH(QByteArray, keyBytes);
    QFETCH(QByteArray, plain);

    QBlowfish bf(key);
    if (!rekey.isNull())
        bf.calcSubKey(rekey);
    const QByteArray cipher = bf.encrypt(plain);
    QCOMPARE(cipher, referenceEcb(keyBytes, plain));
    QCOMPARE(bf.decrypt(cipher), zeroPadded(plain));
    // A cut cipher text is zero-filled to whole blocks before decrypting.
    const QByteArray cut = cipher.left(cipher.size() - 3);
    QCOMPARE(bf.decrypt(cut), referenceEcb(keyBytes, cut, BF_DECRYPT));
}

void tst_Ciphers::payloadMatchesItsParts_data()
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

void tst_Ciphers::payloadMatchesItsParts()
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

QTEST_APPLESS_MAIN(tst_Ciphers)
#include "tst_ciphers.moc"
