#include "testutil.h"

#include <drovik/drovik.h>

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;
using testutil::makeTree;

namespace {

const QByteArray password = QByteArrayLiteral("right");

QVariantMap sectionOf(const QVariantMap &tree, const QString &section)
{
    return tree.value(QStringLiteral("sections")).toMap().value(section).toMap();
}

QVariantMap paramsOf(const QVariantMap &tree, const QString &section)
{
    return sectionOf(tree, section).value(QStringLiteral("params")).toMap();
}

QVariant valueOf(const QVariantMap &tree, const QString &section, const QString &param)
{
    return paramsOf(tree, section).value(param).toMap().value(QStringLiteral("value"));
}

// The stored names of one protected item ("%1" stands for enabled, public,
// algorithm, or the data key) and its payload keys, for items written by hand.
struct StoredItem
{
    QString stored, data, valueKey, magicKey, magicText;
};

StoredItem storedItem(Level level)
{
    const QString magic = QStringLiteral("Configuration encoding of Quorvant %1, version %2.0");
    // clang-format off
    switch (level) {
    case testutil::ProtectedFile:
        return {QStringLiteral("packed-file/%1"),      QStringLiteral("data000"), QStringLiteral("s/v"),
                QStringLiteral("packed-file/magic"),   magic.arg(QLatin1String("file"))};
    case testutil::ProtectedSections:
        return {QStringLiteral("s/packed-section-%1"), QStringLiteral("data000"), QStringLiteral("s/v"),
                QStringLiteral("s/packed-section-magic"), magic.arg(QLatin1String("section"))};
    default:
        return {QStringLiteral("s/packed-param-%1/v"), QStringLiteral("data"), QStringLiteral("s/packed-param-dataparam/v"),
                QStringLiteral("s/packed-param-magic/v"), magic.arg(QLatin1String("param"))};
    }
    // clang-format on
}

// A protected item as another writer could store it: any algorithm number,
// the algorithm key left out when storedAlgorithm is negative.
QString writeByHand(Files &files, Level level, int cipherAlgorithm, int storedAlgorithm,
                    int magicVersion, const QVariant &value)
{
    const StoredItem item = storedItem(level);
    QVariantMap payload {{item.magicKey, item.magicText.arg(magicVersion)}};
    if (value.isValid())
        payload.insert(item.valueKey, value);
    const QString publicKey = QStringLiteral("0a1b2c");
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
    void failureWritesNothing_data();
    void failureWritesNothing();
    void storedAlgorithm_data();
    void storedAlgorithm();
    void protectedParamWithoutValueReadsInvalid();
    void failureLeavesLaterSectionsRaw();
    void payloadOrderIsAscending();
    void valueByKeyPath_data();
    void valueByKeyPath();
    void largeSection();

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
                                                                                                     << true  << QStringLiteral("packed-file/magic");
    QTest::newRow("file-public-only")     << QByteArrayLiteral("[packed-file]\nenabled=true\npublic=0a1b2c\n[net]\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("file-chunk-only")      << QByteArrayLiteral("[packed-file]\nenabled=true\ndata000=AAAAAAAAAAAA\n[net]\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("section-marked")       << QByteArrayLiteral("[net]\npacked-section-enabled=true\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("section-chunk-only")   << QByteArrayLiteral("[net]\npacked-section-enabled=true\npacked-section-data000=AAAAAAAAAAAA\nport=1\n")
                                                                                                     << true  << QString();
    QTest::newRow("stale-section-magic")  << QByteArrayLiteral("[net]\npacked-section-magic=m\nport=1\n")
                                                                                                     << true  << QStringLiteral("net/packed-section-magic");
    QTest::newRow("section-switch-false") << QByteArrayLiteral("[net]\npacked-section-enabled=false\nport=1\n")
                                                                                                     << false << QString();
    QTest::newRow("param-marked")         << QByteArrayLiteral("[net]\nport=1\npacked-param-enabled\\port=true\n")
                                                                                                     << true  << QStringLiteral("net/packed-param-enabled/port");
    QTest::newRow("param-public-no-data") << QByteArrayLiteral("[net]\nport=1\npacked-param-enabled\\port=true\npacked-param-public\\port=0a1b2c\n")
                                                                                                     << true  << QStringLiteral("net/packed-param-public/port");
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
    QVERIFY(flagged.contains(QStringLiteral("sections")));
    QVERIFY(flagged.contains(QStringLiteral("sections-order")));
    if (!gone.isEmpty()) {
        const QString section = gone.section(QLatin1Char('/'), 0, 0);
        QVERIFY2(!paramsOf(flagged, section).contains(gone.section(QLatin1Char('/'), 1)),
                 qPrintable(gone));
    }
    QCOMPARE(Files::bytes(path), ini); // loading never writes

    // A file marked by hand keeps its group in the sections map but no longer
    // lists it; a marked section no longer lists its switch and data names.
    const bool fileMarked = ini.startsWith("[packed-file]\nenabled=true");
    QCOMPARE(flagged.value(QStringLiteral("encrypted-file")).toBool(), fileMarked);
    const QStringList order = flagged.value(QStringLiteral("sections-order")).toStringList();
    QCOMPARE(order.contains(QStringLiteral("packed-file")),
             ini.startsWith("[packed-file]") && !fileMarked);
    for (const QString &name : order) {
        const QVariantMap node = sectionOf(flagged, name);
        if (node.value(QStringLiteral("encrypted-section")).toBool()) {
            const QStringList params = node.value(QStringLiteral("params-order")).toStringList();
            QVERIFY2(
                    params.filter(QRegularExpression(QStringLiteral("^packed-section-"))).isEmpty(),
                    qPrintable(params.join(QLatin1Char(' '))));
        }
    }

    // Loading with saving rewrites exactly when the flag is raised.
    {
        QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QVERIFY(Drovik::getFileDataWithSaving(&settings, password, &tree));
    }
    QCOMPARE(Files::bytes(path) != ini, needsSaving);
    // A stale magic key leaves the file too (a switch is written again, as
    // part of the protected parameter).
    if (gone.endsWith(QLatin1String("magic")))
        QVERIFY2(!files.storedKeys(path).contains(gone), qPrintable(gone));
}

void tst_Loading::failureWritesNothing_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<QString>("damage"); // "", a chunk key to drop, or "rename"
    QTest::addColumn<QByteArray>("loadPassword");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("key");

    const Level file = testutil::ProtectedFile;
    const Level section = testutil::ProtectedSections;
    const Level param = testutil::ProtectedParams;
    const QString rename = QStringLiteral("rename");
    const QByteArray wrong = QByteArrayLiteral("wrong");
    // clang-format off
    QTest::newRow("file-intact")              << file    << QString()                                     << password     << true << QStringLiteral("net/a");
    QTest::newRow("file-wrong-password")      << file    << QString()                                     << wrong        << false << QStringLiteral("net/a");
    QTest::newRow("file-empty-password")      << file    << QString()                                     << QByteArray() << false << QStringLiteral("net/a");
    QTest::newRow("file-missing-chunk")       << file    << QStringLiteral("packed-file/data001")         << password     << false << QStringLiteral("net/a");
    QTest::newRow("section-intact")           << section << QString()                                     << password     << true << QStringLiteral("net/a");
    QTest::newRow("section-wrong-password")   << section << QString()                                     << wrong        << false << QStringLiteral("net/a");
    QTest::newRow("section-missing-chunk")    << section << QStringLiteral("net/packed-section-data001")  << password     << false << QStringLiteral("net/a");
    QTest::newRow("section-renamed")          << section << rename                                        << password     << false << QStringLiteral("net/a");
    QTest::newRow("param-intact")             << param   << QString()                                     << password     << true << QStringLiteral("net/a");
    QTest::newRow("param-wrong-password")     << param   << QString()                                     << wrong        << false << QStringLiteral("net/a");
    QTest::newRow("param-section-renamed")    << param   << rename                                        << password     << false << QStringLiteral("net/a");
    QTest::newRow("file-missing-chunk-magic-first")    << file    << QStringLiteral("packed-file/data001")        << password     << false << QStringLiteral("zz/a");
    QTest::newRow("section-missing-chunk-magic-first") << section << QStringLiteral("zz/packed-section-data001")  << password     << false << QStringLiteral("zz/z");
    // clang-format on
}

void tst_Loading::failureWritesNothing()
{
    QFETCH(Level, level);
    QFETCH(QString, damage);
    QFETCH(QByteArray, loadPassword);
    QFETCH(bool, loads);
    QFETCH(QString, key);

    // Long enough for four file chunks or eight section chunks. With "net/a"
    // the magic text stands at the end of the payload, where a lost chunk
    // garbles it; with the "-magic-first" keys it stands before the value and
    // survives the cut, so the load must refuse chunks stored past the gap.
    const QString value(3000, QLatin1Char('y'));
    const QString saved = files.newPath();
    {
        QSettings settings(saved, QSettings::IniFormat);
        const QVariantMap tree = makeTree({{key, value}}, level);
        Drovik::saveFile(&settings, password, &tree);
    }
    const QString path = files.copy(saved);
    {
        QSettings settings(path, QSettings::IniFormat);
        // A parameter marked by hand, loaded before "net": a successful load with
        // saving would rewrite the file to protect it.
        settings.setValue(QStringLiteral("aa/k"), QStringLiteral("1"));
        settings.setValue(QStringLiteral("aa/packed-param-enabled/k"), QStringLiteral("true"));
        if (damage == QLatin1String("rename")) {
            const QStringList keys = settings.allKeys();
            for (const QString &key : keys) {
                if (key.startsWith(QLatin1String("net/"))) {
                    settings.setValue(QStringLiteral("renamed/") + key.mid(4), settings.value(key));
                    settings.remove(key);
                }
            }
        } else if (!damage.isEmpty()) {
            QVERIFY(settings.contains(damage));
            QVERIFY(settings.contains(
                    QString(damage).replace(QLatin1String("001"), QLatin1String("002"))));
            settings.remove(damage);
        }
    }

    const QString target = files.copy(path);
    const QByteArray before = Files::bytes(target);
    QVariantMap tree;
    {
        QSettings settings(target, QSettings::IniFormat);
        QCOMPARE(Drovik::getFileDataWithSaving(&settings, loadPassword, &tree), loads);
    }
    if (loads) {
        const QSettings reader(files.copy(target), QSettings::IniFormat);
        QCOMPARE(Drovik::value(&reader, QStringLiteral("net/a"), QVariant(), password),
                 QVariant(value));
    } else {
        QCOMPARE(Files::bytes(target), before);
        QVERIFY(!tree.value(QStringLiteral("encrypted-file")).toBool());
    }
}

void tst_Loading::storedAlgorithm_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<int>("cipherAlgorithm");
    QTest::addColumn<int>("storedAlgorithm"); // negative: no algorithm key
    QTest::addColumn<int>("magicVersion");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("key");

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

    const QString value = QStringLiteral("written elsewhere");
    const QString path = files.copy(
            writeByHand(files, level, cipherAlgorithm, storedAlgorithm, magicVersion, value));
    const QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    QCOMPARE(Drovik::getFileData(&settings, password, &tree), loads);
    if (loads)
        QCOMPARE(valueOf(tree, QStringLiteral("s"), QStringLiteral("v")), QVariant(value));
}

void tst_Loading::protectedParamWithoutValueReadsInvalid()
{
    // A parameter payload holding only its magic text: the node's value is an
    // invalid variant, which a read hands back instead of the default.
    const QString path = files.copy(writeByHand(files, testutil::ProtectedParams, 2, 2, 2, {}));
    const QSettings settings(path, QSettings::IniFormat);
    const QVariant read
            = Drovik::value(&settings, QStringLiteral("s/v"), QStringLiteral("default"), password);
    QVERIFY(!read.isValid());
}

void tst_Loading::failureLeavesLaterSectionsRaw()
{
    const QString path = files.write(QByteArrayLiteral("[a]\n"
                                                       "x=1\n"
                                                       "packed-section-magic=stale\n"
                                                       "[b]\n"
                                                       "packed-section-enabled=true\n"
                                                       "packed-section-public=0a1b2c\n"
                                                       "packed-section-data000=AAAAAAAAAAAAAAAA\n"
                                                       "y=2\n"
                                                       "[c]\n"
                                                       "packed-section-enabled=true\n"
                                                       "z=3\n"));
    const QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    bool needsSaving = false;
    QVERIFY(!Drovik::parseFile(&settings, password, &tree, &needsSaving));
    QVERIFY(needsSaving); // raised by "a" before "b" failed

    QCOMPARE(tree.value(QStringLiteral("sections-order")).toStringList(),
             (QStringList {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    QVERIFY(!tree.contains(QStringLiteral("encrypted-file")));

    const QVariantMap a = sectionOf(tree, QStringLiteral("a"));
    QVERIFY(!paramsOf(tree, QStringLiteral("a")).contains(QStringLiteral("packed-section-magic")));
    QVERIFY(!a.contains(QStringLiteral("encrypted-section")));

    // The failing section keeps its raw parameters but lists only its own.
    const QVariantMap b = sectionOf(tree, QStringLiteral("b"));
    QVERIFY(b.value(QStringLiteral("encrypted-section")).toBool());
    QCOMPARE(b.value(QStringLiteral("params-order")).toStringList(),
             QStringList {QStringLiteral("y")});
    QVERIFY(paramsOf(tree, QStringLiteral("b")).contains(QStringLiteral("packed-section-data000")));

    // The section after it was never completed: its switch is still a parameter.
    const QVariantMap c = sectionOf(tree, QStringLiteral("c"));
    QVERIFY(!c.contains(QStringLiteral("encrypted-section")));
    QVERIFY(c.value(QStringLiteral("params-order"))
                    .toStringList()
                    .contains(QStringLiteral("packed-section-enabled")));
    QCOMPARE(valueOf(tree, QStringLiteral("c"), QStringLiteral("packed-section-enabled")),
             QVariant(QStringLiteral("true")));

    // A read answers from whatever the failed load left.
    const char *const reads[][2] = {{"a/x", "1"}, {"b/y", "2"}, {"c/z", "3"}};
    for (const auto &read : reads)
        QCOMPARE(Drovik::value(&settings, QLatin1String(read[0]), QVariant(), password),
                 QVariant(QLatin1String(read[1])));
}

void tst_Loading::payloadOrderIsAscending()
{
    // Written as net, db, a, a-b; a protected file comes back in the ascending
    // order of its full payload keys, where "a-b/x" sorts before "a/x".
    QVariantMap written = makeTree({{QStringLiteral("net/x"), 1},
                                    {QStringLiteral("db/x"), 1},
                                    {QStringLiteral("a/x"), 1},
                                    {QStringLiteral("a-b/x"), 1}},
                                   testutil::ProtectedFile);
    written.insert(QStringLiteral("sections-order"),
                   QStringList {QStringLiteral("net"), QStringLiteral("db"), QStringLiteral("a"),
                                QStringLiteral("a-b")});
    const QString path = files.newPath();
    {
        QSettings settings(path, QSettings::IniFormat);
        Drovik::saveFile(&settings, password, &written);
    }
    const QSettings settings(files.copy(path), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&settings, password, &tree));
    QCOMPARE(tree.value(QStringLiteral("sections-order")),
             QVariant(QStringList {QStringLiteral("a-b"), QStringLiteral("a"), QStringLiteral("db"),
                                   QStringLiteral("net")}));
}

void tst_Loading::valueByKeyPath_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    const QVariant fallback = QStringLiteral("default");
    // clang-format off
    QTest::newRow("section-and-param")       << QStringLiteral("net/port")  << QVariant(QStringLiteral("8080"));
    QTest::newRow("no-separator")            << QStringLiteral("port")      << fallback;
    QTest::newRow("param-with-slash")        << QStringLiteral("a/b/c")     << QVariant(QStringLiteral("deep"));
    QTest::newRow("backslash-splits-first")  << QStringLiteral("a\\b/c")    << QVariant(QStringLiteral("deep"));
    QTest::newRow("empty-section")           << QStringLiteral("/port")     << fallback;
    QTest::newRow("empty-param")             << QStringLiteral("net/")      << fallback;
    QTest::newRow("param-case-differs")      << QStringLiteral("net/Port")  << fallback;
    QTest::newRow("missing-section")         << QStringLiteral("db/port")   << fallback;
    // clang-format on
}

void tst_Loading::valueByKeyPath()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    const QByteArray ini = QByteArrayLiteral("version=1\n[net]\nport=8080\n[a]\nb\\c=deep\n");
    const QString path = files.write(ini);
    {
        const QSettings settings(path, QSettings::IniFormat);
        QCOMPARE(Drovik::value(&settings, key, QStringLiteral("default"), password), expected);
    }
    QCOMPARE(Files::bytes(path), ini);
}

void tst_Loading::largeSection()
{
    const int count = 100000;
    QByteArray ini = QByteArrayLiteral("[big]\n");
    for (int i = 0; i < count; ++i)
        ini += "k" + QByteArray::number(i) + "=v" + QByteArray::number(i * 7) + '\n';
    const QString path = files.write(ini);

    QVariantMap tree;
    {
        const QSettings settings(path, QSettings::IniFormat);
        QVERIFY(Drovik::getFileData(&settings, password, &tree));
    }
    QCOMPARE(tree.value(QStringLiteral("sections-order")).toStringList(),
             QStringList {QStringLiteral("big")});
    const QVariantMap params = paramsOf(tree, QStringLiteral("big"));
    QCOMPARE(params.size(), count);
    QCOMPARE(sectionOf(tree, QStringLiteral("big"))
                     .value(QStringLiteral("params-order"))
                     .toStringList()
                     .size(),
             count);
    QCOMPARE(valueOf(tree, QStringLiteral("big"), QStringLiteral("k99999")),
             QVariant(QStringLiteral("v699993")));

    const QString saved = files.newPath();
    {
        QSettings settings(saved, QSettings::IniFormat);
        Drovik::saveFile(&settings, password, &tree);
    }
    const QVariantMap keys = files.storedKeys(saved);
    QCOMPARE(keys.size(), count);
    for (const int i : {0, 1, 12345, 54321, count - 1})
        QCOMPARE(keys.value(QStringLiteral("big/k%1").arg(i)),
                 QVariant(QStringLiteral("v%1").arg(i * 7)));
}

QTEST_APPLESS_MAIN(tst_Loading)
#include "tst_loading.moc"
