// Damaged, hand-edited and hostile files, tried on purpose. Each must give its
// documented answer or a plain failure result, never a crash, and a load that
// fails must never write: whatever was stored stays byte for byte.
#include "testutil.h"

#include <drovik/drovik.h>

#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Stored key names of the one protected item of a file saved by saveLevel().
QString storedKey(Level level, const QString &section, const QString &what)
{
    if (level == testutil::ProtectedFile)
        return QStringLiteral("packed-file/") + what;
    if (level == testutil::ProtectedSections)
        return section + QStringLiteral("/packed-section-") + what;
    return section + QStringLiteral("/packed-param-")
            + (what.startsWith(QLatin1String("data")) ? QStringLiteral("data") : what)
            + QStringLiteral("/a");
}

// The ways a stored item was damaged, applied through a QSettings that edits
// the stored text. Chunk numbers are %1 in storedKey's "data%1".
enum Damage {
    SetPublic,
    SetAlgorithm,
    RemoveChunk,
    RenameChunk,
    SwapChunks,
    ChangeNearEnd,
    CutEnd,
    InsertNonAlphabet,
    ReplaceCipher
};

QString chunkName(int index)
{
    return QStringLiteral("data%1").arg(index, 3, 10, QLatin1Char('0'));
}

void damage(QSettings &s, Level level, const QString &section, Damage how, const QString &arg)
{
    const QString first = storedKey(level, section, chunkName(0));
    const QString second = storedKey(level, section, chunkName(1));
    // Edits of the cipher text's end go to the last chunk.
    const QString target
            = how == ChangeNearEnd || how == CutEnd ? (s.contains(second) ? second : first) : first;
    QString cipher = s.value(target).toString();
    switch (how) {
    case SetPublic:
        s.setValue(storedKey(level, section, QStringLiteral("public")), arg);
        return;
    case SetAlgorithm:
        s.setValue(storedKey(level, section, QStringLiteral("algorithm")), arg);
        return;
    case RemoveChunk:
        s.remove(storedKey(level, section, chunkName(arg.toInt())));
        return;
    case RenameChunk:
        s.setValue(storedKey(level, section, chunkName(2)), s.value(second));
        s.remove(second);
        return;
    case SwapChunks:
        s.setValue(first, s.value(second));
        s.setValue(second, cipher);
        return;
    case ChangeNearEnd: // about 15 bytes before the end: inside the check text
        cipher[cipher.size() - 20] = cipher.at(cipher.size() - 20) == QLatin1Char('A')
                ? QLatin1Char('B')
                : QLatin1Char('A');
        break;
    case CutEnd:
        cipher.chop(4);
        break;
    case InsertNonAlphabet:
        cipher.insert(cipher.size() / 2, QStringLiteral("!*!"));
        break;
    case ReplaceCipher:
        cipher = arg;
        break;
    }
    s.setValue(target, cipher);
}

} // namespace

Q_DECLARE_METATYPE(Damage)

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
    void tenThousandSections();
    void notIni_data();
    void notIni();
    void directoryInPlaceOfFile();
    void unwritable_data();
    void unwritable();
    void namesQSettingsChanges_data();
    void namesQSettingsChanges();
    void reservedNamesOnlyDoNotGrow();

private:
    // A new file with "<section>/a" = text, protected at level, on disk.
    QString saveLevel(Level level, const QString &section, const QString &text);

    Files files;
};

QString tst_BadInput::saveLevel(Level level, const QString &section, const QString &text)
{
    const QString path = files.newPath();
    QSettings settings(path, QSettings::IniFormat);
    const QString key = section + QStringLiteral("/a");
    settings.setValue(key, text);
    if (level == testutil::ProtectedFile)
        Drovik::encryptFile(&settings, password);
    else if (level == testutil::ProtectedSections)
        Drovik::encryptSection(&settings, section, password);
    else
        Drovik::encryptParam(&settings, key, password);
    return path;
}

void tst_BadInput::damagedData_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<QString>("section");
    QTest::addColumn<Damage>("how");
    QTest::addColumn<QString>("arg");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("intact");

    const Level file = testutil::ProtectedFile;
    const Level sect = testutil::ProtectedSections;
    const Level param = testutil::ProtectedParams;
    const QString s = QStringLiteral("s");
    // Values are long enough for exactly two chunks. In "a/a" and "s/a" the
    // check text ends the payload (keys sort before it); in a file whose
    // section is "z" it stands first.
    // clang-format off
    QTest::newRow("file-public-key-changed")      << file  << QStringLiteral("a") << SetPublic     << QStringLiteral("000000") << false << false;
    QTest::newRow("file-algorithm-not-a-number")  << file  << QStringLiteral("a") << SetAlgorithm  << QStringLiteral("two")    << false << false;
    QTest::newRow("file-last-chunk-missing")      << file  << QStringLiteral("a") << RemoveChunk   << QStringLiteral("1")      << false << false;
    QTest::newRow("file-chunks-swapped")          << file  << QStringLiteral("a") << SwapChunks    << QString()                << false << false;
    QTest::newRow("file-chunk-gap")               << file  << QStringLiteral("a") << RenameChunk   << QString()                << false << false;
    // No integrity check beyond the check text: a cut after it goes unnoticed.
    QTest::newRow("file-cut-after-check-text")    << file  << QStringLiteral("z") << RemoveChunk   << QStringLiteral("1")      << true  << false;
    // Without its first chunk the file reads as marked for protection, held in plain.
    QTest::newRow("file-first-chunk-missing")     << file  << QStringLiteral("a") << RemoveChunk   << QStringLiteral("0")      << true  << false;
    QTest::newRow("section-public-key-changed")   << sect  << s << SetPublic     << QStringLiteral("ffffff") << false << false;
    QTest::newRow("section-algorithm-empty")      << sect  << s << SetAlgorithm  << QStringLiteral("")       << false << false;
    QTest::newRow("section-algorithm-decimal")    << sect  << s << SetAlgorithm  << QStringLiteral("2.0")    << false << false;
    QTest::newRow("section-algorithm-keystream")  << sect  << s << SetAlgorithm  << QStringLiteral("1")      << false << false;
    QTest::newRow("section-last-chunk-missing")   << sect  << s << RemoveChunk   << QStringLiteral("1")      << false << false;
    QTest::newRow("section-chunks-swapped")       << sect  << s << SwapChunks    << QString()                << false << false;
    QTest::newRow("section-chunk-gap")            << sect  << s << RenameChunk   << QString()                << false << false;
    QTest::newRow("section-byte-in-check-text")   << sect  << s << ChangeNearEnd << QString()                << false << false;
    // Base64 is decoded leniently: characters outside its alphabet are skipped.
    QTest::newRow("section-non-alphabet-chars")   << sect  << s << InsertNonAlphabet << QString()            << true  << true;
    QTest::newRow("param-public-key-changed")     << param << s << SetPublic     << QStringLiteral("abc")    << false << false;
    QTest::newRow("param-algorithm-not-a-number") << param << s << SetAlgorithm  << QStringLiteral("x2")     << false << false;
    QTest::newRow("param-cipher-cut")             << param << s << CutEnd        << QString()                << false << false;
    QTest::newRow("param-cipher-plain-text")      << param << s << ReplaceCipher << QStringLiteral("hello")  << false << false;
    QTest::newRow("param-cipher-empty")           << param << s << ReplaceCipher << QString()                << false << false;
    QTest::newRow("param-byte-in-check-text")     << param << s << ChangeNearEnd << QString()                << false << false;
    QTest::newRow("param-non-alphabet-chars")     << param << s << InsertNonAlphabet << QString()            << true  << true;
    // clang-format on
}

void tst_BadInput::damagedData()
{
    QFETCH(Level, level);
    QFETCH(QString, section);
    QFETCH(Damage, how);
    QFETCH(QString, arg);
    QFETCH(bool, loads);
    QFETCH(bool, intact);

    const QString text = longText(level == testutil::ProtectedFile ? 1300 : 600);
    const QString saved = saveLevel(level, section, text);
    const QString edited = files.copy(saved);
    {
        QSettings settings(edited, QSettings::IniFormat);
        if (how == SwapChunks || how == RenameChunk || how == RemoveChunk)
            QVERIFY2(settings.contains(storedKey(level, section, chunkName(1)))
                             && !settings.contains(storedKey(level, section, chunkName(2))),
                     "the value no longer gives exactly two chunks");
        damage(settings, level, section, how, arg);
    }
    const QString path = files.copy(edited);
    const QByteArray before = Files::bytes(path);
    const QString key = section + QStringLiteral("/a");
    {
        const QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QCOMPARE(Drovik::getFileData(&settings, password, &tree), loads);
        QCOMPARE(Drovik::value(&settings, key, QVariant(), password) == text, intact);
    }
    QCOMPARE(Files::bytes(path), before);
    if (loads)
        return;

    // Every call that could write refuses, and the file keeps its bytes.
    QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(!Drovik::getFileDataWithSaving(&settings, password, &tree));
    QVERIFY(!Drovik::setValue(&settings, key, 1, password));
    QVERIFY(!Drovik::delParam(&settings, key, password));
    QVERIFY(!Drovik::delSection(&settings, section, password));
    QVERIFY(!Drovik::encryptFile(&settings, password));
    QVERIFY(!Drovik::decryptFile(&settings, password));
    QVERIFY(!Drovik::regen(&settings, password));
    QVERIFY(!Drovik::changePassword(&settings, password, QByteArrayLiteral("new")));
    Drovik::sections(&settings, password); // answers from what did load
    settings.sync();
    QCOMPARE(Files::bytes(path), before);
}

void tst_BadInput::oddSwitches_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("dataKey"); // present once the item is stored protected
    QTest::addColumn<bool>("marks");

    // A switch reads true unless its text is empty, "0" or "false" in any case.
    const struct
    {
        const char *tag;
        QByteArray text;
        bool marks;
    } texts[] = {{"true", "true", true},
                 {"yes", "yes", true},
                 {"upper-true", "TRUE", true},
                 {"one", "1", true},
                 {"on", "on", true},
                 {"no", "no", true},
                 {"empty", "", false},
                 {"zero", "0", false},
                 {"false", "false", false},
                 {"upper-false", "FALSE", false},
                 {"quoted-empty", "\"\"", false}};
    const struct
    {
        const char *level;
        QByteArray ini;
        QString dataKey;
    } levels[] = {
            {"file", "[packed-file]\nenabled=%\n[s]\nv=plain\n",
             QStringLiteral("packed-file/data000")},
            {"section", "[s]\npacked-section-enabled=%\nv=plain\n",
             QStringLiteral("s/packed-section-data000")},
            {"param", "[s]\npacked-param-enabled\\v=%\nv=plain\n",
             QStringLiteral("s/packed-param-data/v")},
    };
    for (const auto &level : levels) {
        for (const auto &text : texts) {
            QTest::addRow("%s-%s", level.level, text.tag)
                    << QByteArray(level.ini).replace('%', text.text) << level.dataKey << text.marks;
        }
    }
}

void tst_BadInput::oddSwitches()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, dataKey);
    QFETCH(bool, marks);

    const QString path = files.write(ini);
    {
        QSettings settings(path, QSettings::IniFormat);
        QVariantMap tree;
        QVERIFY(Drovik::getFileDataWithSaving(&settings, password, &tree));
    }
    const QVariantMap stored = files.storedKeys(path);
    QCOMPARE(stored.contains(dataKey), marks);
    QCOMPARE(stored.contains(QStringLiteral("s/v")), !marks);
    if (!marks)
        QCOMPARE(Files::bytes(path), ini);
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QCOMPARE(Drovik::value(&fresh, QStringLiteral("s/v"), QVariant(), password),
             QVariant(QStringLiteral("plain")));
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
    if (plain.type() == QVariant::StringList) {
        QStringList items = plain.toStringList();
        std::transform(items.begin(), items.end(), items.begin(), cut);
        expected = items;
    } else {
        expected = cut(plain.toString());
    }

    {
        QSettings settings(path, QSettings::IniFormat);
        bool ok = false;
        if (level == testutil::ProtectedParams)
            ok = Drovik::encryptParam(&settings, key, password);
        else if (level == testutil::ProtectedSections)
            ok = Drovik::encryptSection(&settings, QStringLiteral("s"), password);
        else
            ok = Drovik::encryptFile(&settings, password);
        QVERIFY(ok);
    }
    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVERIFY(!fresh.allKeys().contains(key));
    QCOMPARE(Drovik::value(&fresh, key, QVariant(), password), expected);
}

void tst_BadInput::tenThousandSections()
{
    QByteArray ini;
    QStringList names;
    for (int i = 0; i < 10000; ++i) {
        names.append(QStringLiteral("s%1").arg(i, 5, 10, QLatin1Char('0')));
        ini += '[' + names.last().toLatin1() + "]\nv=" + QByteArray::number(i) + '\n';
    }
    const QString path = files.write(ini);
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(Drovik::sections(&settings, password), names);
    QVERIFY(Drovik::encryptFile(&settings, password));
    settings.sync();

    const QSettings fresh(files.copy(path), QSettings::IniFormat);
    QVERIFY(fresh.allKeys().size() > 3);
    QVERIFY(fresh.allKeys().constFirst().startsWith(QLatin1String("packed-file/")));
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&fresh, password, &tree));
    QCOMPARE(tree.value(QStringLiteral("sections-order")).toStringList(), names);
    QCOMPARE(Drovik::value(&fresh, QStringLiteral("s09999/v"), QVariant(), password),
             QVariant(QStringLiteral("9999")));
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

void tst_BadInput::directoryInPlaceOfFile()
{
    // Running as root, permission bits do not stop reads; a directory where the
    // file should be is unreadable for everyone.
    const QString path = files.newPath();
    QVERIFY(QDir().mkdir(path));
    const QString inside = files.write("keep");
    QVERIFY(QFile::rename(inside, path + QStringLiteral("/keep")));

    QSettings settings(path, QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(Drovik::getFileData(&settings, password, &tree));
    QVERIFY(tree.value(QStringLiteral("sections")).toMap().isEmpty());
    // The library does not look at QSettings errors: the calls succeed in
    // memory and sync() reports that nothing reached the disk.
    QVERIFY(Drovik::setValue(&settings, QStringLiteral("net/port"), 1, password));
    QVERIFY(Drovik::encryptNewParam(&settings, QStringLiteral("net/key"), 2, password));
    settings.sync();
    QCOMPARE(settings.status(), QSettings::AccessError);
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(Files::bytes(path + QStringLiteral("/keep")), QByteArrayLiteral("keep"));
}

void tst_BadInput::unwritable_data()
{
    QTest::addColumn<int>("directoryMode");
    QTest::addColumn<int>("fileMode");

    QTest::newRow("read-only-directory") << 0555 << 0666;
    QTest::newRow("read-only-file") << 0777 << 0444;
}

void tst_BadInput::unwritable()
{
    QFETCH(int, directoryMode);
    QFETCH(int, fileMode);

    // Root ignores permission bits, so the writer is a child process that
    // runs as user "nobody" when the test runs as root.
    QTemporaryDir outer;
    QVERIFY(outer.isValid());
    const QString dir = outer.filePath(QStringLiteral("config"));
    const QString path = dir + QStringLiteral("/app.ini");
    QVERIFY(QDir().mkdir(dir));
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("s/v"), QStringLiteral("old"));
        QVERIFY(Drovik::encryptSection(&settings, QStringLiteral("s"), password));
    }
    const QByteArray before = Files::bytes(path);
    QVERIFY(!before.isEmpty());
    QVERIFY(::chmod(QFile::encodeName(outer.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(fileMode)) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), mode_t(directoryMode)) == 0);

    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        // 1: the library call succeeded, 2: sync() reported AccessError.
        QSettings settings(path, QSettings::IniFormat);
        const bool ok = Drovik::setValue(&settings, QStringLiteral("s/v"), QStringLiteral("new"),
                                         password);
        settings.sync();
        _exit((ok ? 1 : 0) | (settings.status() == QSettings::AccessError ? 2 : 0));
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
    QVERIFY(WIFEXITED(status));
    QVERIFY2(WEXITSTATUS(status) != 100, "cannot switch to user nobody");
    QCOMPARE(WEXITSTATUS(status), 3);
    QCOMPARE(Files::bytes(path), before);
}

void tst_BadInput::namesQSettingsChanges_data()
{
    QTest::addColumn<QString>("key");

    // QSettings drops leading and trailing slashes and merges doubled ones, and
    // U+0000 ends a name inside the typed payload text.
    QTest::newRow("empty-name") << QStringLiteral("net/");
    QTest::newRow("trailing-slash") << QStringLiteral("net/x/");
    QTest::newRow("leading-slash") << QStringLiteral("net//x");
    QTest::newRow("doubled-slash") << QStringLiteral("net/a//b");
    QTest::newRow("nul-in-name") << QStringLiteral("net/a") + QChar(0) + QStringLiteral("b");
}

void tst_BadInput::namesQSettingsChanges()
{
    QFETCH(QString, key);

    // Whatever the library does with such a name, a call it reports as done
    // must not leave a file that the same password no longer opens.
    const QString path = files.write("[net]\nplain=1\n");
    bool stored;
    {
        QSettings settings(path, QSettings::IniFormat);
        stored = Drovik::encryptNewParam(&settings, key, 7, password);
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
             qPrintable(QStringLiteral("%1 bytes after the first save, %2 after four more")
                                .arg(first)
                                .arg(last)));
}

QTEST_APPLESS_MAIN(tst_BadInput)
#include "tst_bad_input.moc"
