#include "testutil.h"

#include <drovik/blowfish.h>

#include <QtTest/QtTest>

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

} // namespace

class tst_Blowfish : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithReference_data();
    void agreesWithReference();
};

void tst_Blowfish::agreesWithReference_data()
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

void tst_Blowfish::agreesWithReference()
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

QTEST_APPLESS_MAIN(tst_Blowfish)

#include "tst_blowfish.moc"
