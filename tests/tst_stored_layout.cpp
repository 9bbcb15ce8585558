#include "testutil.h"

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::makeTree;

namespace {

const QByteArray password = QByteArrayLiteral("s3cret");

QString magic(const char *level)
{
    return u"Configuration encoding of Quorvant %1, version 2.0"_s.arg(QLatin1String(level));
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
    void handMarked_data();
    void handMarked();
    void protectionFromStoredKeys_data();
    void protectionFromStoredKeys();

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
            << QStringList{u"auth/packed-section-algorithm"_s,   u"auth/packed-section-data000"_s,
                           u"auth/packed-section-enabled"_s,     u"auth/packed-section-public"_s,
                           u"net/host"_s,
                           u"net/packed-param-algorithm/port"_s, u"net/packed-param-data/port"_s,
                           u"net/packed-param-enabled/port"_s,   u"net/packed-param-public/port"_s}
            << QVariantMap{{u"net/packed-param-%1/port"_s,
                            QVariantMap{{u"net/packed-param-dataparam/port"_s, 8080},
                                        {u"net/packed-param-magic/port"_s,     magic("param")}}},
                           {u"auth/packed-section-%1"_s,
                            QVariantMap{{u"auth/pin"_s,                  1234},
                                        {u"auth/user"_s,                 u"admin"_s},
                                        {u"auth/packed-section-magic"_s, magic("section")}}}};
    // Inner protection is not stored under file protection: one payload holds every value.
    QTest::newRow("whole-file")
            << true
            << QStringList{u"packed-file/algorithm"_s, u"packed-file/data000"_s,
                           u"packed-file/enabled"_s,   u"packed-file/public"_s}
            << QVariantMap{{u"packed-file/%1"_s,
                            QVariantMap{{u"auth/pin"_s,          1234},
                                        {u"auth/user"_s,         u"admin"_s},
                                        {u"net/host"_s,          u"example.org"_s},
                                        {u"net/port"_s,          8080},
                                        {u"packed-file/magic"_s, magic("file")}}}};
    // clang-format on
}

void tst_StoredLayout::storedItems()
{
    QFETCH(bool, wholeFile);
    QFETCH(QStringList, keys);
    QFETCH(QVariantMap, payloads);

    // A plain parameter, a protected parameter and a protected section.
    QVariantMap tree = makeTree(
            {{u"auth/user"_s, u"admin"_s}, {u"auth/pin"_s, 1234}}, testutil::ProtectedSections,
            makeTree({{u"net/port"_s, 8080}}, testutil::ProtectedParams,
                     makeTree({{u"net/host"_s, u"example.org"_s}}, testutil::Plain)));
    if (wholeFile)
        tree.insert(u"encrypted-file"_s, true);
    const QVariantMap stored = files.storedKeys(files.save(tree, password));
    const QVariantMap again = files.storedKeys(files.save(tree, password));

    QCOMPARE(stored.keys(), keys);
    if (!wholeFile)
        QCOMPARE(stored.value(u"net/host"_s), QVariant(u"example.org"_s));
    const QRegularExpression sixHex(u"^[0-9a-f]{6}$"_s);
    for (auto it = payloads.cbegin(); it != payloads.cend(); ++it) {
        const QString &item = it.key();
        const QString publicKey = item.arg(QLatin1String("public"));
        const QString data = item.arg(item.contains(QLatin1String("packed-param-"))
                                              ? QLatin1String("data")
                                              : QLatin1String("data000"));
        QCOMPARE(stored.value(item.arg(QLatin1String("enabled"))), QVariant(u"true"_s));
        QCOMPARE(stored.value(item.arg(QLatin1String("algorithm"))), QVariant(u"2"_s));
        QVERIFY2(sixHex.match(stored.value(publicKey).toString()).hasMatch(),
                 qPrintable(publicKey));
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
    QVariantMap values {{u"s/count"_s, 42},
                        {u"s/big"_s, qlonglong(1) << 40},
                        {u"s/ratio"_s, -2.5},
                        {u"s/on"_s, true},
                        {u"s/off"_s, false},
                        {u"s/name"_s, u"Grüße, N=1/x"_s},
                        {u"s/list"_s, QStringList {u"a"_s, u"b,c"_s, u"ü N"_s}},
                        {u"t/other"_s, u"v"_s}};
    const QString path = files.copy(files.save(makeTree(values, level), password));
    values.insert(u"s/count"_s, qlonglong(42)); // every integer comes back 64-bit

    const QByteArray before = Files::bytes(path);
    QVariantMap tree;
    QVERIFY(testutil::loadWithSaving(path, password, &tree));
    QCOMPARE(Files::bytes(path), before); // nothing marked by hand, nothing to rewrite

    QCOMPARE(tree.value(u"encrypted-file"_s).toBool(), level == testutil::ProtectedFile);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString section = it.key().section(QLatin1Char('/'), 0, 0);
        const QVariantMap node
                = testutil::paramNode(tree, section, it.key().section(QLatin1Char('/'), 1));
        const QVariant value = node.value(u"value"_s);
        QCOMPARE(value.userType(), it.value().userType());
        QCOMPARE(value, it.value());
        QCOMPARE(node.value(u"encrypted-param"_s).toBool(), level == testutil::ProtectedParams);
        QCOMPARE(testutil::sectionNode(tree, section).value(u"encrypted-section"_s).toBool(),
                 level == testutil::ProtectedSections);
    }
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

    const QString item
            = level == testutil::ProtectedFile ? u"packed-file/"_s : u"s/packed-section-"_s;
    const QString path = files.newPath();
    QString value;
    {
        // Grow the value until the saver's chunks add up to the wanted length,
        // starting from an estimate below it (each character adds two bytes
        // of typed text, about 8/3 characters of cipher text).
        QSettings settings(path, QSettings::IniFormat);
        const auto joinedFor = [&](int size) {
            value = QString(size, QLatin1Char('x'));
            const QVariantMap tree = makeTree({{u"s/v"_s, value}}, level);
            Drovik::saveFile(&settings, password, &tree);
            int joined = 0;
            const QStringList keys = settings.allKeys();
            for (const QString &key : keys) {
                if (key.startsWith(item + u"data"_s))
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
    const QStringList stored = chunks(keys, item + u"data"_s);
    QList<int> lengths;
    for (const QString &chunk : stored)
        lengths << chunk.size();
    QCOMPARE(lengths, chunkLengths);
    QCOMPARE(keys.size(), 3 + stored.size()); // switch, public key, algorithm, chunks
    QCOMPARE(openPayload(stored.join(QString()), keys.value(item + u"public"_s)).value(u"s/v"_s),
             QVariant(value));
    QCOMPARE(files.valueOnDisk(path, u"s/v"_s, password), QVariant(value));
}

void tst_StoredLayout::chunkIndexGrowsPastThreeDigits()
{
    // About a megabyte of cipher text: a little over a thousand section chunks.
    const QString value(380000, QLatin1Char('x'));
    const QString path
            = files.save(makeTree({{u"s/v"_s, value}}, testutil::ProtectedSections), password);
    const QVariantMap keys = files.storedKeys(path);

    const QStringList stored = chunks(keys, u"s/packed-section-data"_s);
    QVERIFY2(stored.size() > 1001, qPrintable(QString::number(stored.size())));
    QVERIFY(keys.contains(u"s/packed-section-data999"_s));
    QVERIFY(keys.contains(u"s/packed-section-data1000"_s));
    QCOMPARE(keys.size(), 3 + stored.size());
    QCOMPARE(files.valueOnDisk(path, u"s/v"_s, password), QVariant(value));
}

void tst_StoredLayout::savingTree_data()
{
    QTest::addColumn<QVariantMap>("tree");
    QTest::addColumn<QVariantMap>("expected"); // stored key -> value; invalid: any value

    const QString name = u"params"_s;
    const auto sections = [](const QVariantMap &nodes) {
        return QVariantMap {{u"sections"_s, nodes}};
    };
    const auto param = [](const QVariant &value) { return QVariantMap {{u"value"_s, value}}; };
    const QVariant one = u"1"_s;
    const QVariantMap plainNode {{name, QVariantMap {{u"x"_s, param(one)}}}};
    const QVariant any;

    // clang-format off
    QTest::newRow("empty-tree") << QVariantMap() << QVariantMap();
    QTest::newRow("protected-section-without-params")
            << sections({{u"s"_s, QVariantMap{{name, QVariantMap()}, {u"encrypted-section"_s, true}}},
                         {u"t"_s, plainNode}})
            << QVariantMap{{u"t/x"_s, one}};
    QTest::newRow("unwritable-plain-params")
            << sections({{u"s"_s, QVariantMap{{name, QVariantMap{{u"invalid"_s,        param(QVariant())},
                                                                  {u"empty-node"_s,     QVariantMap()},
                                                                  {u"packed-param-x"_s, param(one)},
                                                                  {u"x"_s,              param(one)}}}}}})
            << QVariantMap{{u"s/x"_s, one}};
    QTest::newRow("order-lists-name-what-is-written")
            << QVariantMap{{u"sections-order"_s, QStringList{u"b"_s, u"ghost"_s}},
                           {u"sections"_s, QVariantMap{{u"a"_s, plainNode},
                                                       {u"b"_s, QVariantMap{{name, QVariantMap{{u"x"_s, param(one)},
                                                                                               {u"y"_s, param(one)}}},
                                                                            {u"params-order"_s, QStringList{u"y"_s}}}}}}}
            << QVariantMap{{u"b/y"_s, one}};
    QTest::newRow("protected-param-without-value")
            << sections({{u"s"_s, QVariantMap{{name, QVariantMap{{u"p"_s, QVariantMap{{u"encrypted-param"_s, true}}}}}}}})
            << QVariantMap{{u"s/packed-param-enabled/p"_s,   u"true"_s},
                           {u"s/packed-param-public/p"_s,    any},
                           {u"s/packed-param-algorithm/p"_s, u"2"_s},
                           {u"s/packed-param-data/p"_s,      any}};
    QTest::newRow("protected-file-without-sections")
            << QVariantMap{{u"encrypted-file"_s, true}}
            << QVariantMap{{u"packed-file/enabled"_s,   u"true"_s},
                           {u"packed-file/public"_s,    any},
                           {u"packed-file/algorithm"_s, u"2"_s},
                           {u"packed-file/data000"_s,   any}};
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
    const QVariant value = files.valueOnDisk(path, u"s/p"_s, password);
    if (QByteArray(QTest::currentDataTag()) == "protected-param-without-value")
        QCOMPARE(value, QVariant(QString()));
    else
        QVERIFY(!value.isValid());
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
            << QStringList{u"packed-file/algorithm"_s, u"packed-file/data000"_s,
                           u"packed-file/enabled"_s,   u"packed-file/public"_s};
    QTest::newRow("section")
            << QByteArray(net + "packed-section-enabled=true\n" + other)
            << QStringList{u"net/packed-section-algorithm"_s, u"net/packed-section-data000"_s,
                           u"net/packed-section-enabled"_s,   u"net/packed-section-public"_s,
                           u"other/x"_s};
    QTest::newRow("param")
            << QByteArray(net + "packed-param-enabled\\port=true\n" + other)
            << QStringList{u"net/host"_s,
                           u"net/packed-param-algorithm/port"_s, u"net/packed-param-data/port"_s,
                           u"net/packed-param-enabled/port"_s,   u"net/packed-param-public/port"_s,
                           u"other/x"_s};
    // A switch reading false leaves "packed-file" an ordinary section; its stale
    // magic key makes the load save, which drops the key outside every group
    // and a plain parameter with a parameter-level reserved name.
    QTest::newRow("file-switch-false-stale-magic")
            << QByteArray("version=3\n[packed-file]\nenabled=false\nmagic=m\nnote=z\n" + net
                          + "packed-param-note=x\npacked-section-note=y\n" + other)
            << QStringList{u"net/host"_s, u"net/packed-section-note"_s, u"net/port"_s,
                           u"other/x"_s,  u"packed-file/enabled"_s,     u"packed-file/note"_s};
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
        QCOMPARE(Drovik::value(&settings, u"net/port"_s, QVariant(), password),
                 QVariant(u"8080"_s));
    }
    QCOMPARE(Files::bytes(readOnly), ini);

    const QString path = files.write(ini);
    QVERIFY(testutil::loadWithSaving(path, password));
    QCOMPARE(files.storedKeys(path).keys(), keysAfter);
    QCOMPARE(files.valueOnDisk(path, u"net/port"_s, password), QVariant(u"8080"_s));
    QCOMPARE(files.valueOnDisk(path, u"net/host"_s, password), QVariant(u"example.org"_s));
    QCOMPARE(files.valueOnDisk(path, u"other/x"_s, password), QVariant(u"1"_s));
}

void tst_StoredLayout::protectionFromStoredKeys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("items"); // "<item> protected|marked"; the file is ""
    QTest::addColumn<QStringList>("layout");

    const QByteArray fileData = "[packed-file]\nenabled=true\npublic=0a1b2c\ndata000=AAAA\n";
    const QByteArray sectionData
            = "[db]\npacked-section-enabled=true\npacked-section-public=0a1b2c\n"
              "packed-section-data000=AAAA\n";
    const QByteArray paramData
            = "[net]\npacked-param-enabled\\a=true\npacked-param-public\\a=0a1b2c\n"
              "packed-param-data\\a=AAAA\n";
    // clang-format off
    QTest::newRow("plain")                << QByteArray("v=1\n[net]\nport=1\npacked-section-note=x\n")
                                          << QStringList() << QStringList();
    QTest::newRow("file-protected")       << fileData + "[net]\nport=1\n"
                                          << QStringList {u" protected"_s}
                                          << QStringList {u"net/port"_s, u"packed-file/data000"_s, u"packed-file/enabled"_s, u"packed-file/public"_s};
    QTest::newRow("file-marked")          << QByteArray("[packed-file]\nenabled=true\n[net]\nport=1\n")
                                          << QStringList {u" marked"_s} << QStringList {u"packed-file/enabled"_s};
    QTest::newRow("file-switch-off")      << QByteArray("[packed-file]\nenabled=false\nmagic=m\n")
                                          << QStringList() << QStringList {u"packed-file/magic"_s};
    QTest::newRow("section-protected")    << sectionData + "note=1\n"
                                          << QStringList {u"db protected"_s}
                                          << QStringList {u"db/note"_s, u"db/packed-section-data000"_s, u"db/packed-section-enabled"_s, u"db/packed-section-public"_s};
    QTest::newRow("section-marked")       << QByteArray("[db]\npacked-section-enabled=1\npacked-section-note=x\npass=p\n")
                                          << QStringList {u"db marked"_s}
                                          << QStringList {u"db/packed-section-enabled"_s, u"db/packed-section-note"_s};
    QTest::newRow("section-stale-magic")  << QByteArray("[db]\npacked-section-magic=m\npass=p\n")
                                          << QStringList() << QStringList {u"db/packed-section-magic"_s};
    QTest::newRow("params")               << paramData + "packed-param-enabled\\b=true\nb=2\npacked-param-enabled\\c=false\nc=3\n"
                                          << QStringList {u"net/a protected"_s, u"net/b marked"_s}
                                          << QStringList {u"net/packed-param-data/a"_s, u"net/packed-param-enabled/a"_s, u"net/packed-param-enabled/b"_s,
                                                          u"net/packed-param-enabled/c"_s, u"net/packed-param-public/a"_s};
    QTest::newRow("param-data-missing")   << QByteArray("[net]\npacked-param-enabled\\a=true\npacked-param-public\\a=0a1b2c\na=1\n")
                                          << QStringList {u"net/a marked"_s}
                                          << QStringList {u"net/packed-param-enabled/a"_s, u"net/packed-param-public/a"_s};
    // clang-format on
}

void tst_StoredLayout::protectionFromStoredKeys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, items);
    QFETCH(QStringList, layout);

    const QString path = files.write(ini);
    const QSettings settings(path, QSettings::IniFormat);
    QStringList layoutKeys;
    const QMap<QString, Drovik::Protection> answer
            = Drovik::storedProtection(&settings, &layoutKeys);
    QStringList described;
    for (auto it = answer.cbegin(); it != answer.cend(); ++it)
        described << it.key() + (it.value() == Drovik::Protected ? u" protected"_s : u" marked"_s);
    QCOMPARE(described, items);
    layoutKeys.sort();
    QCOMPARE(layoutKeys, layout);
    QCOMPARE(Files::bytes(path), ini); // a query without a password never writes
}

QTEST_APPLESS_MAIN(tst_StoredLayout)
#include "tst_stored_layout.moc"
