// Damaged, hand-edited and hostile files, tried on purpose. Each must give its
// documented answer or a plain failure result, never a crash, and a load that
// fails must never write: whatever was stored stays byte for byte.
#include "testutil.h"

#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

#include <functional>

using testutil::Files;
using testutil::Level;

namespace {

const QByteArray password = QByteArrayLiteral("right");

// ASCII text of any length whose every 64-character stretch differs.
QString longText(int length)
{
    QString text;
    text.reserve(length + 16);
    for (int i = 0; text.size() < length; ++i)
        text += QString::number(i, 36) + QLatin1Char('.');
    text.truncate(length);
    return text;
}

// Stored key names of the one protected item holding key ("section/param"):
// what is "public", "algorithm", "data000", "data001"...
QString storedKey(Level level, const QString &key, const QString &what)
{
    const QString section = key.section(QLatin1Char('/'), 0, 0);
    if (level == testutil::ProtectedFile)
        return u"packed-file/"_s + what;
    if (level == testutil::ProtectedSections)
        return section + u"/packed-section-"_s + what;
    return section + u"/packed-param-"_s
            + (what.startsWith(QLatin1String("data")) ? u"data"_s : what) + QLatin1Char('/')
            + key.section(QLatin1Char('/'), 1);
}

// A change a person or a broken program made to the stored item, through a
// QSettings that edits the stored text; name() gives storedKey's names.
using Name = std::function<QString(const char *what)>;
using Edit = std::function<void(QSettings &, const Name &name)>;

Edit set(const char *what, const char *text)
{
    return [=](QSettings &s, const Name &name) { s.setValue(name(what), QLatin1String(text)); };
}

Edit drop(const char *what)
{
    return [=](QSettings &s, const Name &name) { s.remove(name(what)); };
}

Edit renumber(const char *from, const char *to)
{
    return [=](QSettings &s, const Name &name) {
        const QVariant value = s.value(name(from));
        s.remove(name(from));
        s.setValue(name(to), value);
    };
}

// Changes the cipher text of the last chunk.
Edit cipher(const std::function<void(QString &)> &change)
{
    return [=](QSettings &s, const Name &name) {
        const QString key = s.contains(name("data001")) ? name("data001") : name("data000");
        QString text = s.value(key).toString();
        change(text);
        s.setValue(key, text);
    };
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void damagedData_data();
    void damagedData();
    void oddSwitches_data();
    void oddSwitches();
    void oddValues_data();
    void oddValues();
    void notIni_data();
    void notIni();
    void namesQSettingsChanges_data();
    void namesQSettingsChanges();
    void reservedNamesOnlyDoNotGrow();
    void layoutNameBehindSlashes();
    void namesNextToTheLayout_data();
    void namesNextToTheLayout();

private:
    Files files;
};

void tst_BadInput::damagedData_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<QString>("key");
    QTest::addColumn<Edit>("edit"); // none: loaded with a wrong password instead
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("intact");

    const Level file = testutil::ProtectedFile;
    const Level sect = testutil::ProtectedSections;
    const Level param = testutil::ProtectedParams;
    const Edit none;
    const Edit swap = [](QSettings &s, const Name &name) {
        const QVariant first = s.value(name("data000"));
        s.setValue(name("data000"), s.value(name("data001")));
        s.setValue(name("data001"), first);
    };
    const Edit renameSection = [](QSettings &s, const Name &) {
        s.beginGroup(u"s"_s);
        const QStringList keys = s.allKeys();
        s.endGroup();
        for (const QString &key : keys) {
            s.setValue(u"renamed/"_s + key, s.value(u"s/"_s + key));
            s.remove(u"s/"_s + key);
        }
    };
    // About 15 bytes before the end: inside the check text.
    const Edit flip = cipher([](QString &text) {
        const int at = text.size() - 20;
        text[at] = text.at(at) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    });
    // A file marked by hand whose content holds damaged protected data.
    const Edit markFileOverDamage = [](QSettings &s, const Name &name) {
        s.setValue(name("public"), u"ffffff"_s);
        s.setValue(u"packed-file/enabled"_s, u"true"_s);
    };
    const Edit cut = cipher([](QString &text) { text.chop(4); });
    const Edit junk = cipher([](QString &text) { text.insert(text.size() / 2, u"!*!"_s); });
    const Edit hello = cipher([](QString &text) { text = u"hello"_s; });
    const Edit empty = cipher([](QString &text) { text.clear(); });
    // Values are long enough for exactly two chunks. The check text ends the
    // payload of "a/a" and "s/a" (their keys sort before it) and starts that of
    // "z/a" and "s/z", where a lost chunk leaves it whole: then only the
    // chunk numbering can tell.
    const QString a = u"a/a"_s, z = u"z/a"_s, sa = u"s/a"_s, sz = u"s/z"_s;
    // clang-format off
    QTest::newRow("file-wrong-password")          << file  << a  << none                           << false << false;
    QTest::newRow("file-public-key-changed")      << file  << a  << set("public", "000000")        << false << false;
    QTest::newRow("file-algorithm-not-a-number")  << file  << a  << set("algorithm", "two")        << false << false;
    QTest::newRow("file-last-chunk-missing")      << file  << a  << drop("data001")                << false << false;
    QTest::newRow("file-chunks-swapped")          << file  << a  << swap                           << false << false;
    QTest::newRow("file-chunk-gap")               << file  << z  << renumber("data001", "data002") << false << false;
    // No integrity check beyond the check text: a cut after it goes unnoticed.
    QTest::newRow("file-cut-after-check-text")    << file  << z  << drop("data001")                << true  << false;
    // Without its first chunk the file reads as marked for protection, held in plain.
    QTest::newRow("file-first-chunk-missing")     << file  << a  << drop("data000")                << true  << false;
    QTest::newRow("section-wrong-password")       << sect  << sa << none                           << false << false;
    QTest::newRow("section-public-key-changed")   << sect  << sa << set("public", "ffffff")        << false << false;
    QTest::newRow("section-algorithm-empty")      << sect  << sa << set("algorithm", "")           << false << false;
    QTest::newRow("section-algorithm-decimal")    << sect  << sa << set("algorithm", "2.0")        << false << false;
    QTest::newRow("section-algorithm-keystream")  << sect  << sa << set("algorithm", "1")          << false << false;
    QTest::newRow("section-last-chunk-missing")   << sect  << sa << drop("data001")                << false << false;
    QTest::newRow("section-chunks-swapped")       << sect  << sa << swap                           << false << false;
    QTest::newRow("section-chunk-gap")            << sect  << sz << renumber("data001", "data002") << false << false;
    QTest::newRow("section-damaged-file-marked")  << sect  << sa << markFileOverDamage             << false << false;
    QTest::newRow("section-renamed")              << sect  << sa << renameSection                  << false << false;
    QTest::newRow("section-byte-in-check-text")   << sect  << sa << flip                           << false << false;
    // Base64 is decoded leniently: characters outside its alphabet are skipped.
    QTest::newRow("section-non-alphabet-chars")   << sect  << sa << junk                           << true  << true;
    QTest::newRow("param-wrong-password")         << param << sa << none                           << false << false;
    QTest::newRow("param-public-key-changed")     << param << sa << set("public", "abc")           << false << false;
    QTest::newRow("param-algorithm-not-a-number") << param << sa << set("algorithm", "x2")         << false << false;
    QTest::newRow("param-section-renamed")        << param << sa << renameSection                  << false << false;
    QTest::newRow("param-cipher-cut")             << param << sa << cut                            << false << false;
    QTest::newRow("param-cipher-plain-text")      << param << sa << hello                          << false << false;
    QTest::newRow("param-cipher-empty")           << param << sa << empty                          << false << false;
    QTest::newRow("param-byte-in-check-text")     << param << sa << flip                           << false << false;
    QTest::newRow("param-non-alphabet-chars")     << param << sa << junk                           << true  << true;
    // clang-format on
}

void tst_BadInput::damagedData()
{
    QFETCH(Level, level);
    QFETCH(QString, key);
    QFETCH(Edit, edit);
    QFETCH(bool, loads);
    QFETCH(bool, intact);

    const QString text = longText(level == testutil::ProtectedFile ? 1300 : 600);
    const Name name = [&](const char *what) { return storedKey(level, key, QLatin1String(what)); };
    QString section = key.section(QLatin1Char('/'), 0, 0);
    const QString edited = files.newPath();
    {
        QSettings settings(edited, QSettings::IniFormat);
        settings.setValue(key, text);
        QVERIFY(level == testutil::ProtectedFile ? Drovik::encryptFile(&settings, password)
                        : level == testutil::ProtectedSections
                        ? Drovik::encryptSection(&settings, section, password)
                        : Drovik::encryptParam(&settings, key, password));
        QVERIFY2(level == testutil::ProtectedParams
                         || (settings.contains(name("data001"))
                             && !settings.contains(name("data002"))),
                 "the value no longer gives exactly two chunks");
        if (edit)
            edit(settings, name);
        // A parameter marked by hand: a load with saving that got through
        // would rewrite the file to protect it.
        settings.setValue(u"aa/k"_s, u"1"_s);
        settings.setValue(u"aa/packed-param-enabled/k"_s, u"true"_s);
        if (!settings.childGroups().contains(section))
            section = u"renamed"_s; // the protected item went along
    }
    const QString path = files.copy(edited);
    const QByteArray before = Files::bytes(path);
    const QByteArray pw = edit ? password : QByteArrayLiteral("wrong");
    {
        const QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QCOMPARE(Drovik::getFileData(&settings, pw, &tree), loads);
        QCOMPARE(Drovik::value(&settings, key, QVariant(), pw) == text, intact);
        if (!loads)
            QVERIFY(!tree.value(u"encrypted-file"_s).toBool());
    }
    QCOMPARE(Files::bytes(path), before);
    if (loads)
        return;

    // Every call that could write refuses, and the file keeps its bytes.
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    const QString target = section + QLatin1Char('/') + key.section(QLatin1Char('/'), 1);
    QVERIFY(!Drovik::getFileDataWithSaving(&settings, pw, &tree));
    QVERIFY(!Drovik::setValue(&settings, target, 1, pw));
    QVERIFY(!Drovik::delParam(&settings, target, pw));
    QVERIFY(!Drovik::delSection(&settings, section, pw));
    QVERIFY(!Drovik::encryptFile(&settings, pw));
    QVERIFY(!Drovik::decryptFile(&settings, pw));
    QVERIFY(!Drovik::regen(&settings, pw));
    QVERIFY(!Drovik::changePassword(&settings, pw, QByteArrayLiteral("new")));
    Drovik::sections(&settings, pw); // answers from what did load
    settings.sync();
    QCOMPARE(Files::bytes(path), before);
}

void tst_BadInput::oddSwitches_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("dataKey"); // present once the item is stored protected
    QTest::addColumn<bool>("marks");

    // A switch reads true unless its text is empty, "0" or "false" in any case.
    const QList<QByteArray> marking {"true", "yes", "TRUE", "1", "on", "no"};
    const QList<QByteArray> notMarking {"", "\"\"", "0", "false", "FALSE"};
    const struct
    {
        const char *level;
        QByteArray ini;
        QString dataKey;
    } levels[] = {
            {"file", "[packed-file]\nenabled=%\n[s]\nv=plain\n", u"packed-file/data000"_s},
            {"section", "[s]\npacked-section-enabled=%\nv=plain\n", u"s/packed-section-data000"_s},
            {"param", "[s]\npacked-param-enabled\\v=%\nv=plain\n", u"s/packed-param-data/v"_s},
    };
    for (const auto &level : levels) {
        for (bool marks : {true, false}) {
            for (const QByteArray &text : marks ? marking : notMarking)
                QTest::addRow("%s-'%s'", level.level, text.constData())
                        << QByteArray(level.ini).replace('%', text) << level.dataKey << marks;
        }
    }
}

void tst_BadInput::oddSwitches()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, dataKey);
    QFETCH(bool, marks);

    const QString path = files.write(ini);
    QVERIFY(testutil::loadWithSaving(path, password));
    const QVariantMap stored = files.storedKeys(path);
    QCOMPARE(stored.contains(dataKey), marks);
    QCOMPARE(stored.contains(u"s/v"_s), !marks);
    if (!marks)
        QCOMPARE(Files::bytes(path), ini);
    QCOMPARE(files.valueOnDisk(path, u"s/v"_s, password), QVariant(u"plain"_s));
}

void tst_BadInput::oddValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Level>("level");

    const QList<QPair<const char *, QByteArray>> lines = {
            {"invalid-utf8", "v=\xff\xfe\xc3("},
            {"latin1-byte", "v=caf\xe9"},
            {"utf8-text", "v=\xd0\xbf\xd1\x80\xd0\xb8\xe2\x82\xac"},
            {"escaped-nul", "v=a\\0b"},
            {"raw-nul", QByteArray("v=a\0b", 5)},
            {"control-bytes", "v=\x01\x02\x1b\x7f"},
            {"escapes", "v=\"tab\\there\\nline\""},
            {"list-with-empties", "v=a,,b,"},
            {"escaped-key", "%FF%E9k=x"},
            {"long-key", QByteArray(5000, 'k') + "=x"},
            // Hex and base64 make it 2.7 MB of cipher text: over 1000 file chunks.
            {"long-value-1mb", "v=" + longText(1 << 20).toLatin1()},
    };
    const QList<QPair<const char *, Level>> levels = {{"param", testutil::ProtectedParams},
                                                      {"section", testutil::ProtectedSections},
                                                      {"file", testutil::ProtectedFile}};
    for (const auto &level : levels) {
        for (const auto &line : lines)
            QTest::addRow("%s-%s", level.first, line.first) << line.second << level.second;
    }
}

void tst_BadInput::oddValues()
{
    QFETCH(QByteArray, line);
    QFETCH(Level, level);

    // What QSettings makes of the line is the reference; protection may only
    // cut texts at their first U+0000, as the typed form does.
    const QString path = files.write("[s]\n" + line + '\n');
    QString key;
    QVariant plain;
    {
        const QSettings fresh(files.copy(path), QSettings::IniFormat);
        QCOMPARE(fresh.allKeys().size(), 1);
        key = fresh.allKeys().first();
        plain = fresh.value(key);
    }
    const auto cut = [](const QString &text) { return text.left(text.indexOf(QChar(0))); };
    QVariant expected;
    if (plain.userType() == QMetaType::QStringList) {
        QStringList items = plain.toStringList();
        std::transform(items.begin(), items.end(), items.begin(), cut);
        expected = items;
    } else {
        expected = cut(plain.toString());
    }

    {
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(level == testutil::ProtectedParams ? Drovik::encryptParam(&settings, key, password)
                        : level == testutil::ProtectedSections
                        ? Drovik::encryptSection(&settings, u"s"_s, password)
                        : Drovik::encryptFile(&settings, password));
    }
    QVERIFY(!files.storedKeys(path).contains(key));
    QCOMPARE(files.valueOnDisk(path, key, password), expected);
}

void tst_BadInput::notIni_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator generator(20240607);
    generator.fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    // clang-format off
    QTest::newRow("empty")                << QByteArray();
    QTest::newRow("png-header")           << QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489");
    QTest::newRow("random-bytes")         << random;
    QTest::newRow("nul-bytes")            << QByteArray(1000, '\0');
    QTest::newRow("utf16-text")           << QByteArray::fromHex("fffe5b0073005d000d0a76003d0031000d0a");
    QTest::newRow("unclosed-sections")    << QByteArrayLiteral("[s\nv=1\n[\n[t]]\nw=2\n[");
    QTest::newRow("equals-signs-only")    << QByteArrayLiteral("=\n==\n=x\n[s]\n=\n");
    // clang-format on
}

void tst_BadInput::notIni()
{
    QFETCH(QByteArray, bytes);

    // Loading fails only when protected content does not open; junk is read as
    // whatever QSettings makes of it, and nothing marked means nothing written.
    const QString path = files.write(bytes);
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&settings, password, &tree));
    QVariantMap again;
    QVERIFY(Drovik::getFileDataWithSaving(&settings, password, &again));
    Drovik::parametersOfFile(&settings, password);
    settings.sync();
    QCOMPARE(Files::bytes(path), bytes);
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
            stored = Drovik::encryptSection(&settings, key.section(QLatin1Char('/'), 0, 0),
                                            password)
                    && stored;
    }
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY2(!stored || Drovik::getFileData(&fresh, password, &tree),
             "the library wrote a file that its password no longer opens");
}

void tst_BadInput::reservedNamesOnlyDoNotGrow()
{
    // A section marked by hand whose only other parameter has a reserved name:
    // every save must store the same content again, not wrap the previous
    // save's cipher text into the new payload.
    const QString path = files.write(
            "[db]\npacked-section-enabled=true\npacked-section-note=hello\n[net]\nport=1\n");
    QSettings settings(path, QSettings::IniFormat);
    QVERIFY(!Drovik::sections(&settings, password).isEmpty());
    settings.sync();
    const qint64 first = QFileInfo(path).size();
    for (int i = 0; i < 4; ++i) {
        QVERIFY(Drovik::regen(&settings, password));
        settings.sync();
    }
    const qint64 last = QFileInfo(path).size();
    QVERIFY2(last < first + 100,
             qPrintable(
                     u"%1 bytes after the first save, %2 after four more"_s.arg(first).arg(last)));
}

void tst_BadInput::layoutNameBehindSlashes()
{
    // QSettings drops the leading slashes of a name, so a plain "//packed-param-x"
    // would land under a layout name that the next save silently drops: the
    // content would change between the first and the second save.
    const QVariantMap tree = testutil::makeTree(
            {{u"net//packed-param-x"_s, u"1"_s}, {u"net/port"_s, u"2"_s}}, testutil::Plain);
    const QString path = files.save(tree, password);
    QCOMPARE(files.storedKeys(path).keys(), QStringList {u"net/port"_s});
}

void tst_BadInput::namesNextToTheLayout_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QVariantMap>("after"); // read back after a load with saving

    // The stored text of "s/a" protected as a section and as the whole file,
    // with one line added by hand right under the protected group's header.
    const auto protectedText = [this](bool wholeFile) {
        const QString path = files.write("[s]\na=secret\n");
        QSettings settings(path, QSettings::IniFormat);
        if (!(wholeFile ? Drovik::encryptFile(&settings, password)
                        : Drovik::encryptSection(&settings, u"s"_s, password)))
            qFatal("cannot protect");
        settings.sync();
        return Files::bytes(path);
    };
    const QByteArray section = protectedText(false), file = protectedText(true);
    const auto with = [](QByteArray text, const char *header, const char *line) {
        const QByteArray head = QByteArray(header) + '\n';
        return text.replace(head, head + line + '\n');
    };
    const QVariantMap secret {{u"s/a"_s, u"secret"_s}};
    // clang-format off
    // Only the writer's own chunk spelling counts for the gap rule; other names
    // beside protected data are not content there, as any other hand-added key.
    QTest::newRow("section-one-digit")     << with(section, "[s]", "packed-section-data7=x")    << true  << secret;
    QTest::newRow("section-four-padded")   << with(section, "[s]", "packed-section-data0007=x") << true  << secret;
    QTest::newRow("section-chunk-1000")    << with(section, "[s]", "packed-section-data1000=x") << false << QVariantMap();
    QTest::newRow("file-two-digits")       << with(file, "[packed-file]", "data17=x")           << true  << secret;
    QTest::newRow("file-four-padded")      << with(file, "[packed-file]", "data0007=x")         << true  << secret;
    // A parameter name holding U+0000 would be cut onto "x" on its way into the
    // protected layout; it stays plain instead.
    QTest::newRow("param-name-with-nul")
            << QByteArrayLiteral("[s]\npacked-param-enabled\\x%00y=true\nx=plain\nx%00y=secret\n") << true
            << QVariantMap {{u"s/x"_s, u"plain"_s}, {u"s/x"_s + QChar(0) + u"y"_s, u"secret"_s}};
    // Inside a protected section or file it would be cut the same way, and plain
    // would expose it: nothing is saved.
    QTest::newRow("section-param-name-with-nul")
            << QByteArrayLiteral("[s]\npacked-section-enabled=true\nx=plain\nx%00y=secret\n") << false << QVariantMap();
    QTest::newRow("section-param-name-lone-surrogate")
            << QByteArrayLiteral("[s]\npacked-section-enabled=true\nx?=plain\nx%UD800=secret\n") << false << QVariantMap();
    QTest::newRow("file-param-name-with-nul")
            << QByteArrayLiteral("[packed-file]\nenabled=true\n[s]\nx=plain\nx%00y=secret\n") << false << QVariantMap();
    // clang-format on
}

void tst_BadInput::namesNextToTheLayout()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, loads);
    QFETCH(QVariantMap, after);

    const QString path = files.write(ini);
    QCOMPARE(testutil::loadWithSaving(path, password), loads);
    if (!loads) {
        {
            QSettings settings(path, QSettings::IniFormat);
            QVERIFY(!Drovik::regen(&settings, password));
        }
        QCOMPARE(Files::bytes(path), ini);
        return;
    }
    QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVariantMap read;
    for (const QString &key : Drovik::parametersOfFile(&fresh, password))
        read.insert(key, Drovik::value(&fresh, key, QVariant(), password));
    QCOMPARE(read, after);
}

QTEST_APPLESS_MAIN(tst_BadInput)
#include "tst_bad_input.moc"
