#include "blowfish_reference.h"
#include "testutil.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
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
    void cipherLength_data();
    void cipherLength();
    void nulCutsText();
    void everyOtherNumberIsKeystream();
    void otherInputsGiveOtherText();
    void publicKeyShape();
    void privateKey();
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
    // clang-format on

    // Random texts from ASCII, Latin-1, Cyrillic, CJK and emoji (surrogate
    // pairs), never U+0000, under random keys and binary passwords.
    static const uint ranges[][2]
            = {{0x20, 0x7e}, {0xa0, 0xff}, {0x400, 0x4ff}, {0x4e00, 0x9fff}, {0x1f600, 0x1f64f}};
    QRandomGenerator random(52017);
    for (int row = 0; row < 40; ++row) {
        QString text;
        for (int n = random.bounded(1, 80); n > 0; --n) {
            const auto &range = ranges[random.bounded(5)];
            const char32_t code = range[0] + random.bounded(range[1] - range[0] + 1);
            text += QString::fromUcs4(&code, 1);
        }
        QByteArray password(row % 4 == 0 ? 0 : random.bounded(1, 20), Qt::Uninitialized);
        for (char &byte : password)
            byte = char(random.bounded(256));
        const QString key = QString::number(random.bounded(0x1000000), 16);
        QTest::addRow("random-%d", row)
                << text << key.rightJustified(6, QLatin1Char('0')) << password;
    }
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

void tst_PayloadCipher::cipherLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<int>("length");

    // Blowfish pads to whole 8-byte blocks; the keystream keeps the byte count.
    // Lengths count UTF-8 bytes, not characters.
    // clang-format off
    QTest::newRow("blowfish-1-byte")           << u"a"_s                 << blowfish  << 12;
    QTest::newRow("blowfish-4-chars-8-bytes")  << u"жжжж"_s              << blowfish  << 12;
    QTest::newRow("blowfish-9-bytes")          << u"abcdefghi"_s         << blowfish  << 24;
    QTest::newRow("keystream-1-byte")          << u"a"_s                 << keystream << 4;
    QTest::newRow("keystream-4-bytes")         << u"abcd"_s              << keystream << 8;
    QTest::newRow("keystream-3-chars-9-bytes") << u"中中中"_s            << keystream << 12;
    // clang-format on
}

void tst_PayloadCipher::cipherLength()
{
    QFETCH(QString, text);
    QFETCH(int, algorithm);
    QFETCH(int, length);
    QCOMPARE(encrypt(text, algorithm).size(), length);
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

void tst_PayloadCipher::otherInputsGiveOtherText()
{
    // Nothing reports a mismatch: the caller only sees other text.
    const QString text = u"Configuration encoding of a payload, version 2.0"_s;
    for (int algorithm : {blowfish, keystream}) {
        const QString cipher = encrypt(text, algorithm);
        QVERIFY(decrypt(cipher, algorithm, u"a1b2c3"_s, "correct horsf") != text);
        QVERIFY(decrypt(cipher, algorithm, u"a1b2c4"_s) != text);
        QVERIFY(decrypt(cipher, blowfish + keystream - algorithm) != text);
        QVERIFY(encrypt(text, algorithm, u"a1b2c4"_s) != cipher);
    }
}

void tst_PayloadCipher::publicKeyShape()
{
    const QRegularExpression shape(u"^[0-9a-f]{6}$"_s);
    for (int i = 0; i < 50; ++i) {
        const QString key = Drovik::genPublicKey();
        QVERIFY2(shape.match(key).hasMatch(), qPrintable(key));
    }
}

void tst_PayloadCipher::privateKey()
{
    QSet<QByteArray> seen;
    QSet<int> changedUnits;
    const QByteArray first = Drovik::getPrivateKey(0);
    for (int index = 0; index <= 50; ++index) {
        const QByteArray key = Drovik::getPrivateKey(index);
        QCOMPARE(key.size(), 18);
        QCOMPARE(Drovik::getPrivateKey(index), key);
        seen.insert(key);
        for (int unit = 0; unit < 9; ++unit) {
            if (key.mid(2 * unit, 2) != first.mid(2 * unit, 2))
                changedUnits.insert(unit);
        }
    }
    QCOMPARE(seen.size(), 51);
    QVERIFY2(changedUnits.size() >= 2, "fewer than two of the nine units depend on the index");
    QCOMPARE(Drovik::getPrivateKey(INT_MAX).size(), 18);
}

QTEST_APPLESS_MAIN(tst_PayloadCipher)
#include "tst_payload_cipher.moc"
