#include "testutil.h"

#include <drovik/drovik.h>

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::makeTree;

namespace {

const QByteArray password = QByteArrayLiteral("s3cret");

QString magic(const char *level)
{
    return QStringLiteral("Configuration encoding of Quorvant %1, version 2.0")
            .arg(QLatin1String(level));
}

bool isPublicKey(const QVariant &stored)
{
    static const QRegularExpression sixHex(QStringLiteral("^[0-9a-f]{6}$"));
    return sixHex.match(stored.toString()).hasMatch();
}

// The stored chunks prefix000, prefix001, ... up to the first missing index.
QStringList chunks(const QVariantMap &keys, const QString &prefix)
{
    QStringList found;
    for (int i = 0;; ++i) {
        const QString key = prefix + QString::number(i).rightJustified(3, QLatin1Char('0'));
        if (!keys.contains(key))
            return found;
        found << keys.value(key).toString();
    }
}

// What a stored item decrypts to, opened here rather than by the loader.
QVariantMap openPayload(const QString &cipher, const QVariant &publicKey)
{
    return Drovik::textToTinyStruct(
            Drovik::decryptEncrypt(true, cipher, publicKey.toString(), password, 2));
}

QString saveTree(Files &files, const QVariantMap &tree)
{
    const QString path = files.newPath();
    QSettings settings(path, QSettings::IniFormat);
    Drovik::saveFile(&settings, password, &tree);
    return path; // written when settings goes out of scope
}

} // namespace

class tst_StoredLayout : public QObject
{
    Q_OBJECT

private slots:
    void storedItems_data();
    void storedItems();
    void roundTripKeepsTypes_data();
    void roundTripKeepsTypes();
    void chunkBoundaries_data();
    void chunkBoundaries();
    void chunkIndexGrowsPastThreeDigits();
    void savingTree_data();
    void savingTree();
    void reservedNamesInPlainFile();
    void handMarked_data();
    void handMarked();

private:
    Files files;
};

void tst_StoredLayout::storedItems_data()
{
    QTest::addColumn<bool>("wholeFile");
    QTest::addColumn<QStringList>("keys");
    // Stored names of each item ("%1": enabled, public, algorithm, data key)
    // mapped to the payload its cipher text must hold.
    QTest::addColumn<QVariantMap>("payloads");

    // clang-format off
    QTest::newRow("param-and-section")
            << false
            << QStringList{QStringLiteral("auth/packed-section-algorithm"),   QStringLiteral("auth/packed-section-data000"),
                           QStringLiteral("auth/packed-section-enabled"),     QStringLiteral("auth/packed-section-public"),
                           QStringLiteral("net/host"),
                           QStringLiteral("net/packed-param-algorithm/port"), QStringLiteral("net/packed-param-data/port"),
                           QStringLiteral("net/packed-param-enabled/port"),   QStringLiteral("net/packed-param-public/port")}
            << QVariantMap{{QStringLiteral("net/packed-param-%1/port"),
                            QVariantMap{{QStringLiteral("net/packed-param-dataparam/port"), 8080},
                                        {QStringLiteral("net/packed-param-magic/port"),     magic("param")}}},
                           {QStringLiteral("auth/packed-section-%1"),
                            QVariantMap{{QStringLiteral("auth/pin"),                  1234},
                                        {QStringLiteral("auth/user"),                 QStringLiteral("admin")},
                                        {QStringLiteral("auth/packed-section-magic"), magic("section")}}}};
    // Inner protection is not stored under file protection: one payload holds every value.
    QTest::newRow("whole-file")
            << true
            << QStringList{QStringLiteral("packed-file/algorithm"), QStringLiteral("packed-file/data000"),
                           QStringLiteral("packed-file/enabled"),   QStringLiteral("packed-file/public")}
            << QVariantMap{{QStringLiteral("packed-file/%1"),
                            QVariantMap{{QStringLiteral("auth/pin"),          1234},
                                        {QStringLiteral("auth/user"),         QStringLiteral("admin")},
                                        {QStringLiteral("net/host"),          QStringLiteral("example.org")},
                                        {QStringLiteral("net/port"),          8080},
                                        {QStringLiteral("packed-file/magic"), magic("file")}}}};
    // clang-format on
}

void tst_StoredLayout::storedItems()
{
    QFETCH(bool, wholeFile);
    QFETCH(QStringList, keys);
    QFETCH(QVariantMap, payloads);

    // A plain parameter, a protected parameter and a protected section.
    QVariantMap tree = makeTree(
            {{QStringLiteral("auth/user"), QStringLiteral("admin")},
             {QStringLiteral("auth/pin"), 1234}},
            testutil::ProtectedSections,
            makeTree({{QStringLiteral("net/port"), 8080}}, testutil::ProtectedParams,
                     makeTree({{QStringLiteral("net/host"), QStringLiteral("example.org")}},
                              testutil::Plain)));
    if (wholeFile)
        tree.insert(QStringLiteral("encrypted-file"), true);
    const QVariantMap stored = files.storedKeys(saveTree(files, tree));
    const QVariantMap again = files.storedKeys(saveTree(files, tree));

    QCOMPARE(stored.keys(), keys);
    if (!wholeFile)
        QCOMPARE(stored.value(QStringLiteral("net/host")), QVariant(QStringLiteral("example.org")));
    for (auto it = payloads.cbegin(); it != payloads.cend(); ++it) {
        const QString &item = it.key();
        const QString publicKey = item.arg(QLatin1String("public"));
        const QString data = item.arg(item.contains(QLatin1String("packed-param-"))
                                              ? QLatin1String("data")
                                              : QLatin1String("data000"));
        QCOMPARE(stored.value(item.arg(QLatin1String("enabled"))),
                 QVariant(QStringLiteral("true")));
        QCOMPARE(stored.value(item.arg(QLatin1String("algorithm"))), QVariant(QStringLiteral("2")));
        QVERIFY2(isPublicKey(stored.value(publicKey)), qPrintable(publicKey));
        QCOMPARE(openPayload(stored.value(data).toString(), stored.value(publicKey)),
                 it.value().toMap());
        // Every save encrypts afresh under a new public key.
        QVERIFY(stored.value(publicKey) != again.value(publicKey));
        QVERIFY(stored.value(data) != again.value(data));
    }
}

void tst_StoredLayout::roundTripKeepsTypes_data()
{
    QTest::addColumn<Level>("level");
    QTest::newRow("param") << testutil::ProtectedParams;
    QTest::newRow("section") << testutil::ProtectedSections;
    QTest::newRow("file") << testutil::ProtectedFile;
}

void tst_StoredLayout::roundTripKeepsTypes()
{
    QFETCH(Level, level);
    const QStringList list {QStringLiteral("a"), QStringLiteral("b,c"), QStringLiteral("ü N")};
    QVariantMap values {{QStringLiteral("s/count"), 42},
                        {QStringLiteral("s/big"), qlonglong(1) << 40},
                        {QStringLiteral("s/ratio"), -2.5},
                        {QStringLiteral("s/on"), true},
                        {QStringLiteral("s/off"), false},
                        {QStringLiteral("s/name"), QStringLiteral("Grüße, N=1/x")},
                        {QStringLiteral("s/list"), list},
                        {QStringLiteral("t/other"), QStringLiteral("v")}};
    const QString path = files.copy(saveTree(files, makeTree(values, level)));
    values.insert(QStringLiteral("s/count"), qlonglong(42)); // every integer comes back 64-bit

    const QByteArray before = Files::bytes(path);
    QVariantMap tree;
    {
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(Drovik::getFileDataWithSaving(&settings, password, &tree));
    }
    QCOMPARE(Files::bytes(path), before); // nothing marked by hand, nothing to rewrite

    QCOMPARE(tree.value(QStringLiteral("encrypted-file")).toBool(),
             level == testutil::ProtectedFile);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString section = it.key().section(QLatin1Char('/'), 0, 0);
        const QString param = it.key().section(QLatin1Char('/'), 1);
        const QVariantMap sectionNode
                = tree.value(QStringLiteral("sections")).toMap().value(section).toMap();
        const QVariantMap node
                = sectionNode.value(QStringLiteral("params")).toMap().value(param).toMap();
        const QVariant value = node.value(QStringLiteral("value"));
        QCOMPARE(value.userType(), it.value().userType());
        QCOMPARE(value, it.value());
        QCOMPARE(node.value(QStringLiteral("encrypted-param")).toBool(),
                 level == testutil::ProtectedParams);
        QCOMPARE(sectionNode.value(QStringLiteral("encrypted-section")).toBool(),
                 level == testutil::ProtectedSections);
    }

    const QSettings reader(files.copy(path), QSettings::IniFormat);
    QCOMPARE(Drovik::value(&reader, QStringLiteral("s/list"), QVariant(), password),
             QVariant(list));
}

void tst_StoredLayout::chunkBoundaries_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<int>("cipherLength");
    QTest::addColumn<QList<int>>("chunkLengths");

    // Cipher text is base64 of whole 8-byte blocks, so only some lengths occur:
    // 1500, 1501, 2500, 3001, 5000 and 5001 never do. These are the nearest
    // lengths on either side of each split point.
    const Level section = testutil::ProtectedSections;
    const Level file = testutil::ProtectedFile;
    // clang-format off
    QTest::newRow("section-1496") << section << 1496 << QList<int>{1496};
    QTest::newRow("section-1504") << section << 1504 << QList<int>{1000, 504};
    QTest::newRow("section-2496") << section << 2496 << QList<int>{1000, 1496};
    QTest::newRow("section-2508") << section << 2508 << QList<int>{1000, 1000, 508};
    QTest::newRow("file-3000")    << file    << 3000 << QList<int>{3000};
    QTest::newRow("file-3008")    << file    << 3008 << QList<int>{2000, 1008};
    QTest::newRow("file-4992")    << file    << 4992 << QList<int>{2000, 2992};
    QTest::newRow("file-5004")    << file    << 5004 << QList<int>{2000, 2000, 1004};
    // clang-format on
}

void tst_StoredLayout::chunkBoundaries()
{
    QFETCH(Level, level);
    QFETCH(int, cipherLength);
    QFETCH(QList<int>, chunkLengths);

    const QString prefix = level == testutil::ProtectedFile
            ? QStringLiteral("packed-file/data")
            : QStringLiteral("s/packed-section-data");
    const QString path = files.newPath();
    QString value;
    {
        // Grow the value until the saver's chunks add up to the wanted length,
        // starting from an estimate below it (each character adds two bytes
        // of typed text, about 8/3 characters of cipher text).
        QSettings settings(path, QSettings::IniFormat);
        const auto joinedFor = [&](int size) {
            value = QString(size, QLatin1Char('x'));
            const QVariantMap tree = makeTree({{QStringLiteral("s/v"), value}}, level);
            Drovik::saveFile(&settings, password, &tree);
            int joined = 0;
            const QStringList keys = settings.allKeys();
            for (const QString &key : keys) {
                if (key.startsWith(prefix))
                    joined += settings.value(key).toString().size();
            }
            return joined;
        };
        int size = 1;
        size += qMax(0, (cipherLength - joinedFor(size)) * 3 / 8 - 8);
        int joined = joinedFor(size);
        while (joined < cipherLength)
            joined = joinedFor(++size);
        QCOMPARE(joined, cipherLength);
    }

    const QVariantMap keys = files.storedKeys(path);
    const QStringList stored = chunks(keys, prefix);
    QList<int> lengths;
    for (const QString &chunk : stored)
        lengths << chunk.size();
    QCOMPARE(lengths, chunkLengths);
    QCOMPARE(keys.size(), 3 + stored.size()); // switch, public key, algorithm, chunks

    const QString publicKey = level == testutil::ProtectedFile
            ? QStringLiteral("packed-file/public")
            : QStringLiteral("s/packed-section-public");
    QCOMPARE(openPayload(stored.join(QString()), keys.value(publicKey))
                     .value(QStringLiteral("s/v"))
                     .toString(),
             value);
    const QSettings reader(files.copy(path), QSettings::IniFormat);
    QCOMPARE(Drovik::value(&reader, QStringLiteral("s/v"), QVariant(), password), QVariant(value));
}

void tst_StoredLayout::chunkIndexGrowsPastThreeDigits()
{
    // About a megabyte of cipher text: a little over a thousand section chunks.
    const QString value(380000, QLatin1Char('x'));
    const QString path = saveTree(
            files, makeTree({{QStringLiteral("s/v"), value}}, testutil::ProtectedSections));
    const QVariantMap keys = files.storedKeys(path);

    const QStringList stored = chunks(keys, QStringLiteral("s/packed-section-data"));
    QVERIFY2(stored.size() > 1001, qPrintable(QString::number(stored.size())));
    QVERIFY(keys.contains(QStringLiteral("s/packed-section-data999")));
    QVERIFY(keys.contains(QStringLiteral("s/packed-section-data1000")));
    QVERIFY(!keys.contains(QStringLiteral("s/packed-section-data0999")));
    QCOMPARE(keys.size(), 3 + stored.size());

    const QSettings reader(files.copy(path), QSettings::IniFormat);
    QCOMPARE(Drovik::value(&reader, QStringLiteral("s/v"), QVariant(), password), QVariant(value));
}

void tst_StoredLayout::savingTree_data()
{
    QTest::addColumn<QVariantMap>("tree");
    QTest::addColumn<QVariantMap>("expected"); // stored key -> value; invalid: any value

    const QString name = QStringLiteral("params"), order = QStringLiteral("params-order");
    const auto sections = [](const QVariantMap &nodes) {
        return QVariantMap {{QStringLiteral("sections"), nodes}};
    };
    const auto param = [](const QVariant &value) {
        return QVariantMap {{QStringLiteral("value"), value}};
    };
    const QVariant one = QStringLiteral("1");
    const QVariantMap plainNode {{name, QVariantMap {{QStringLiteral("x"), param(one)}}}};
    const QVariant any;

    // clang-format off
    QTest::newRow("empty-tree") << QVariantMap() << QVariantMap();
    QTest::newRow("protected-section-without-params")
            << sections({{QStringLiteral("s"), QVariantMap{{name, QVariantMap()}, {QStringLiteral("encrypted-section"), true}}},
                         {QStringLiteral("t"), plainNode}})
            << QVariantMap{{QStringLiteral("t/x"), one}};
    QTest::newRow("unwritable-plain-params")
            << sections({{QStringLiteral("s"), QVariantMap{{name, QVariantMap{{QStringLiteral("invalid"),        param(QVariant())},
                                                                              {QStringLiteral("empty-node"),     QVariantMap()},
                                                                              {QStringLiteral("packed-param-x"), param(one)},
                                                                              {QStringLiteral("x"),              param(one)}}}}}})
            << QVariantMap{{QStringLiteral("s/x"), one}};
    QTest::newRow("order-lists-name-what-is-written")
            << QVariantMap{{QStringLiteral("sections-order"), QStringList{QStringLiteral("b"), QStringLiteral("ghost")}},
                           {QStringLiteral("sections"), QVariantMap{{QStringLiteral("a"), plainNode},
                                                                    {QStringLiteral("b"), QVariantMap{{name, QVariantMap{{QStringLiteral("x"), param(one)},
                                                                                                                         {QStringLiteral("y"), param(one)}}},
                                                                                                      {order, QStringList{QStringLiteral("y")}}}}}}}
            << QVariantMap{{QStringLiteral("b/y"), one}};
    QTest::newRow("protected-param-without-value")
            << sections({{QStringLiteral("s"), QVariantMap{{name, QVariantMap{{QStringLiteral("p"), QVariantMap{{QStringLiteral("encrypted-param"), true}}}}}}}})
            << QVariantMap{{QStringLiteral("s/packed-param-enabled/p"),   QStringLiteral("true")},
                           {QStringLiteral("s/packed-param-public/p"),    any},
                           {QStringLiteral("s/packed-param-algorithm/p"), QStringLiteral("2")},
                           {QStringLiteral("s/packed-param-data/p"),      any}};
    QTest::newRow("protected-file-without-sections")
            << QVariantMap{{QStringLiteral("encrypted-file"), true}}
            << QVariantMap{{QStringLiteral("packed-file/enabled"),   QStringLiteral("true")},
                           {QStringLiteral("packed-file/public"),    any},
                           {QStringLiteral("packed-file/algorithm"), QStringLiteral("2")},
                           {QStringLiteral("packed-file/data000"),   any}};
    // clang-format on
}

void tst_StoredLayout::savingTree()
{
    QFETCH(QVariantMap, tree);
    QFETCH(QVariantMap, expected);

    // Start from a file with content of its own: saving replaces all of it.
    const QString path = files.write(QByteArrayLiteral("[old]\nkey=1\n"));
    {
        QSettings settings(path, QSettings::IniFormat);
        Drovik::saveFile(&settings, password, &tree);
    }
    const QVariantMap keys = files.storedKeys(path);
    QCOMPARE(keys.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.value().isValid())
            QCOMPARE(keys.value(it.key()), it.value());
    }
    // What was written loads back; a protected value that had none reads as empty text.
    const QSettings reader(files.copy(path), QSettings::IniFormat);
    const QVariant value = Drovik::value(&reader, QStringLiteral("s/p"), QVariant(), password);
    if (QByteArray(QTest::currentDataTag()) == "protected-param-without-value")
        QCOMPARE(value, QVariant(QString()));
    else
        QVERIFY(!value.isValid());
}

void tst_StoredLayout::reservedNamesInPlainFile()
{
    const QString path = files.write(QByteArrayLiteral("version=3\n"
                                                       "[net]\n"
                                                       "host=h\n"
                                                       "packed-param-note=x\n"
                                                       "packed-section-note=y\n"
                                                       "[packed-file]\n"
                                                       "enabled=false\n"
                                                       "note=z\n"));
    {
        QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QVERIFY(Drovik::getFileData(&settings, password, &tree));
        Drovik::saveFile(&settings, password, &tree);
    }
    // The ungrouped key and the parameter-level name are gone; the rest are
    // ordinary content in a file that is not protected.
    const QVariantMap expected {{QStringLiteral("net/host"), QStringLiteral("h")},
                                {QStringLiteral("net/packed-section-note"), QStringLiteral("y")},
                                {QStringLiteral("packed-file/enabled"), QStringLiteral("false")},
                                {QStringLiteral("packed-file/note"), QStringLiteral("z")}};
    QCOMPARE(files.storedKeys(path), expected);
}

void tst_StoredLayout::handMarked_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("keysAfter"); // after a load with saving

    const QByteArray net = QByteArrayLiteral("[net]\nhost=example.org\nport=8080\n");
    const QByteArray other = QByteArrayLiteral("[other]\nx=1\n");
    // clang-format off
    QTest::newRow("file")
            << QByteArray("[packed-file]\nenabled=true\n" + net + other)
            << QStringList{QStringLiteral("packed-file/algorithm"), QStringLiteral("packed-file/data000"),
                           QStringLiteral("packed-file/enabled"),   QStringLiteral("packed-file/public")};
    QTest::newRow("section")
            << QByteArray(net + "packed-section-enabled=true\n" + other)
            << QStringList{QStringLiteral("net/packed-section-algorithm"), QStringLiteral("net/packed-section-data000"),
                           QStringLiteral("net/packed-section-enabled"),   QStringLiteral("net/packed-section-public"),
                           QStringLiteral("other/x")};
    QTest::newRow("param")
            << QByteArray(net + "packed-param-enabled\\port=true\n" + other)
            << QStringList{QStringLiteral("net/host"),
                           QStringLiteral("net/packed-param-algorithm/port"), QStringLiteral("net/packed-param-data/port"),
                           QStringLiteral("net/packed-param-enabled/port"),   QStringLiteral("net/packed-param-public/port"),
                           QStringLiteral("other/x")};
    QTest::newRow("file-switch-false")
            << QByteArray("[packed-file]\nenabled=false\n" + net + other)
            << QStringList{QStringLiteral("net/host"), QStringLiteral("net/port"),
                           QStringLiteral("other/x"),  QStringLiteral("packed-file/enabled")};
    // clang-format on
}

void tst_StoredLayout::handMarked()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, keysAfter);

    // A read-only read answers from the plain content and never writes.
    const QString readOnly = files.write(ini);
    {
        const QSettings settings(readOnly, QSettings::IniFormat);
        QCOMPARE(Drovik::value(&settings, QStringLiteral("net/port"), QVariant(), password),
                 QVariant(QStringLiteral("8080")));
    }
    QCOMPARE(Files::bytes(readOnly), ini);

    const QString path = files.write(ini);
    {
        QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QVERIFY(Drovik::getFileDataWithSaving(&settings, password, &tree));
    }
    QCOMPARE(files.storedKeys(path).keys(), keysAfter);

    const QSettings reader(files.copy(path), QSettings::IniFormat);
    QCOMPARE(Drovik::value(&reader, QStringLiteral("net/port"), QVariant(), password),
             QVariant(QStringLiteral("8080")));
    QCOMPARE(Drovik::value(&reader, QStringLiteral("net/host"), QVariant(), password),
             QVariant(QStringLiteral("example.org")));
    QCOMPARE(Drovik::value(&reader, QStringLiteral("other/x"), QVariant(), password),
             QVariant(QStringLiteral("1")));
}

QTEST_APPLESS_MAIN(tst_StoredLayout)
#include "tst_stored_layout.moc"
