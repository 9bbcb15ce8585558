// Damaged, hand-edited and hostile files, tried on purpose. Each must give its
// documented answer or a plain failure result, never a crash, and a load that
// fails must never write: whatever was stored stays byte for byte.
#include "testutil.h"

#include <QtTest/QtTest>

using testutil::Files;
using testutil::Level;

namespace {

const QByteArray password = QByteArrayLiteral("right");

bool protect(QSettings *settings, Level level, const QString &key)
{
    if (level == testutil::ProtectedFile)
        return Drovik::encryptFile(settings, password);
    if (level == testutil::ProtectedSections)
        return Drovik::encryptSection(settings, key.section(QLatin1Char('/'), 0, 0), password);
    return Drovik::encryptParam(settings, key, password);
}

} // namespace

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void damagedData_data();
    void damagedData();
    void oddValues_data();
    void oddValues();
    void namesQSettingsChanges_data();
    void namesQSettingsChanges();
    void layoutNameBehindSlashes();
    void handEdited_data();
    void handEdited();

private:
    Files files;
};

void tst_BadInput::damagedData_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("pw");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("intact");
    for (const QStringList &row : testutil::dataTable(u"bad-input/damaged.txt"_s))
        QTest::newRow(qPrintable(row.at(0))) << row.at(1) << row.at(2).toLatin1()
                                             << (row.at(3) == u"yes"_s) << (row.at(4) == u"yes"_s);
}

void tst_BadInput::damagedData()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, pw);
    QFETCH(bool, loads);
    QFETCH(bool, intact);

    const QByteArray tag = QTest::currentDataTag();
    const QByteArray bytes
            = testutil::dataFile(u"bad-input/damaged/%1.ini"_s.arg(QLatin1String(tag)));
    const QString text = QString::fromLatin1(testutil::dataFile(u"bad-input/damaged/value.txt"_s))
                                 .left(tag.startsWith("file-") ? 1300 : 600);
    const QString path = files.write(bytes);
    {
        const QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QCOMPARE(Drovik::getFileData(&settings, pw, &tree), loads);
        QCOMPARE(Drovik::value(&settings, key, QVariant(), pw) == text, intact);
        if (!loads)
            QVERIFY(!tree.value(u"encrypted-file"_s).toBool());
    }
    QCOMPARE(Files::bytes(path), bytes);
    if (pw != password) // refused for the password alone
        QCOMPARE(files.valueOnDisk(path, key, password), QVariant(text));
    if (loads)
        return;

    // Every call that could write refuses, and the file keeps its bytes. The
    // file also holds a parameter marked by hand, which a load with saving that
    // got through would protect.
    QSettings settings(path, QSettings::IniFormat);
    const QString section = key.section(QLatin1Char('/'), 0, 0);
    QVariantMap tree;
    QVERIFY(!Drovik::getFileDataWithSaving(&settings, pw, &tree));
    QVERIFY(!Drovik::setValue(&settings, key, 1, pw));
    QVERIFY(!Drovik::delParam(&settings, key, pw));
    QVERIFY(!Drovik::delSection(&settings, section, pw));
    QVERIFY(!Drovik::encryptNewParam(&settings, key, 1, pw));
    QVERIFY(!Drovik::regen(&settings, pw));
    QVERIFY(!Drovik::changePassword(&settings, pw, QByteArrayLiteral("new")));
    Drovik::sections(&settings, pw); // answers from what did load
    settings.sync();
    QCOMPARE(Files::bytes(path), bytes);
}

void tst_BadInput::oddValues_data()
{
    QTest::addColumn<Level>("level");
    QTest::newRow("param") << testutil::ProtectedParams;
    QTest::newRow("section") << testutil::ProtectedSections;
    QTest::newRow("file") << testutil::ProtectedFile;
}

void tst_BadInput::oddValues()
{
    QFETCH(Level, level);

    // Invalid UTF-8, Latin-1 and control bytes, escapes, U+0000 escaped and raw,
    // a list with empty items, escaped key bytes, a 5,000-character key, and a
    // 1 MB value: over 1000 file chunks once hex and base64 have grown it.
    const QString path = files.write(testutil::dataFile(u"bad-input/odd-values.ini"_s)
                                     + "big=" + QByteArray(1 << 20, 'v') + '\n');
    // What QSettings makes of them is the reference; protection may only cut
    // texts at their first U+0000, as the typed form does.
    QVariantMap expected = files.storedKeys(path);
    QCOMPARE(expected.size(), 11);
    for (QVariant &value : expected) {
        if (value.userType() == QMetaType::QString)
            value = value.toString().section(QChar(0), 0, 0);
    }
    QStringList keys = expected.keys();
    keys.move(keys.indexOf(u"s/big"_s), keys.size() - 1); // each call decrypts what is protected
    {
        QSettings settings(path, QSettings::IniFormat);
        for (const QString &key : keys) {
            if (level == testutil::ProtectedParams || key == keys.first())
                QVERIFY2(protect(&settings, level, key), qPrintable(key));
        }
    }
    const QVariantMap stored = files.storedKeys(path);
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&fresh, password, &tree));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(!stored.contains(it.key()), qPrintable(it.key() + u" stored in plain"_s));
        const QVariantMap node = testutil::paramNode(tree, u"s"_s, it.key().mid(2));
        QCOMPARE(node.value(u"value"_s), it.value());
    }
}

void tst_BadInput::namesQSettingsChanges_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("wholeSection");

    // QSettings drops leading and trailing slashes and merges doubled ones, and
    // U+0000 ends a name inside the typed payload text.
    const QString nulSection = u"a"_s + QChar(0) + u"b/x"_s;
    QTest::newRow("empty-name") << u"net/"_s << false;
    QTest::newRow("trailing-slash") << u"net/x/"_s << false;
    QTest::newRow("leading-slash") << u"net//x"_s << false;
    QTest::newRow("doubled-slash") << u"net/a//b"_s << false;
    QTest::newRow("nul-in-name") << u"net/a"_s + QChar(0) + u"b"_s << false;
    QTest::newRow("nul-in-section-param") << nulSection << false;
    QTest::newRow("nul-in-section-whole") << nulSection << true;
}

void tst_BadInput::namesQSettingsChanges()
{
    QFETCH(QString, key);
    QFETCH(bool, wholeSection);

    // Whatever the library does with such a name, a call it reports as done
    // must not leave a file that the same password no longer opens.
    const QString path = files.write("[net]\nplain=1\n");
    bool stored;
    {
        QSettings settings(path, QSettings::IniFormat);
        stored = Drovik::encryptNewParam(&settings, key, 7, password);
        if (wholeSection)
            stored = protect(&settings, testutil::ProtectedSections, key) && stored;
    }
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY2(!stored || Drovik::getFileData(&fresh, password, &tree),
             "the library wrote a file that its password no longer opens");
}

void tst_BadInput::layoutNameBehindSlashes()
{
    // QSettings drops the leading slashes of a name, so a plain "//packed-param-x"
    // would land under a layout name that the next save silently drops: the
    // content would change between the first and the second save.
    const QVariantMap tree = testutil::makeTree(
            {{u"net//packed-param-x"_s, u"1"_s}, {u"net/port"_s, u"2"_s}}, testutil::Plain);
    QCOMPARE(files.storedKeys(files.save(tree, password)).keys(), QStringList {u"net/port"_s});
}

void tst_BadInput::handEdited_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("saves");
    QTest::addColumn<bool>("rewrites");
    QTest::addColumn<QString>("protectedKey");
    QTest::addColumn<QStringList>("after");
    for (const QStringList &row : testutil::dataTable(u"bad-input/hand-edited.txt"_s))
        QTest::newRow(qPrintable(row.at(0)))
                << testutil::dataFile(u"bad-input/hand-edited/%1.ini"_s.arg(row.at(0)))
                << (row.at(1) == u"yes"_s) << (row.at(2) == u"yes"_s)
                << (row.at(3) == u"-"_s ? QString() : row.at(3))
                << row.mid(4).replaceInStrings(u"%00"_s, QString(QChar(0)));

    // A switch marks its item unless its text is empty, "0" or "false" in any
    // case; the next load with saving stores a marked item protected.
    const char *levels[][2] = {{"file", "[packed-file]\nenabled=%\n[s]\nv=plain\n"},
                               {"section", "[s]\npacked-section-enabled=%\nv=plain\n"},
                               {"param", "[s]\npacked-param-enabled\\v=%\nv=plain\n"}};
    const QList<const char *> marking {"true", "yes", "TRUE", "1", "on", "no"};
    const QList<const char *> notMarking {"", "\"\"", "0", "false", "FALSE"};
    for (const auto &level : levels) {
        for (const bool marks : {true, false}) {
            for (const char *text : marks ? marking : notMarking)
                QTest::addRow("%s-switch-'%s'", level[0], text)
                        << QByteArray(level[1]).replace('%', text) << true << marks
                        << (marks ? u"s/v"_s : QString()) << QStringList {u"s/v=plain"_s};
        }
    }
}

void tst_BadInput::handEdited()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, saves);
    QFETCH(bool, rewrites);
    QFETCH(QString, protectedKey);
    QFETCH(QStringList, after);

    const QString path = files.write(ini);
    QCOMPARE(testutil::loadWithSaving(path, password), saves);
    QCOMPARE(Files::bytes(path) != ini, rewrites);
    QSettings settings(path, QSettings::IniFormat);
    if (!saves) {
        QVERIFY(!Drovik::regen(&settings, password));
        settings.sync();
        QCOMPARE(Files::bytes(path), ini);
        return;
    }
    if (!protectedKey.isEmpty())
        QVERIFY2(!files.storedKeys(path).contains(protectedKey), "stored in plain");
    if (after == QStringList {u"*"_s})
        return;
    // Every later save stores the same content under new public keys: the same
    // stored keys, new cipher texts of the same length, everything else as it was.
    const auto saveAgain = [&] {
        const bool saved = Drovik::regen(&settings, password);
        settings.sync();
        return saved ? files.storedKeys(path) : QVariantMap();
    };
    const QVariantMap before = saveAgain();
    const QVariantMap again = saveAgain();
    QVERIFY(!again.isEmpty());
    QCOMPARE(again.keys(), before.keys());
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const bool renewed = it.key().contains(QLatin1String("public"))
                || it.key().contains(QLatin1String("data"));
        QVERIFY2((again.value(it.key()) != it.value()) == renewed, qPrintable(it.key()));
        QCOMPARE(again.value(it.key()).toString().size(), it.value().toString().size());
    }

    // Then under another password, which must open what is protected.
    const QByteArray newPassword = QByteArrayLiteral("new");
    QVERIFY(Drovik::changePassword(&settings, password, newPassword));
    settings.sync();
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    for (const QString &pair : after) {
        const QVariant value
                = Drovik::value(&fresh, pair.section(QLatin1Char('='), 0, 0), {}, newPassword);
        QCOMPARE(value.toString(), pair.section(QLatin1Char('='), 1));
    }
}

QTEST_APPLESS_MAIN(tst_BadInput)
#include "tst_bad_input.moc"
