#include <drovik/blowfish.h>

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <new>
#include <vector>

// Only BF_set_key and BF_ecb_encrypt are used, as an independent reference;
// OpenSSL 3 marks them deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

namespace {

std::vector<unsigned char> toBytes(const QByteArray &data)
{
    return std::vector<unsigned char>(data.cbegin(), data.cend());
}

// ECB with OpenSSL's key schedule over the raw key bytes; data must be whole
// blocks. The schedules agree only for keys of whole 4-byte words, so every
// key compared against this one has a length that is a multiple of 4.
QByteArray referenceEcb(const QByteArray &key, const QByteArray &data, int direction)
{
    BF_KEY schedule;
    const std::vector<unsigned char> keyBytes = toBytes(key);
    BF_set_key(&schedule, int(keyBytes.size()), keyBytes.data());
    std::vector<unsigned char> buffer = toBytes(data);
    for (std::size_t i = 0; i + 8 <= buffer.size(); i += 8)
        BF_ecb_encrypt(&buffer[i], &buffer[i], &schedule, direction);
    QByteArray out(int(buffer.size()), Qt::Uninitialized);
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(buffer[std::size_t(i)]);
    return out;
}

// A key whose characters are exactly the given bytes (NULs included).
QString keyFromBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

QByteArray zeroPadded(QByteArray data, int multiple)
{
    while (data.size() % multiple != 0)
        data.append('\0');
    return data;
}

const QByteArray samplePlain = QByteArray::fromHex("0123456789abcdeffedcba9876543210");

} // namespace

class tst_Blowfish : public QObject
{
    Q_OBJECT

private slots:
    void initialTable_data();
    void initialTable();
    void tableMatchesGenerator_data();
    void tableMatchesGenerator();

    void knownAnswers_data();
    void knownAnswers();
    void agreesWithReference_data();
    void agreesWithReference();
    void blockHalves();

    void partialKeyWord_data();
    void partialKeyWord();
    void lowByteOfEachChar_data();
    void lowByteOfEachChar();
    void shortKeyKeepsKeying_data();
    void shortKeyKeepsKeying();
    void onlyFirst72CharsCount_data();
    void onlyFirst72CharsCount();
    void rekeyStartsFromInitialTable();

    void padding_data();
    void padding();
    void partialBlockRoundTrip();
    void get32Batch_data();
    void get32Batch();
    void convertToChar_data();
    void convertToChar();
    void destructorWipesState();
};

void tst_Blowfish::initialTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("expected");

    // The published digits of pi at the edges of the P-array and the S-boxes.
    QTest::newRow("first-p-word") << 0 << 0x243F6A88u;
    QTest::newRow("second-p-word") << 1 << 0x85A308D3u;
    QTest::newRow("last-p-word") << 17 << 0x8979FB1Bu;
    QTest::newRow("first-sbox0-word") << 18 << 0xD1310BA6u;
    QTest::newRow("last-sbox3-word") << 1041 << 0x3AC372E6u;
}

void tst_Blowfish::initialTable()
{
    QFETCH(int, index);
    QFETCH(uint, expected);
    QCOMPARE(QBlowfish::hexPi[index], expected);
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

    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QFAIL("python3 not found in PATH; it is needed to check the generated table");

    const QString sourceDir = QString::fromUtf8(DROVIK_SOURCE_DIR);
    QString table = sourceDir + QStringLiteral("/src/blowfish_table.cpp");

    QTemporaryDir tempDir;
    if (altered) {
        QVERIFY(tempDir.isValid());
        QFile original(table);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray text = original.readAll();
        const int at = text.lastIndexOf("0x");
        QVERIFY(at >= 0);
        text[at + 9] = text.at(at + 9) == '0' ? '1' : '0'; // last hex digit of the last word
        table = tempDir.filePath(QStringLiteral("blowfish_table.cpp"));
        QFile copy(table);
        QVERIFY(copy.open(QIODevice::WriteOnly));
        QCOMPARE(copy.write(text), qint64(text.size()));
    }

    QProcess process;
    process.start(python,
                  {sourceDir + QStringLiteral("/scripts/gen_blowfish_table.py"),
                   QStringLiteral("--check"), table});
    QVERIFY2(process.waitForFinished(120000), qPrintable(process.errorString()));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == expectedExit, process.readAllStandardError().constData());
}

void tst_Blowfish::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");

    // The published Blowfish ECB test set for 8-byte keys.
#define ROW(key, plain, cipher) \
    QTest::newRow(key "/" plain) << QByteArray::fromHex(key) << QByteArray::fromHex(plain) \
                                 << QByteArray::fromHex(cipher)
    ROW("0000000000000000", "0000000000000000", "4EF997456198DD78");
    ROW("FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A");
    ROW("3000000000000000", "1000000000000001", "7D856F9A613063F2");
    ROW("1111111111111111", "1111111111111111", "2466DD878B963C9D");
    ROW("0123456789ABCDEF", "1111111111111111", "61F9C3802281B096");
    ROW("1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7");
    ROW("FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D");
    ROW("7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B");
    ROW("0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0");
    ROW("07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4");
    ROW("3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB");
    ROW("04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A");
    ROW("0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918");
    ROW("0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98");
    ROW("43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5");
    ROW("07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79");
    ROW("04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3");
    ROW("37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969");
    ROW("1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B");
    ROW("584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E");
    ROW("025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD");
    ROW("49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019");
    ROW("4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3");
    ROW("49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5");
    ROW("018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778");
    ROW("1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201");
    ROW("0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2");
    ROW("1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE");
    ROW("E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D");
    ROW("0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4");
    ROW("FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC");
    ROW("0123456789ABCDEF", "0000000000000000", "245946885754369A");
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
}

void tst_Blowfish::agreesWithReference_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("plain");

    static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QRandomGenerator random(20240611);
    for (int row = 0; row < 500; ++row) {
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
    QCOMPARE(cipher, referenceEcb(key.toLatin1(), plain, BF_ENCRYPT));
    QCOMPARE(bf.decrypt(cipher), plain);
}

void tst_Blowfish::blockHalves()
{
    // First published vector, through the word-level steps: all-zero key and block.
    QBlowfish bf(QString(8, QChar(0)));
    unsigned int xl = 0;
    unsigned int xr = 0;
    bf._encrypt(xl, xr);
    QCOMPARE(xl, 0x4EF99745u);
    QCOMPARE(xr, 0x6198DD78u);
    bf._decrypt(xl, xr);
    QCOMPARE(xl, 0u);
    QCOMPARE(xr, 0u);

    xl = 0x01234567u;
    xr = 0x89ABCDEFu;
    bf._encrypt(xl, xr);
    QVERIFY(xl != 0x01234567u || xr != 0x89ABCDEFu);
    bf._decrypt(xl, xr);
    QCOMPARE(xl, 0x01234567u);
    QCOMPARE(xr, 0x89ABCDEFu);
}

void tst_Blowfish::partialKeyWord_data()
{
    QTest::addColumn<int>("length");

    // The last key word is zero-filled and words are cycled, where the
    // published schedule cycles bytes: the same only for whole words.
    QTest::newRow("key-5-chars-zero-padded") << 5;
    QTest::newRow("key-6-chars-zero-padded") << 6;
    QTest::newRow("key-7-chars-zero-padded") << 7;
    QTest::newRow("key-9-chars-zero-padded") << 9;
    QTest::newRow("key-13-chars-zero-padded") << 13;
}

void tst_Blowfish::partialKeyWord()
{
    QFETCH(int, length);

    const QByteArray keyBytes = QByteArrayLiteral("k3Y!pass#word").left(length);
    QCOMPARE(keyBytes.size(), length);
    QBlowfish bf(keyFromBytes(keyBytes));
    const QByteArray cipher = bf.encrypt(samplePlain);

    QCOMPARE(cipher, referenceEcb(zeroPadded(keyBytes, 4), samplePlain, BF_ENCRYPT));
    QVERIFY(cipher != referenceEcb(keyBytes, samplePlain, BF_ENCRYPT));
}

void tst_Blowfish::lowByteOfEachChar_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("lowBytes");

    QTest::newRow("l-stroke-reads-as-A")
            << (QStringLiteral("key") + QChar(0x0141) + QStringLiteral("word"))
            << QByteArrayLiteral("keyAword");
    QTest::newRow("cjk-and-greek-low-bytes")
            << (QString(QChar(0x4E2D)) + QChar(0x03A9) + QStringLiteral("abcdef"))
            << QByteArrayLiteral("\x2D\xA9"
                                 "abcdef");
    QTest::newRow("latin1-high-bytes-kept")
            << (QString(QChar(0x00E9)) + QChar(0x00FF) + QStringLiteral("xyzzy!"))
            << QByteArrayLiteral("\xE9\xFF"
                                 "xyzzy!");
}

void tst_Blowfish::lowByteOfEachChar()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, lowBytes);

    const QByteArray cipher = QBlowfish(key).encrypt(samplePlain);
    QCOMPARE(cipher, QBlowfish(keyFromBytes(lowBytes)).encrypt(samplePlain));
    QCOMPARE(cipher, referenceEcb(lowBytes, samplePlain, BF_ENCRYPT));
}

void tst_Blowfish::shortKeyKeepsKeying_data()
{
    QTest::addColumn<QString>("newKey");
    QTest::addColumn<bool>("takesEffect");

    QTest::newRow("empty-key-ignored") << QString() << false;
    QTest::newRow("1-char-key-ignored") << QStringLiteral("a") << false;
    QTest::newRow("3-char-key-ignored") << QStringLiteral("abc") << false;
    QTest::newRow("4-char-key-applied") << QStringLiteral("abcd") << true;
}

void tst_Blowfish::shortKeyKeepsKeying()
{
    QFETCH(QString, newKey);
    QFETCH(bool, takesEffect);

    const QString firstKey = QStringLiteral("the first key in force!!");
    QBlowfish bf(firstKey);
    const QByteArray before = bf.encrypt(samplePlain);
    bf.calcSubKey(newKey);
    const QByteArray after = bf.encrypt(samplePlain);

    const QByteArray expectedKey = (takesEffect ? newKey : firstKey).toLatin1();
    QCOMPARE(after, referenceEcb(expectedKey, samplePlain, BF_ENCRYPT));
    QCOMPARE(after == before, !takesEffect);
}

void tst_Blowfish::onlyFirst72CharsCount_data()
{
    QTest::addColumn<int>("changedIndex");
    QTest::addColumn<bool>("sameCipher");

    QTest::newRow("differs-at-char-1") << 0 << false;
    QTest::newRow("differs-at-char-72") << 71 << false;
    QTest::newRow("differs-at-char-73") << 72 << true;
    QTest::newRow("differs-at-char-100") << 99 << true;
}

void tst_Blowfish::onlyFirst72CharsCount()
{
    QFETCH(int, changedIndex);
    QFETCH(bool, sameCipher);

    QString key;
    for (int i = 0; i < 100; ++i)
        key.append(QLatin1Char(char('!' + (i * 7) % 90)));
    QString other = key;
    other[changedIndex] = QLatin1Char('~');
    QVERIFY(other != key);

    const QByteArray cipher = QBlowfish(key).encrypt(samplePlain);
    QCOMPARE(cipher == QBlowfish(other).encrypt(samplePlain), sameCipher);
    QCOMPARE(cipher, referenceEcb(key.left(72).toLatin1(), samplePlain, BF_ENCRYPT));
}

void tst_Blowfish::rekeyStartsFromInitialTable()
{
    const QString second = QStringLiteral("second key, 24 chars....");
    QBlowfish bf(QStringLiteral("first key"));
    bf.calcSubKey(second);
    QCOMPARE(bf.encrypt(samplePlain), referenceEcb(second.toLatin1(), samplePlain, BF_ENCRYPT));
}

void tst_Blowfish::padding_data()
{
    QTest::addColumn<int>("inputSize");
    QTest::addColumn<int>("outputSize");

    QTest::newRow("empty-stays-empty") << 0 << 0;
    QTest::newRow("1-byte-to-8") << 1 << 8;
    QTest::newRow("7-bytes-to-8") << 7 << 8;
    QTest::newRow("8-bytes-unchanged") << 8 << 8;
    QTest::newRow("9-bytes-to-16") << 9 << 16;
    QTest::newRow("15-bytes-to-16") << 15 << 16;
    QTest::newRow("17-bytes-to-24") << 17 << 24;
}

void tst_Blowfish::padding()
{
    QFETCH(int, inputSize);
    QFETCH(int, outputSize);

    const QString key = QStringLiteral("padding test key");
    QByteArray plain;
    for (int i = 0; i < inputSize; ++i)
        plain.append(char(0xA0 + i));

    QBlowfish bf(key);
    const QByteArray cipher = bf.encrypt(plain);
    QCOMPARE(cipher.size(), outputSize);
    QCOMPARE(cipher, referenceEcb(key.toLatin1(), zeroPadded(plain, 8), BF_ENCRYPT));
    QCOMPARE(bf.decrypt(cipher), zeroPadded(plain, 8));
}

void tst_Blowfish::partialBlockRoundTrip()
{
    QBlowfish bf(QStringLiteral("round trip key.."));
    QCOMPARE(bf.decrypt(bf.encrypt(QByteArrayLiteral("abc"))), QByteArray("abc\0\0\0\0\0", 8));

    // A truncated ciphertext is zero-filled before decrypting, like plaintext.
    const QByteArray cut = QByteArray::fromHex("00112233445566778899aabbcc");
    const QByteArray decrypted = bf.decrypt(cut);
    QCOMPARE(decrypted.size(), 16);
    QCOMPARE(decrypted, bf.decrypt(zeroPadded(cut, 8)));
    QCOMPARE(decrypted, referenceEcb("round trip key..", zeroPadded(cut, 8), BF_DECRYPT));
}

void tst_Blowfish::get32Batch_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("pos");
    QTest::addColumn<uint>("expected");

    const QByteArray five = QByteArray::fromHex("0102030405");
    QTest::newRow("first-word-big-endian") << five << 0u << 0x01020304u;
    QTest::newRow("unaligned-word") << five << 1u << 0x02030405u;
    QTest::newRow("two-bytes-past-end-zero") << five << 3u << 0x04050000u;
    QTest::newRow("starts-at-end-all-zero") << five << 5u << 0u;
    QTest::newRow("near-uint-max-no-wrap") << five << 0xFFFFFFFEu << 0u;
    QTest::newRow("high-bytes-not-sign-extended")
            << QByteArray::fromHex("ff807f00") << 0u << 0xFF807F00u;
    QTest::newRow("empty-data") << QByteArray() << 0u << 0u;
}

void tst_Blowfish::get32Batch()
{
    QFETCH(QByteArray, data);
    QFETCH(uint, pos);
    QFETCH(uint, expected);

    QBlowfish bf;
    QCOMPARE(bf.get32Batch(data, pos), expected);
}

void tst_Blowfish::convertToChar_data()
{
    QTest::addColumn<uint>("xl");
    QTest::addColumn<uint>("xr");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("left-half-first-big-endian")
            << 0x01234567u << 0x89ABCDEFu << QByteArray::fromHex("0123456789abcdef");
    QTest::newRow("high-bits-in-each-byte")
            << 0xFF80007Fu << 0x00000001u << QByteArray::fromHex("ff80007f00000001");
}

void tst_Blowfish::convertToChar()
{
    QFETCH(uint, xl);
    QFETCH(uint, xr);
    QFETCH(QByteArray, expected);

    QBlowfish bf;
    const QByteArray bytes = bf.convertToChar(xl, xr);
    QCOMPARE(bytes, expected);
    QCOMPARE(bf.get32Batch(bytes, 0), xl);
    QCOMPARE(bf.get32Batch(bytes, 4), xr);
}

void tst_Blowfish::destructorWipesState()
{
    alignas(QBlowfish) unsigned char storage[sizeof(QBlowfish)];
    QBlowfish *bf = new (storage) QBlowfish(QStringLiteral("a key to be wiped"));
    QVERIFY(bf->encrypt(samplePlain) != samplePlain);
    bf->~QBlowfish();

    int nonZero = 0;
    for (unsigned char byte : storage)
        nonZero += byte != 0;
    QCOMPARE(nonZero, 0);
}

QTEST_APPLESS_MAIN(tst_Blowfish)

#include "tst_blowfish.moc"
