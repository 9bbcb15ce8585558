#include "testutil.h"

#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::makeTree;

const QByteArray password = QByteArrayLiteral("s3cret");

class tst_StoredLayout : public QObject
{
    Q_OBJECT

private slots:
    void chunkBoundaries_data();
    void chunkBoundaries();
    void savingTree_data();
    void savingTree();

private:
    Files files;
};

void tst_StoredLayout::chunkBoundaries_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<int>("valueLength");
    QTest::addColumn<QList<int>>("chunkLengths");

    // A value of n characters makes a payload of 2n + 163 bytes of typed text
    // in a section and 2n + 147 in the file (key and check text included);
    // padded to 8-byte blocks, base64 makes 1496, 1504, 3000 and 3008
    // characters of the values below. No other lengths lie closer to the
    // split points. The golden files hold longer runs of chunks.
    const Level section = testutil::ProtectedSections;
    const Level file = testutil::ProtectedFile;
    // clang-format off
    QTest::newRow("section-1496") << section << 475  << QList<int>{1496};
    QTest::newRow("section-1504") << section << 479  << QList<int>{1000, 504};
    QTest::newRow("file-3000")    << file    << 1047 << QList<int>{3000};
    QTest::newRow("file-3008")    << file    << 1051 << QList<int>{2000, 1008};
    // clang-format on
}

void tst_StoredLayout::chunkBoundaries()
{
    QFETCH(Level, level);
    QFETCH(int, valueLength);
    QFETCH(QList<int>, chunkLengths);

    const QString value(valueLength, QLatin1Char('x'));
    const QString path = files.save(makeTree({{u"s/v"_s, value}}, level), password);
    const QVariantMap keys = files.storedKeys(path);
    const QString prefix
            = level == testutil::ProtectedFile ? u"packed-file/data"_s : u"s/packed-section-data"_s;
    const auto chunk
            = [&prefix](int i) { return prefix + u"%1"_s.arg(i, 3, 10, QLatin1Char('0')); };
    QList<int> lengths;
    for (int i = 0; keys.contains(chunk(i)); ++i)
        lengths << keys.value(chunk(i)).toString().size();
    QCOMPARE(lengths, chunkLengths);
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
}

QTEST_APPLESS_MAIN(tst_StoredLayout)
#include "tst_stored_layout.moc"
