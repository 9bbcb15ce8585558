#include "testutil.h"

#include <drovik/drovik.h>

#include <QtCore/QRegularExpression>
#include <QtCore/QSettings>
#include <QtTest/QtTest>

#include <memory>
#include <utility>

namespace {

const QByteArray password = QByteArrayLiteral("right-pw");
const QByteArray wrongPassword = QByteArrayLiteral("wrong-pw");

// Every row starts from the same three values, so a row only says what changed.
QByteArray iniWith(const char *top, const char *logExtra, const char *netExtra)
{
    return QByteArray(top) + "[log]\nlevel=debug\n" + logExtra
            + "\n[net]\nhost=alpha.example\nport=8080\n" + netExtra;
}

const QByteArray plainIni = iniWith("", "", "");

QStringList split(const char *text, char separator)
{
    QStringList parts = QString::fromLatin1(text).split(QLatin1Char(separator), Qt::SkipEmptyParts);
    for (QString &part : parts)
        part = part.trimmed();
    return parts;
}

QStringList words(const char *text)
{
    return split(text, ' ');
}

QStringList script(const char *text)
{
    return split(text, ';');
}

QStringList paramParts(const char *section, const char *param)
{
    QStringList keys;
    for (const char *part : {"algorithm", "data", "enabled", "public"})
        keys << QString::fromLatin1("%1/packed-param-%2/%3")
                        .arg(QLatin1String(section), QLatin1String(part), QLatin1String(param));
    return keys;
}

QStringList sectionParts(const char *section)
{
    QStringList keys;
    for (const char *part : {"algorithm", "data000", "enabled", "public"})
        keys << QString::fromLatin1("%1/packed-section-%2")
                        .arg(QLatin1String(section), QLatin1String(part));
    return keys;
}

const QStringList fileParts
        = words("packed-file/algorithm packed-file/data000 packed-file/enabled packed-file/public");

// One call of the library, written as "operation argument [value]". Query steps
// answer true for a true flag, a found value or a non-empty listing. An unknown
// step answers false, which the right-password runs catch.
bool runStep(QSettings *s, const QString &step, const QByteArray &pw)
{
    const QStringList w = step.split(QLatin1Char(' '));
    const QString op = w.at(0);
    const QString arg = w.value(1);
    const QString val = w.value(2);
    const QStringList list = arg.split(QLatin1Char(','));
    const auto is = [&op](const char *name) { return op == QLatin1String(name); };

    if (is("setValue"))
        return Drovik::setValue(s, arg, val, pw);
    if (is("delParam"))
        return Drovik::delParam(s, arg, pw);
    if (is("delParams"))
        return Drovik::delParams(s, list, pw);
    if (is("delSection"))
        return Drovik::delSection(s, arg, pw);
    if (is("delSections"))
        return Drovik::delSections(s, list, pw);
    if (is("encryptParam"))
        return Drovik::encryptParam(s, arg, pw);
    if (is("decryptParam"))
        return Drovik::decryptParam(s, arg, pw);
    if (is("encryptNewParam"))
        return Drovik::encryptNewParam(s, arg, val, pw);
    if (is("decryptNewParam"))
        return Drovik::decryptNewParam(s, arg, val, pw);
    if (is("encryptSection"))
        return Drovik::encryptSection(s, arg, pw);
    if (is("decryptSection"))
        return Drovik::decryptSection(s, arg, pw);
    if (is("encryptFile"))
        return Drovik::encryptFile(s, pw);
    if (is("decryptFile"))
        return Drovik::decryptFile(s, pw);
    if (is("regen"))
        return Drovik::regen(s, pw);
    if (is("changePassword"))
        return Drovik::changePassword(s, pw, arg.toLatin1());
    if (is("value"))
        return Drovik::value(s, arg, QVariant(), pw).isValid();
    if (is("isEncryptedFile"))
        return Drovik::isEncryptedFile(s, pw);
    if (is("isEncryptedSection"))
        return Drovik::isEncryptedSection(s, arg, pw);
    if (is("isEncryptedParam"))
        return Drovik::isEncryptedParam(s, arg, pw);
    if (is("sections"))
        return !Drovik::sections(s, pw).isEmpty();
    if (is("parametersOfSection"))
        return !Drovik::parametersOfSection(s, arg, pw).isEmpty();
    if (is("parametersOfFile"))
        return !Drovik::parametersOfFile(s, pw).isEmpty();
    return false;
}

// Key lists compare as one text, so that a failure shows the whole list.
QString sortedText(QStringList list)
{
    list.sort();
    return list.join(QLatin1Char(' '));
}

QVariant readOnlyValue(const QSettings *s, const QString &key, const QByteArray &pw)
{
    return Drovik::value(s, key, QStringLiteral("<default>"), pw);
}

} // namespace

class tst_Operations : public QObject
{
    Q_OBJECT

private slots:
    void changes_data();
    void changes();
    void setValuePaths_data();
    void setValuePaths();
    void keyWithoutSeparator_data();
    void keyWithoutSeparator();
    void listings_data();
    void listings();
    void queriesRepairMarked_data();
    void queriesRepairMarked();
    void readOnlyValueNeverWrites_data();
    void readOnlyValueNeverWrites();
    void queriesOnProtectedFileWithWrongPassword();
    void regenRenewsEveryCipher_data();
    void regenRenewsEveryCipher();
    void changePasswordMovesFile_data();
    void changePasswordMovesFile();
    void wrongPasswordChangesNothing_data();
    void wrongPasswordChangesNothing();

private:
    std::unique_ptr<QSettings> openIni(const QByteArray &text)
    {
        return std::make_unique<QSettings>(m_files.write(text), QSettings::IniFormat);
    }
    QByteArray fileBytes(QSettings *s)
    {
        s->sync();
        return testutil::Files::bytes(s->fileName());
    }
    QString storedNames(QSettings *s)
    {
        s->sync();
        return sortedText(m_files.storedKeys(s->fileName()).keys());
    }
    std::unique_ptr<QSettings> openWithSteps(const QByteArray &text, const QStringList &steps)
    {
        auto s = openIni(text);
        for (const QString &step : steps) {
            if (!runStep(s.get(), step, password))
                qWarning("setup step failed: %s", qPrintable(step));
        }
        return s;
    }

    testutil::Files m_files;
};

// Rows: the file, the calls made with the right password, and what a fresh reader
// then finds: the stored key names, the sections, what carries protection, and the
// values that changed ("key=" for a value that must be gone).
void tst_Operations::changes_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("sectionList");
    QTest::addColumn<QStringList>("protectedItems");
    QTest::addColumn<QStringList>("changed");

    const QStringList plain = words("log/level net/host net/port");
    const QStringList logNet = words("log net");
    const QStringList none;
    const QByteArray markedFile = iniWith("[packed-file]\nenabled=true\n", "", "");
    const QByteArray markedSection = iniWith("", "", "packed-section-enabled=true\n");
    const QByteArray markedParam = iniWith("", "", "packed-param-enabled\\port=true\n");
    const QStringList portProtected = words("log/level net/host") + paramParts("net", "port");

    QTest::newRow("param-protect") << plainIni << script("encryptParam net/port") << portProtected
                                   << logNet << words("net/port") << none;
    QTest::newRow("param-protect-unprotect")
            << plainIni << script("encryptParam net/port; decryptParam net/port") << plain << logNet
            << none << none;
    QTest::newRow("section-protect")
            << plainIni << script("encryptSection net") << words("log/level") + sectionParts("net")
            << logNet << words("net") << none;
    // The parameter's own protection is not kept inside the section's cipher data.
    QTest::newRow("section-over-protected-param")
            << plainIni << script("encryptParam net/port; encryptSection net")
            << words("log/level") + sectionParts("net") << logNet << words("net") << none;
    QTest::newRow("section-over-protected-param-unprotect")
            << plainIni << script("encryptParam net/port; encryptSection net; decryptSection net")
            << plain << logNet << none << none;
    QTest::newRow("file-protect") << plainIni << script("encryptFile") << fileParts << logNet
                                  << words("file") << none;
    QTest::newRow("file-over-all-unprotect")
            << plainIni
            << script("encryptParam net/port; encryptSection log; encryptFile; decryptFile")
            << plain << logNet << none << none;
    QTest::newRow("section-protect-inside-file")
            << plainIni << script("encryptFile; encryptSection net") << fileParts << logNet
            << words("file") << none;
    QTest::newRow("param-protect-inside-file")
            << plainIni << script("encryptFile; encryptParam log/level") << fileParts << logNet
            << words("file") << none;
    QTest::newRow("missing-section-protect")
            << plainIni << script("encryptSection nosuch") << plain << logNet << none << none;
    QTest::newRow("missing-param-protect")
            << plainIni << script("encryptParam net/none") << plain << logNet << none << none;
    QTest::newRow("marked-file-unprotect")
            << markedFile << script("decryptFile") << plain << logNet << none << none;
    QTest::newRow("marked-section-unprotect")
            << markedSection << script("decryptSection net") << plain << logNet << none << none;
    QTest::newRow("marked-param-unprotect")
            << markedParam << script("decryptParam net/port") << plain << logNet << none << none;
    QTest::newRow("marked-param-protected-by-any-save")
            << markedParam << script("delParam net/none") << portProtected << logNet
            << words("net/port") << none;
    QTest::newRow("marked-file-protected-by-any-save")
            << markedFile << script("regen") << fileParts << logNet << words("file") << none;
    QTest::newRow("top-level-key-dropped-by-save")
            << iniWith("version=3\n", "", "") << script("regen") << plain << logNet << none << none;
    QTest::newRow("encryptNewParam-creates-section")
            << plainIni << script("encryptNewParam vault/token tok-SECRET")
            << plain + paramParts("vault", "token") << words("log net vault")
            << words("vault/token") << words("vault/token=tok-SECRET");
    QTest::newRow("encryptNewParam-over-plain")
            << plainIni << script("encryptNewParam net/port 9443") << portProtected << logNet
            << words("net/port") << words("net/port=9443");
    QTest::newRow("decryptNewParam-over-protected")
            << plainIni << script("encryptParam net/port; decryptNewParam net/port 9443") << plain
            << logNet << none << words("net/port=9443");
    QTest::newRow("decryptNewParam-creates-section")
            << plainIni << script("decryptNewParam vault/user bob") << plain + words("vault/user")
            << words("log net vault") << none << words("vault/user=bob");
    QTest::newRow("delParams-whole-section")
            << plainIni << script("delParams net/host,net/port") << words("log/level")
            << words("log") << none << words("net/host= net/port=");
    QTest::newRow("delParams-missing-name")
            << plainIni << script("delParams net/none") << plain << logNet << none << none;
    QTest::newRow("delParams-skips-key-without-separator")
            << plainIni << script("delParams port,net/host") << words("log/level net/port")
            << logNet << none << words("net/host=");
    QTest::newRow("delParam-last-of-section")
            << plainIni << script("delParam log/level") << words("net/host net/port")
            << words("net") << none << words("log/level=");
    QTest::newRow("delParam-last-of-protected-section")
            << plainIni << script("encryptSection log; delParam log/level")
            << words("net/host net/port") << words("net") << none << words("log/level=");
    QTest::newRow("delParam-protected-param")
            << plainIni << script("encryptParam net/port; delParam net/port")
            << words("log/level net/host") << logNet << none << words("net/port=");
    QTest::newRow("delSection-protected")
            << plainIni << script("encryptSection net; delSection net") << words("log/level")
            << words("log") << none << words("net/host= net/port=");
    QTest::newRow("delSection-inside-file")
            << plainIni << script("encryptFile; delSection log") << fileParts << words("net")
            << words("file") << words("log/level=");
    QTest::newRow("delSections-missing-and-wrong-case")
            << plainIni << script("delSections nosuch,Net") << plain << logNet << none << none;
}

void tst_Operations::changes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, sectionList);
    QFETCH(QStringList, protectedItems);
    QFETCH(QStringList, changed);

    auto s = openIni(ini);
    for (const QString &step : steps)
        QVERIFY2(runStep(s.get(), step, password), qPrintable(step + QStringLiteral(" failed")));

    QCOMPARE(storedNames(s.get()), sortedText(keys));

    // Every query is a new load; on a file with nothing marked none of them may
    // rewrite it.
    const QByteArray text = fileBytes(s.get());
    QCOMPARE(Drovik::sections(s.get(), password), sectionList);
    QStringList found;
    if (Drovik::isEncryptedFile(s.get(), password))
        found << QStringLiteral("file");
    for (const QString &section : sectionList) {
        if (Drovik::isEncryptedSection(s.get(), section, password))
            found << section;
    }
    const QStringList params = Drovik::parametersOfFile(s.get(), password);
    for (const QString &key : params) {
        if (Drovik::isEncryptedParam(s.get(), key, password))
            found << key;
    }
    found.sort();
    protectedItems.sort();
    QCOMPARE(found, protectedItems);
    QCOMPARE(fileBytes(s.get()), text);

    QMap<QString, QString> expected {{QStringLiteral("log/level"), QStringLiteral("debug")},
                                     {QStringLiteral("net/host"), QStringLiteral("alpha.example")},
                                     {QStringLiteral("net/port"), QStringLiteral("8080")}};
    for (const QString &change : changed)
        expected.insert(change.section(QLatin1Char('='), 0, 0),
                        change.section(QLatin1Char('='), 1));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString &key = it.key();
        const QVariant got = readOnlyValue(s.get(), key, password);
        if (it.value().isEmpty()) {
            QCOMPARE(got, QVariant(QStringLiteral("<default>")));
            continue;
        }
        QCOMPARE(got.toString(), it.value());
        const bool covered = protectedItems.contains(QStringLiteral("file"))
                || protectedItems.contains(key.section(QLatin1Char('/'), 0, 0))
                || protectedItems.contains(key);
        QVERIFY2(text.contains(it.value().toUtf8()) != covered,
                 qPrintable(key
                            + (covered ? QStringLiteral(" readable in the protected file")
                                       : QStringLiteral(" missing from the plain text"))));
    }
}

// Whether setValue writes one key or rewrites the file: the top-level key
// "version" survives only the one-key write, since every rewrite drops it.
void tst_Operations::setValuePaths_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<QStringList>("keys");

    const QByteArray top = QByteArrayLiteral("version=3\n");
    const QStringList plain = words("version log/level net/host net/port");
    const QStringList none;

    // clang-format off
    QTest::newRow("plain-file")                  << iniWith(top, "", "") << none
                                                 << QStringLiteral("net/port") << true << plain;
    QTest::newRow("plain-new-section")           << iniWith(top, "", "") << none
                                                 << QStringLiteral("extra/k") << true << plain + words("extra/k");
    QTest::newRow("param-marked-elsewhere")      << iniWith(top, "packed-param-enabled\\level=true\n", "") << none
                                                 << QStringLiteral("net/port") << true
                                                 << plain + words("log/packed-param-enabled/level");
    QTest::newRow("section-marked-elsewhere")    << iniWith(top, "packed-section-enabled=true\n", "") << none
                                                 << QStringLiteral("net/port") << true
                                                 << plain + words("log/packed-section-enabled");
    QTest::newRow("sibling-param-marked")        << iniWith(top, "", "packed-param-enabled\\host=true\n") << none
                                                 << QStringLiteral("net/port") << true
                                                 << plain + words("net/packed-param-enabled/host");
    QTest::newRow("target-param-marked")         << iniWith(top, "", "packed-param-enabled\\port=true\n") << none
                                                 << QStringLiteral("net/port") << false
                                                 << words("log/level net/host") + paramParts("net", "port");
    QTest::newRow("target-section-marked")       << iniWith(top, "", "packed-section-enabled=true\n") << none
                                                 << QStringLiteral("net/extra") << false
                                                 << words("log/level") + sectionParts("net");
    QTest::newRow("file-marked")                 << iniWith("[packed-file]\nenabled=true\n", "", "") << none
                                                 << QStringLiteral("log/level") << false << fileParts;
    QTest::newRow("protected-param")             << plainIni << script("encryptParam net/port")
                                                 << QStringLiteral("net/port") << false
                                                 << words("log/level net/host") + paramParts("net", "port");
    QTest::newRow("protected-section-new-param") << plainIni << script("encryptSection net")
                                                 << QStringLiteral("net/extra") << false
                                                 << words("log/level") + sectionParts("net");
    QTest::newRow("protected-file-new-section")  << plainIni << script("encryptFile")
                                                 << QStringLiteral("extra/k") << false << fileParts;
    // clang-format on
}

void tst_Operations::setValuePaths()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, setup);
    QFETCH(QString, key);
    QFETCH(bool, shortcut);
    QFETCH(QStringList, keys);

    auto s = openWithSteps(ini, setup);
    s->sync();
    const QVariantMap before = m_files.storedKeys(s->fileName());
    const QString newValue = QStringLiteral("v-NEW-42");
    QVERIFY(Drovik::setValue(s.get(), key, newValue, password));

    s->sync();
    const QVariantMap after = m_files.storedKeys(s->fileName());
    if (shortcut) {
        QVariantMap expected = before;
        expected.insert(key, newValue);
        QCOMPARE(after, expected);
    }
    QCOMPARE(sortedText(after.keys()), sortedText(keys));
    // The new value is stored in plain exactly when the shortcut was taken.
    QCOMPARE(fileBytes(s.get()).contains(newValue.toUtf8()), shortcut);
    QCOMPARE(readOnlyValue(s.get(), key, password).toString(), newValue);
    if (key != QLatin1String("net/host"))
        QCOMPARE(readOnlyValue(s.get(), QStringLiteral("net/host"), password).toString(),
                 QStringLiteral("alpha.example"));

    const QString section = key.section(QLatin1Char('/'), 0, 0);
    QVERIFY(Drovik::sections(s.get(), password).contains(section));
    QVERIFY(Drovik::parametersOfSection(s.get(), section, password)
                    .contains(key.section(QLatin1Char('/'), 1)));
}

// A marked parameter makes any load with saving rewrite the file, so unchanged
// bytes show that these calls did not even load it.
void tst_Operations::keyWithoutSeparator_data()
{
    QTest::addColumn<QString>("step");
    for (const char *step :
         {"setValue port 1", "encryptParam port", "decryptParam port", "encryptNewParam port 1",
          "decryptNewParam port 1", "isEncryptedParam port", "value port"})
        QTest::newRow(step) << QString::fromLatin1(step);
}

void tst_Operations::keyWithoutSeparator()
{
    QFETCH(QString, step);
    auto s = openIni(iniWith("", "", "packed-param-enabled\\port=true\n"));
    const QByteArray before = fileBytes(s.get());
    QVERIFY(!runStep(s.get(), step, password));
    QCOMPARE(fileBytes(s.get()), before);
}

void tst_Operations::listings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("sectionList");
    QTest::addColumn<QStringList>("netParams");
    QTest::addColumn<QStringList>("fileParams");

    const QStringList none;
    const QStringList logNet = words("log net");
    const QStringList hostPort = words("host port");
    const QStringList all = words("log/level net/host net/port");

    // QSettings lists keys sorted, whatever order the text holds them in.
    QTest::newRow("plain-text-order-ignored")
            << QByteArrayLiteral("[net]\nport=8080\nhost=alpha.example\n[log]\nlevel=debug\n")
            << none << logNet << hostPort << all;
    // The stored names of the protected parameter's parts stay listed where the
    // load met them; the parameter itself comes last.
    QTest::newRow("protected-param-parts-listed")
            << plainIni << script("encryptParam net/port") << logNet
            << words("host packed-param-algorithm/port packed-param-data/port "
                     "packed-param-enabled/port packed-param-public/port port")
            << words("log/level net/host net/packed-param-algorithm/port "
                     "net/packed-param-data/port net/packed-param-enabled/port "
                     "net/packed-param-public/port net/port");
    QTest::newRow("protected-section")
            << plainIni << script("encryptSection net") << logNet << hostPort << all;
    QTest::newRow("protected-file")
            << plainIni << script("encryptFile") << logNet << hostPort << all;
    QTest::newRow("marked-section-switch-not-listed")
            << iniWith("", "", "packed-section-enabled=true\n") << none << logNet << hostPort
            << all;
    QTest::newRow("nested-param-name-joined-with-slash")
            << QByteArrayLiteral("[net]\na\\b=1\nhost=alpha.example\n") << none << words("net")
            << words("a/b host") << words("net/a/b net/host");
    QTest::newRow("empty-file") << QByteArray() << none << none << none << none;
}

void tst_Operations::listings()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, setup);
    QFETCH(QStringList, sectionList);
    QFETCH(QStringList, netParams);
    QFETCH(QStringList, fileParams);

    auto s = openWithSteps(ini, setup);
    QCOMPARE(Drovik::sections(s.get(), password), sectionList);
    QCOMPARE(Drovik::parametersOfSection(s.get(), QStringLiteral("net"), password), netParams);
    const QStringList fileList = Drovik::parametersOfFile(s.get(), password);
    QCOMPARE(fileList, fileParams);
    QVERIFY(Drovik::parametersOfSection(s.get(), QStringLiteral("nosuch"), password).isEmpty());
    QVERIFY(!Drovik::isEncryptedSection(s.get(), QStringLiteral("nosuch"), password));

    // Both value() overloads agree on every listed key path.
    for (const QString &key : fileList)
        QCOMPARE(Drovik::value(s.get(), key, QStringLiteral("<default>"), password),
                 readOnlyValue(s.get(), key, password));
}

void tst_Operations::queriesRepairMarked_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("keys");

    const QByteArray markedParam = iniWith("", "", "packed-param-enabled\\port=true\n");
    const QStringList portProtected = words("log/level net/host") + paramParts("net", "port");

    for (const char *query : {"value net/port", "isEncryptedParam net/port", "sections",
                              "parametersOfSection log", "parametersOfFile"})
        QTest::newRow(query) << markedParam << QString::fromLatin1(query) << portProtected;
    QTest::newRow("isEncryptedSection net")
            << iniWith("", "", "packed-section-enabled=true\n")
            << QStringLiteral("isEncryptedSection net") << words("log/level") + sectionParts("net");
    QTest::newRow("isEncryptedFile") << iniWith("[packed-file]\nenabled=true\n", "", "")
                                     << QStringLiteral("isEncryptedFile") << fileParts;
}

void tst_Operations::queriesRepairMarked()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, query);
    QFETCH(QStringList, keys);

    auto s = openIni(ini);
    QVERIFY(runStep(s.get(), query, password));
    QCOMPARE(storedNames(s.get()), sortedText(keys));
    QVERIFY(!fileBytes(s.get()).contains("8080"));
}

void tst_Operations::readOnlyValueNeverWrites_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::newRow("marked-param") << iniWith("", "", "packed-param-enabled\\port=true\n");
    QTest::newRow("marked-section") << iniWith("", "", "packed-section-enabled=true\n");
    QTest::newRow("marked-file") << iniWith("[packed-file]\nenabled=true\n", "", "");
}

void tst_Operations::readOnlyValueNeverWrites()
{
    QFETCH(QByteArray, ini);
    auto s = openIni(ini);
    const QByteArray before = fileBytes(s.get());
    QCOMPARE(readOnlyValue(s.get(), QStringLiteral("net/port"), password).toString(),
             QStringLiteral("8080"));
    QCOMPARE(fileBytes(s.get()), before);
}

void tst_Operations::queriesOnProtectedFileWithWrongPassword()
{
    auto s = openWithSteps(plainIni, script("encryptFile"));
    const QByteArray before = fileBytes(s.get());
    for (const char *query :
         {"value net/port", "isEncryptedFile", "isEncryptedSection net",
          "isEncryptedParam net/port", "sections", "parametersOfSection net", "parametersOfFile"})
        QVERIFY2(!runStep(s.get(), QString::fromLatin1(query), wrongPassword), query);
    QCOMPARE(fileBytes(s.get()), before);
}

void tst_Operations::regenRenewsEveryCipher_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::newRow("protected-param") << script("encryptParam net/port");
    QTest::newRow("protected-section") << script("encryptSection net");
    QTest::newRow("protected-file") << script("encryptFile");
    QTest::newRow("param-and-section") << script("encryptParam net/port; encryptSection log");
}

void tst_Operations::regenRenewsEveryCipher()
{
    QFETCH(QStringList, setup);
    auto s = openWithSteps(plainIni, setup);
    s->sync();
    const QVariantMap before = m_files.storedKeys(s->fileName());
    QVERIFY(Drovik::regen(s.get(), password));
    s->sync();
    const QVariantMap after = m_files.storedKeys(s->fileName());

    QCOMPARE(after.keys(), before.keys());
    const QRegularExpression publicKey(QStringLiteral("^[0-9a-f]{6}$"));
    int renewed = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QString &key = it.key();
        const bool isPublic = key.contains(QLatin1String("public"));
        if (isPublic || key.contains(QLatin1String("data"))) {
            QVERIFY2(after.value(key) != it.value(), qPrintable(key + QStringLiteral(" kept")));
            ++renewed;
        } else {
            QCOMPARE(after.value(key), it.value());
        }
        if (isPublic)
            QVERIFY(publicKey.match(after.value(key).toString()).hasMatch());
    }
    QVERIFY(renewed >= 2);
    QCOMPARE(readOnlyValue(s.get(), QStringLiteral("net/port"), password).toString(),
             QStringLiteral("8080"));
    QCOMPARE(readOnlyValue(s.get(), QStringLiteral("log/level"), password).toString(),
             QStringLiteral("debug"));
}

void tst_Operations::changePasswordMovesFile_data()
{
    regenRenewsEveryCipher_data();
}

void tst_Operations::changePasswordMovesFile()
{
    QFETCH(QStringList, setup);
    const QByteArray newPassword = QByteArrayLiteral("new-pw");
    auto s = openWithSteps(plainIni, setup);
    QVERIFY(Drovik::changePassword(s.get(), password, newPassword));
    s->sync();

    // Fresh readers on copies see the file as it now is on disk.
    QMap<QString, QVariant> tree;
    const QSettings oldReader(m_files.copy(s->fileName()), QSettings::IniFormat);
    QVERIFY(!Drovik::getFileData(&oldReader, password, &tree));
    tree.clear();
    const QSettings newReader(m_files.copy(s->fileName()), QSettings::IniFormat);
    QVERIFY(Drovik::getFileData(&newReader, newPassword, &tree));
    QCOMPARE(readOnlyValue(&newReader, QStringLiteral("net/port"), newPassword).toString(),
             QStringLiteral("8080"));
    QCOMPARE(readOnlyValue(&newReader, QStringLiteral("log/level"), newPassword).toString(),
             QStringLiteral("debug"));
}

// Every changing operation at every protection level: a password that does not
// open the file changes nothing. Most targets are plain on purpose, so that the
// refusal can only come from the failed load; the right password then succeeds.
void tst_Operations::wrongPasswordChangesNothing_data()
{
    QTest::addColumn<QString>("protect");
    QTest::addColumn<QString>("operation");

    const std::pair<const char *, const char *> levels[] = {
            {"param", "encryptParam net/port"},
            {"section", "encryptSection net"},
            {"file", "encryptFile"},
    };
    const char *operations[] = {
            "setValue net/port 7777",
            "delParam log/level",
            "delParams log/level,net/host",
            "delSection log",
            "delSections log,net",
            "encryptParam log/level",
            "decryptParam net/port",
            "encryptNewParam log/extra x",
            "decryptNewParam net/port 7777",
            "encryptSection log",
            "decryptSection net",
            "encryptFile",
            "decryptFile",
            "regen",
            "changePassword other-pw",
    };
    for (const auto &level : levels) {
        for (const char *operation : operations) {
            const QString op = QString::fromLatin1(operation);
            const QString tag
                    = QStringLiteral("%1-%2-wrong-password")
                              .arg(QLatin1String(level.first), op.section(QLatin1Char(' '), 0, 0));
            QTest::newRow(qPrintable(tag)) << QString::fromLatin1(level.second) << op;
        }
    }
}

void tst_Operations::wrongPasswordChangesNothing()
{
    QFETCH(QString, protect);
    QFETCH(QString, operation);

    auto s = openWithSteps(plainIni, QStringList {protect});
    const QByteArray before = fileBytes(s.get());
    QVERIFY(!before.contains("8080"));

    QVERIFY(!runStep(s.get(), operation, wrongPassword));
    QCOMPARE(fileBytes(s.get()), before);
    QVERIFY(runStep(s.get(), operation, password));
}

QTEST_APPLESS_MAIN(tst_Operations)
#include "tst_operations.moc"
