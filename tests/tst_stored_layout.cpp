#include "testutil.h"

#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::makeTree;

namespace {

const QByteArray password = QByteArrayLiteral("s3cret");

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
    void chunkBoundaries_data();
    void chunkBoundaries();
    void savingTree_data();
    void savingTree();
    void protectionFromStoredKeys_data();
    void protectionFromStoredKeys();

private:
    Files files;
};

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
    QTest::newRow("file-3000")    << file    << 3000 << QList<int>{3000};
    QTest::newRow("file-3008")    << file    << 3008 << QList<int>{2000, 1008};
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
