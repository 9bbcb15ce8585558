#include "blowfish_reference.h"
#include "testutil.h"

#include <drovik/blowfish.h>

#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QStandardPaths>
#include <QtTest/QtTest>

using testutil::referenceEcb;
using testutil::zeroPadded;

namespace {

// A key whose characters are exactly the given bytes (NULs included).
QString keyFromBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

const QByteArray samplePlain = QByteArray::fromHex("0123456789abcdeffedcba9876543210");

} // namespace

class tst_Blowfish : public QObject
{
    Q_OBJECT

private slots:
    void initialTable();
    void tableMatchesGenerator_data();
    void tableMatchesGenerator();
    void knownAnswers_data();
    void knownAnswers();
    void agreesWithReference_data();
    void agreesWithReference();

    void keySchedule_data();
    void keySchedule();
    void shortKeyKeepsKeying_data();
    void shortKeyKeepsKeying();

    void padding_data();
    void padding();
    void truncatedCipherIsZeroFilled();
    void get32Batch_data();
    void get32Batch();
};

void tst_Blowfish::initialTable()
{
    // The published digits of pi at the edges of the P-array and the S-boxes.
    QCOMPARE(QBlowfish::hexPi[0], 0x243F6A88u);
    QCOMPARE(QBlowfish::hexPi[17], 0x8979FB1Bu);
    QCOMPARE(QBlowfish::hexPi[18], 0xD1310BA6u);
    QCOMPARE(QBlowfish::hexPi[1041], 0x3AC372E6u);
}

void tst_Blowfish::tableMatchesGenerator_data()
{
    QTest::addColumn<bool>("altered");
    QTest::addColumn<int>("expectedExit");
    QTest::newRow("table-in-tree-matches") << false << 0;
    QTest::newRow("altered-word-rejected") << true << 1;
}

void tst_Blowfish::tableMatchesGenerator()
{
    QFETCH(bool, altered);
    QFETCH(int, expectedExit);

    const QString python = QStandardPaths::findExecutable(u"python3"_s);
    QVERIFY2(!python.isEmpty(), "python3 is needed to check the generated table");
    const QString sourceDir = QStringLiteral(DROVIK_SOURCE_DIR);
    QString table = sourceDir + u"/src/blowfish_table.cpp"_s;

    testutil::Files files;
    if (altered) {
        QByteArray text = testutil::Files::bytes(table);
        const int at = text.lastIndexOf("0x");
        QVERIFY(at >= 0);
        text[at + 9] = text.at(at + 9) == '0' ? '1' : '0'; // last hex digit of the last word
        table = files.write(text);
    }

    QProcess process;
    process.start(python, {sourceDir + u"/scripts/gen_blowfish_table.py"_s, u"--check"_s, table});
    QVERIFY2(process.waitForFinished(120000), qPrintable(process.errorString()));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == expectedExit, process.readAllStandardError().constData());
}

void tst_Blowfish::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");

    // From the published Blowfish ECB test set for 8-byte keys: the all-zero and
    // all-one edges, and keys and blocks with every byte different.
#define ROW(key, plain, cipher) \
    QTest::newRow(key "/" plain) << QByteArray::fromHex(key) << QByteArray::fromHex(plain) \
                                 << QByteArray::fromHex(cipher)
    ROW("0000000000000000", "0000000000000000", "4EF997456198DD78");
    ROW("FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A");
    ROW("0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4");
    ROW("FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC");
    ROW("3000000000000000", "1000000000000001", "7D856F9A613063F2");
    ROW("0123456789ABCDEF", "1111111111111111", "61F9C3802281B096");
    ROW("FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D");
    ROW("7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B");
    ROW("0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0");
    ROW("43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5");
    ROW("E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D");
    ROW("FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A");
#undef ROW
}

void tst_Blowfish::knownAnswers()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);

    QBlowfish bf(keyFromBytes(key));
    QCOMPARE(bf.encrypt(plain), cipher);
    QCOMPARE(bf.decrypt(cipher), plain);

    // The same block through the word-level steps, halves big-endian.
    unsigned int xl = bf.get32Batch(plain, 0), xr = bf.get32Batch(plain, 4);
    bf._encrypt(xl, xr);
    QCOMPARE(bf.convertToChar(xl, xr), cipher);
    bf._decrypt(xl, xr);
    QCOMPARE(bf.convertToChar(xl, xr), plain);
}

void tst_Blowfish::agreesWithReference_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("plain");

    static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QRandomGenerator random(20240611);
    for (int row = 0; row < 200; ++row) {
        QString key;
        for (int i = 0; i < 24; ++i)
            key.append(QLatin1Char(alphabet[random.bounded(64)]));
        QByteArray plain(8 * random.bounded(1, 33), Qt::Uninitialized);
        for (char &byte : plain)
            byte = char(random.bounded(256));
        QTest::addRow("random-24-char-key-%d", row) << key << plain;
    }
}

void tst_Blowfish::agreesWithReference()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, plain);

    QBlowfish bf(key);
    const QByteArray cipher = bf.encrypt(plain);
    QCOMPARE(cipher, referenceEcb(key.toLatin1(), plain));
    QCOMPARE(bf.decrypt(cipher), plain);
}

void tst_Blowfish::keySchedule_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("keyBytes"); // the same schedule from OpenSSL

    // The last key word is zero-filled and words are cycled, where the
    // published schedule cycles bytes: the same only for whole words.
    QTest::newRow("5-chars-zero-filled") << u"k3Y!p"_s << QByteArray("k3Y!p\0\0\0", 8);
    QTest::newRow("6-chars-zero-filled") << u"k3Y!pa"_s << QByteArray("k3Y!pa\0\0", 8);
    QTest::newRow("7-chars-zero-filled") << u"k3Y!pas"_s << QByteArray("k3Y!pas\0", 8);
    QTest::newRow("13-chars-zero-filled")
            << u"k3Y!pass#word"_s << QByteArray("k3Y!pass#word\0\0\0", 16);
    // Each character gives the low byte of its UTF-16 code unit.
    QTest::newRow("l-stroke-reads-as-A") << u"keyŁword"_s << QByteArrayLiteral("keyAword");
    QTest::newRow("cjk-greek-latin1-low-bytes") << u"中Ωéÿxyzw"_s
                                                << QByteArrayLiteral("\x2D\xA9\xE9\xFF"
                                                                     "xyzw");
    // The 18 words of the P-array take 72 characters; the rest have no effect.
    QString key;
    for (int i = 0; i < 100; ++i)
        key.append(QLatin1Char(char('!' + (i * 7) % 90)));
    QTest::newRow("only-first-72-chars") << key << key.left(72).toLatin1();
}

void tst_Blowfish::keySchedule()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, keyBytes);
    QCOMPARE(QBlowfish(key).encrypt(samplePlain), referenceEcb(keyBytes, samplePlain));
}

void tst_Blowfish::shortKeyKeepsKeying_data()
{
    QTest::addColumn<QString>("newKey");
    QTest::addColumn<bool>("takesEffect");

    QTest::newRow("empty-key-ignored") << QString() << false;
    QTest::newRow("3-char-key-ignored") << u"abc"_s << false;
    // Re-keying starts again from the initial table, not from the old keying.
    QTest::newRow("4-char-key-applied") << u"abcd"_s << true;
}

void tst_Blowfish::shortKeyKeepsKeying()
{
    QFETCH(QString, newKey);
    QFETCH(bool, takesEffect);

    const QString firstKey = u"the first key in force!!"_s;
    QBlowfish bf(firstKey);
    bf.calcSubKey(newKey);
    QCOMPARE(bf.encrypt(samplePlain),
             referenceEcb((takesEffect ? newKey : firstKey).toLatin1(), samplePlain));
}

void tst_Blowfish::padding_data()
{
    QTest::addColumn<int>("inputSize");
    QTest::addColumn<int>("outputSize");

    QTest::newRow("empty-stays-empty") << 0 << 0;
    QTest::newRow("1-byte-to-8") << 1 << 8;
    QTest::newRow("3-bytes-to-8") << 3 << 8;
    QTest::newRow("8-bytes-unchanged") << 8 << 8;
    QTest::newRow("9-bytes-to-16") << 9 << 16;
}

void tst_Blowfish::padding()
{
    QFETCH(int, inputSize);
    QFETCH(int, outputSize);

    const QString key = u"padding test key"_s;
    QByteArray plain;
    for (int i = 0; i < inputSize; ++i)
        plain.append(char(0xA0 + i));

    QBlowfish bf(key);
    const QByteArray cipher = bf.encrypt(plain);
    QCOMPARE(cipher.size(), outputSize);
    QCOMPARE(cipher, referenceEcb(key.toLatin1(), zeroPadded(plain)));
    // The padding is never removed.
    QCOMPARE(bf.decrypt(cipher), zeroPadded(plain));
}

void tst_Blowfish::truncatedCipherIsZeroFilled()
{
    QBlowfish bf(u"round trip key.."_s);
    const QByteArray cut = QByteArray::fromHex("00112233445566778899aabbcc");
    QCOMPARE(bf.decrypt(cut), referenceEcb("round trip key..", cut, BF_DECRYPT));
}

void tst_Blowfish::get32Batch_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("pos");
    QTest::addColumn<uint>("expected");

    const QByteArray five = QByteArray::fromHex("0102030405");
    QTest::newRow("unaligned-word") << five << 1u << 0x02030405u;
    QTest::newRow("two-bytes-past-end-zero") << five << 3u << 0x04050000u;
    QTest::newRow("near-uint-max-no-wrap") << five << 0xFFFFFFFEu << 0u;
    QTest::newRow("high-bytes-not-sign-extended")
            << QByteArray::fromHex("ff807f00") << 0u << 0xFF807F00u;
}

void tst_Blowfish::get32Batch()
{
    QFETCH(QByteArray, data);
    QFETCH(uint, pos);
    QFETCH(uint, expected);
    QCOMPARE(QBlowfish().get32Batch(data, pos), expected);
}

QTEST_APPLESS_MAIN(tst_Blowfish)

#include "tst_blowfish.moc"
