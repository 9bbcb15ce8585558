#include "testutil.h"

#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::paramNode;

namespace {

const QByteArray password = QByteArrayLiteral("right");

struct StoredItem
{
    QString stored, data, valueKey, magicKey;
    const char *name;
};

// The stored names of the item "s/v" ("%1" stands for enabled, public,
// algorithm, or the data key) and its payload keys.
StoredItem storedItem(Level level)
{
    // clang-format off
    switch (level) {
    case testutil::ProtectedFile:
        return {u"packed-file/%1"_s,      u"data000"_s, u"s/v"_s,                        u"packed-file/magic"_s,      "file"};
    case testutil::ProtectedSections:
        return {u"s/packed-section-%1"_s, u"data000"_s, u"s/v"_s,                        u"s/packed-section-magic"_s, "section"};
    default:
        return {u"s/packed-param-%1/v"_s, u"data"_s,    u"s/packed-param-dataparam/v"_s, u"s/packed-param-magic/v"_s, "param"};
    }
    // clang-format on
}

// A protected item as another writer could store it: any algorithm number,
// the algorithm key left out when storedAlgorithm is negative, and the magic
// text of any version.
QString writeByHand(Files &files, Level level, int cipherAlgorithm, int storedAlgorithm,
                    int magicVersion, const QVariant &value)
{
    const StoredItem item = storedItem(level);
    const QString magic = u"Configuration encoding of Quorvant %1, version %2.0"_s;
    QVariantMap payload {{item.magicKey, magic.arg(QLatin1String(item.name)).arg(magicVersion)}};
    if (value.isValid())
        payload.insert(item.valueKey, value);
    const QString publicKey = u"0a1b2c"_s;
    const QString path = files.newPath();
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(item.stored.arg(QLatin1String("enabled")), true);
    settings.setValue(item.stored.arg(QLatin1String("public")), publicKey);
    if (storedAlgorithm >= 0)
        settings.setValue(item.stored.arg(QLatin1String("algorithm")), storedAlgorithm);
    settings.setValue(item.stored.arg(item.data),
                      Drovik::decryptEncrypt(false, Drovik::tinyStrictToText(payload), publicKey,
                                             password, cipherAlgorithm));
    return path;
}

} // namespace

class tst_Loading : public QObject
{
    Q_OBJECT

private slots:
    void needsSavingFlag_data();
    void needsSavingFlag();
    void storedAlgorithm_data();
    void storedAlgorithm();
    void protectedParamWithoutValueReadsInvalid();
    void payloadOrderIsAscending();

private:
    Files files;
};

void tst_Loading::needsSavingFlag_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("needsSaving");
    QTest::addColumn<QString>("gone"); // a stored key the load drops from the tree

    // clang-format off
    QTest::newRow("empty-file")           << QByteArray()                                            << false << QString();
    QTest::newRow("ungrouped-only")       << QByteArrayLiteral("version=3\n")                        << false << QString();
    QTest::newRow("plain")                << QByteArrayLiteral("[net]\nport=1\n")                    << false << QString();
    QTest::newRow("file-marked")          << QByteArrayLiteral("[packed-file]\nenabled=true\n[net]\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("stale-file-magic")     << QByteArrayLiteral("[packed-file]\nenabled=false\nmagic=m\n[net]\nport=1\n")
                                                                                                     << true  << u"packed-file/magic"_s;
    QTest::newRow("file-public-only")     << QByteArrayLiteral("[packed-file]\nenabled=true\npublic=0a1b2c\n[net]\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("file-chunk-only")      << QByteArrayLiteral("[packed-file]\nenabled=true\ndata000=AAAAAAAAAAAA\n[net]\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("section-marked")       << QByteArrayLiteral("[net]\npacked-section-enabled=true\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("section-chunk-only")   << QByteArrayLiteral("[net]\npacked-section-enabled=true\npacked-section-data000=AAAAAAAAAAAA\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("stale-section-magic")  << QByteArrayLiteral("[net]\npacked-section-magic=m\nport=1\n")
                                                                                                     << true  << u"net/packed-section-magic"_s;
    QTest::newRow("section-switch-false") << QByteArrayLiteral("[net]\npacked-section-enabled=false\nport=1\n")
                                                                                                     << false << QString();
    QTest::newRow("param-marked")         << QByteArrayLiteral("[net]\nport=1\npacked-param-enabled\\port=true\n")
                                                                                                     << true  << u"net/packed-param-enabled/port"_s;
    QTest::newRow("param-public-no-data") << QByteArrayLiteral("[net]\nport=1\npacked-param-enabled\\port=true\npacked-param-public\\port=0a1b2c\n")
                                                                                                     << true  << u"net/packed-param-public/port"_s;
    QTest::newRow("param-switch-false")   << QByteArrayLiteral("[net]\nport=1\npacked-param-enabled\\port=false\n")
                                                                                                     << false << QString();
    // clang-format on
}

void tst_Loading::needsSavingFlag()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, needsSaving);
    QFETCH(QString, gone);

    const QString path = files.write(ini);
    QVariantMap flagged;
    QVariantMap unflagged;
    {
        const QSettings settings(path, QSettings::IniFormat);
        bool flag = false;
        QVERIFY(Drovik::parseFile(&settings, password, &flagged, &flag));
        QCOMPARE(flag, needsSaving);
        QVERIFY(Drovik::getFileData(&settings, password, &unflagged));
    }
    QCOMPARE(unflagged, flagged); // the flag changes what is reported, not what is loaded
    if (!gone.isEmpty()) {
        const QString section = gone.section(QLatin1Char('/'), 0, 0);
        QVERIFY2(!testutil::paramsOf(flagged, section).contains(gone.section(QLatin1Char('/'), 1)),
                 qPrintable(gone));
    }
    QCOMPARE(Files::bytes(path), ini); // loading never writes

    // Loading with saving rewrites exactly when the flag is raised, and the
    // stale magic keys leave the file.
    QVERIFY(testutil::loadWithSaving(path, password));
    QCOMPARE(Files::bytes(path) != ini, needsSaving);
    if (gone.endsWith(QLatin1String("magic")))
        QVERIFY2(!files.storedKeys(path).contains(gone), qPrintable(gone));
}

void tst_Loading::storedAlgorithm_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<int>("cipherAlgorithm");
    QTest::addColumn<int>("storedAlgorithm"); // negative: no algorithm key
    QTest::addColumn<int>("magicVersion");
    QTest::addColumn<bool>("loads");

    const Level file = testutil::ProtectedFile;
    const Level section = testutil::ProtectedSections;
    const Level param = testutil::ProtectedParams;
    // clang-format off
    QTest::newRow("file-keystream")                << file    << 1 <<  1 << 1 << true;
    QTest::newRow("file-no-algorithm-key")         << file    << 2 << -1 << 2 << true;
    QTest::newRow("file-keystream-magic-2")        << file    << 1 <<  1 << 2 << false;
    QTest::newRow("section-keystream")             << section << 1 <<  1 << 1 << true;
    QTest::newRow("section-no-algorithm-key")      << section << 2 << -1 << 2 << true;
    QTest::newRow("section-keystream-unlabelled")  << section << 1 << -1 << 1 << false;
    QTest::newRow("param-keystream")               << param   << 1 <<  1 << 1 << true;
    QTest::newRow("param-no-algorithm-key")        << param   << 2 << -1 << 2 << true;
    QTest::newRow("param-keystream-magic-2")       << param   << 1 <<  1 << 2 << false;
    // clang-format on
}

void tst_Loading::storedAlgorithm()
{
    QFETCH(Level, level);
    QFETCH(int, cipherAlgorithm);
    QFETCH(int, storedAlgorithm);
    QFETCH(int, magicVersion);
    QFETCH(bool, loads);

    const QString value = u"written elsewhere"_s;
    const QString path = files.copy(
            writeByHand(files, level, cipherAlgorithm, storedAlgorithm, magicVersion, value));
    const QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    QCOMPARE(Drovik::getFileData(&settings, password, &tree), loads);
    if (loads)
        QCOMPARE(paramNode(tree, u"s"_s, u"v"_s).value(u"value"_s), QVariant(value));
}

void tst_Loading::protectedParamWithoutValueReadsInvalid()
{
    // A parameter payload holding only its magic text: the node's value is an
    // invalid variant, which a read hands back instead of the default.
    const QString path = files.copy(writeByHand(files, testutil::ProtectedParams, 2, 2, 2, {}));
    const QSettings settings(path, QSettings::IniFormat);
    QVERIFY(!Drovik::value(&settings, u"s/v"_s, u"default"_s, password).isValid());
}

void tst_Loading::payloadOrderIsAscending()
{
    // Written as net, db, a, a-b; a protected file comes back in the ascending
    // order of its full payload keys, where "a-b/x" sorts before "a/x".
    QVariantMap written
            = testutil::makeTree({{u"net/x"_s, 1}, {u"db/x"_s, 1}, {u"a/x"_s, 1}, {u"a-b/x"_s, 1}},
                                 testutil::ProtectedFile);
    written.insert(u"sections-order"_s, QStringList {u"net"_s, u"db"_s, u"a"_s, u"a-b"_s});
    const QSettings settings(files.copy(files.save(written, password)), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&settings, password, &tree));
    QCOMPARE(tree.value(u"sections-order"_s),
             QVariant(QStringList {u"a-b"_s, u"a"_s, u"db"_s, u"net"_s}));
}

QTEST_APPLESS_MAIN(tst_Loading)
#include "tst_loading.moc"
