#include <drovik/drovik.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtTest/QtTest>

#include <climits>
#include <vector>

// OpenSSL's Blowfish serves only as an independent reference here; OpenSSL 3
// marks the low-level calls deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

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
    const std::vector<unsigned char> keyBytes(key.cbegin(), key.cend());
    BF_KEY schedule;
    BF_set_key(&schedule, int(keyBytes.size()), keyBytes.data());

    QByteArray plain = text.toUtf8();
    plain.append(QByteArray((8 - plain.size() % 8) % 8, '\0'));
    std::vector<unsigned char> buffer(plain.cbegin(), plain.cend());
    QByteArray cipher;
    for (std::size_t i = 0; i < buffer.size(); i += 8)
        BF_ecb_encrypt(&buffer[i], &buffer[i], &schedule, BF_ENCRYPT);
    for (unsigned char byte : buffer)
        cipher.append(char(byte));
    return QString::fromLatin1(cipher.toBase64());
}

// Block k of 16 bytes is XORed with MD5(public key, private key k, password).
QString referenceKeystream(const QString &text, const QString &publicKey,
                           const QByteArray &password)
{
    const QByteArray plain = text.toUtf8();
    QByteArray cipher;
    for (int pos = 0, block = 0; pos < plain.size(); pos += 16, ++block) {
        const QByteArray stream = md5(publicKey.toUtf8() + Drovik::getPrivateKey(block) + password);
        for (int j = 0; j < 16 && pos + j < plain.size(); ++j)
            cipher.append(char(uchar(plain.at(pos + j)) ^ uchar(stream.at(j))));
    }
    return QString::fromLatin1(cipher.toBase64());
}

QString encrypt(const QString &text, const QString &publicKey, const QByteArray &password,
                int algorithm)
{
    return Drovik::decryptEncrypt(false, text, publicKey, password, algorithm);
}

QString decrypt(const QString &cipher, const QString &publicKey, const QByteArray &password,
                int algorithm)
{
    return Drovik::decryptEncrypt(true, cipher, publicKey, password, algorithm);
}

const QString publicKey = QStringLiteral("a1b2c3");
const QByteArray password = QByteArrayLiteral("correct horse");

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
    void otherInputsGiveOtherText_data();
    void otherInputsGiveOtherText();
    void damagedCipherText();
    void publicKeyShape();
    void privateKey();
};

void tst_PayloadCipher::matchesIndependentComputation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("publicKey");
    QTest::addColumn<QByteArray>("password");

    // clang-format off
    QTest::newRow("empty-text")           << QString()                           << QStringLiteral("0a1b2c") << QByteArrayLiteral("secret");
    QTest::newRow("empty-text-and-password") << QString()                        << QStringLiteral("0a1b2c") << QByteArray();
    QTest::newRow("short")                << QStringLiteral("hi")                << QStringLiteral("0a1b2c") << QByteArrayLiteral("secret");
    QTest::newRow("one-whole-block")      << QStringLiteral("8 bytes!")          << QStringLiteral("ffffff") << QByteArrayLiteral("secret");
    QTest::newRow("17-bytes-two-streams") << QStringLiteral("seventeen bytes!!") << QStringLiteral("123abc") << QByteArrayLiteral("pw");
    QTest::newRow("empty-password")       << QStringLiteral("no password here")  << QStringLiteral("000000") << QByteArray();
    QTest::newRow("binary-password")      << QStringLiteral("x")                 << QStringLiteral("9f8e7d") << QByteArrayLiteral("\0\xff\x80 z");
    QTest::newRow("non-ascii-text")       << QStringLiteral("пароль 密码 ü")     << QStringLiteral("c0ffee") << QByteArrayLiteral("\xd0\xba\xd0\xbb");
    QTest::newRow("non-hex-public-key")   << QStringLiteral("any key text")      << QStringLiteral("ключ!")  << QByteArrayLiteral("pw");
    // clang-format on

    // Random texts from ASCII, Latin-1, Cyrillic, CJK and emoji (surrogate
    // pairs), never U+0000, under random keys and binary passwords.
    static const uint ranges[][2]
            = {{0x20, 0x7e}, {0xa0, 0xff}, {0x400, 0x4ff}, {0x4e00, 0x9fff}, {0x1f600, 0x1f64f}};
    QRandomGenerator random(52017);
    for (int row = 0; row < 60; ++row) {
        QString text;
        for (int n = random.bounded(1, 80); n > 0; --n) {
            const auto &range = ranges[random.bounded(5)];
            const uint code = range[0] + random.bounded(range[1] - range[0] + 1);
            text += QString::fromUcs4(&code, 1);
        }
        QByteArray password(row % 4 == 0 ? 0 : random.bounded(1, 20), Qt::Uninitialized);
        for (char &byte : password)
            byte = char(random.bounded(256));
        QTest::addRow("random-%d", row) << text
                                        << QString::number(random.bounded(0x1000000), 16)
                                                   .rightJustified(6, QLatin1Char('0'))
                                        << password;
    }
}

void tst_PayloadCipher::matchesIndependentComputation()
{
    QFETCH(QString, text);
    QFETCH(QString, publicKey);
    QFETCH(QByteArray, password);

    const QString viaBlowfish = referenceBlowfish(text, publicKey, password);
    QCOMPARE(encrypt(text, publicKey, password, blowfish), viaBlowfish);
    QCOMPARE(decrypt(viaBlowfish, publicKey, password, blowfish), text);

    const QString viaKeystream = referenceKeystream(text, publicKey, password);
    QCOMPARE(encrypt(text, publicKey, password, keystream), viaKeystream);
    QCOMPARE(decrypt(viaKeystream, publicKey, password, keystream), text);
}

void tst_PayloadCipher::cipherLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<int>("length");

    // Blowfish pads to whole 8-byte blocks; the keystream keeps the byte count.
    // clang-format off
    QTest::newRow("blowfish-1-byte")          << QStringLiteral("a")                 << blowfish  << 12;
    QTest::newRow("blowfish-8-bytes")         << QStringLiteral("abcdefgh")          << blowfish  << 12;
    QTest::newRow("blowfish-4-chars-8-bytes") << QStringLiteral("жжжж")              << blowfish  << 12;
    QTest::newRow("blowfish-9-bytes")         << QStringLiteral("abcdefghi")         << blowfish  << 24;
    QTest::newRow("blowfish-16-bytes")        << QStringLiteral("abcdefghijklmnop")  << blowfish  << 24;
    QTest::newRow("keystream-1-byte")         << QStringLiteral("a")                 << keystream << 4;
    QTest::newRow("keystream-4-bytes")        << QStringLiteral("abcd")              << keystream << 8;
    QTest::newRow("keystream-3-chars-9-bytes") << QStringLiteral("中中中")           << keystream << 12;
    QTest::newRow("keystream-17-bytes")       << QStringLiteral("abcdefghijklmnopq") << keystream << 24;
    // clang-format on
}

void tst_PayloadCipher::cipherLength()
{
    QFETCH(QString, text);
    QFETCH(int, algorithm);
    QFETCH(int, length);
    QCOMPARE(encrypt(text, publicKey, password, algorithm).size(), length);
}

void tst_PayloadCipher::nulCutsText()
{
    const QChar nul(0);
    const QPair<QString, QString> cases[]
            = {{QStringLiteral("abc") + nul + QStringLiteral("def"), QStringLiteral("abc")},
               {nul + QStringLiteral("def"), QString()},
               {QStringLiteral("жж") + nul + nul, QStringLiteral("жж")}};
    for (int algorithm : {blowfish, keystream}) {
        for (const auto &c : cases) {
            const QString cipher = encrypt(c.first, publicKey, password, algorithm);
            QCOMPARE(decrypt(cipher, publicKey, password, algorithm), c.second);
        }
    }
}

void tst_PayloadCipher::everyOtherNumberIsKeystream()
{
    const QString text = QStringLiteral("some payload of 33 bytes, ünicode");
    const QString cipher = encrypt(text, publicKey, password, 0);
    for (int algorithm : {1, 3, -1, 100, INT_MIN, INT_MAX}) {
        QCOMPARE(encrypt(text, publicKey, password, algorithm), cipher);
        QCOMPARE(decrypt(cipher, publicKey, password, algorithm), text);
    }
    QVERIFY(encrypt(text, publicKey, password, blowfish) != cipher);
}

void tst_PayloadCipher::otherInputsGiveOtherText_data()
{
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<QString>("otherPublicKey");
    QTest::addColumn<QByteArray>("otherPassword");
    QTest::addColumn<int>("otherAlgorithm");

    for (int algorithm : {blowfish, keystream}) {
        const char *name = algorithm == blowfish ? "blowfish" : "keystream";
        const int other = algorithm == blowfish ? keystream : blowfish;
        QTest::addRow("%s-wrong-password", name)
                << algorithm << publicKey << QByteArrayLiteral("correct horsf") << algorithm;
        QTest::addRow("%s-empty-password", name)
                << algorithm << publicKey << QByteArray() << algorithm;
        QTest::addRow("%s-other-public-key", name)
                << algorithm << QStringLiteral("a1b2c4") << password << algorithm;
        QTest::addRow("%s-read-as-other-algorithm", name)
                << algorithm << publicKey << password << other;
    }
}

void tst_PayloadCipher::otherInputsGiveOtherText()
{
    QFETCH(int, algorithm);
    QFETCH(QString, otherPublicKey);
    QFETCH(QByteArray, otherPassword);
    QFETCH(int, otherAlgorithm);

    const QString text = QStringLiteral("Configuration encoding of a payload, version 2.0");
    const QString cipher = encrypt(text, publicKey, password, algorithm);
    QVERIFY(cipher != encrypt(text, otherPublicKey, otherPassword, otherAlgorithm));
    // Nothing reports the mismatch: the caller only sees other text.
    const QString wrong = decrypt(cipher, otherPublicKey, otherPassword, otherAlgorithm);
    QVERIFY2(wrong != text, qPrintable(wrong));
}

void tst_PayloadCipher::damagedCipherText()
{
    const QString text = QStringLiteral("a value that spans several blocks");
    for (int algorithm : {blowfish, keystream}) {
        const QString cipher = encrypt(text, publicKey, password, algorithm);
        // A hand-edited file may wrap or indent the text: the reader skips
        // whatever is outside the base64 alphabet.
        QString wrapped = cipher;
        wrapped.insert(10, QStringLiteral("\n  "));
        QCOMPARE(decrypt(wrapped, publicKey, password, algorithm), text);
        QVERIFY(decrypt(cipher.left(cipher.size() - 5), publicKey, password, algorithm) != text);
        QVERIFY(decrypt(QStringLiteral("!!not base64**"), publicKey, password, algorithm) != text);
    }
}

void tst_PayloadCipher::publicKeyShape()
{
    const QRegularExpression shape(QStringLiteral("^[0-9a-f]{6}$"));
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
    for (int index : {65536, INT_MAX})
        QCOMPARE(Drovik::getPrivateKey(index).size(), 18);
}

QTEST_APPLESS_MAIN(tst_PayloadCipher)
#include "tst_payload_cipher.moc"
