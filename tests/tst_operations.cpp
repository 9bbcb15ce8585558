#include "testutil.h"

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

#include <functional>
#include <memory>

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
const QByteArray markedFile = iniWith("[packed-file]\nenabled=true\n", "", "");
const QByteArray markedSection = iniWith("", "", "packed-section-enabled=true\n");
const QByteArray markedParam = iniWith("", "", "packed-param-enabled\\port=true\n");

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

// The four stored keys of one protected item; "%1" stands for the part.
QStringList parts(const QString &pattern, const char *data = "data000")
{
    QStringList keys;
    for (const char *part : {"algorithm", data, "enabled", "public"})
        keys << pattern.arg(QLatin1String(part));
    return keys;
}

const QStringList fileParts = parts(u"packed-file/%1"_s);
const QStringList netParts = parts(u"net/packed-param-%1/port"_s, "data");
const QStringList portProtected = words("log/level net/host") + netParts;
const QStringList netProtected = words("log/level") + parts(u"net/packed-section-%1"_s);

// One call of the library, written as "operation argument [value]". Query steps
// answer true for a true flag, a found value or a non-empty listing. An unknown
// step answers false, which the right-password runs catch.
bool runStep(QSettings *s, const QString &step, const QByteArray &pw)
{
    const QStringList w = step.split(QLatin1Char(' '));
    const QString arg = w.value(1);
    const QString val = w.value(2);
    const QStringList list = arg.split(QLatin1Char(','));
    using D = Drovik;
    const std::pair<const char *, std::function<bool()>> calls[] = {
            {"setValue", [&] { return D::setValue(s, arg, val, pw); }},
            {"delParam", [&] { return D::delParam(s, arg, pw); }},
            {"delParams", [&] { return D::delParams(s, list, pw); }},
            {"delSection", [&] { return D::delSection(s, arg, pw); }},
            {"delSections", [&] { return D::delSections(s, list, pw); }},
            {"encryptParam", [&] { return D::encryptParam(s, arg, pw); }},
            {"decryptParam", [&] { return D::decryptParam(s, arg, pw); }},
            {"encryptNewParam", [&] { return D::encryptNewParam(s, arg, val, pw); }},
            {"decryptNewParam", [&] { return D::decryptNewParam(s, arg, val, pw); }},
            {"encryptSection", [&] { return D::encryptSection(s, arg, pw); }},
            {"decryptSection", [&] { return D::decryptSection(s, arg, pw); }},
            {"encryptFile", [&] { return D::encryptFile(s, pw); }},
            {"decryptFile", [&] { return D::decryptFile(s, pw); }},
            {"regen", [&] { return D::regen(s, pw); }},
            {"changePassword", [&] { return D::changePassword(s, pw, arg.toLatin1()); }},
            {"value", [&] { return D::value(s, arg, QVariant(), pw).isValid(); }},
            {"isEncryptedFile", [&] { return D::isEncryptedFile(s, pw); }},
            {"isEncryptedSection", [&] { return D::isEncryptedSection(s, arg, pw); }},
            {"isEncryptedParam", [&] { return D::isEncryptedParam(s, arg, pw); }},
            {"sections", [&] { return !D::sections(s, pw).isEmpty(); }},
            {"parametersOfSection", [&] { return !D::parametersOfSection(s, arg, pw).isEmpty(); }},
            {"parametersOfFile", [&] { return !D::parametersOfFile(s, pw).isEmpty(); }},
    };
    for (const auto &call : calls) {
        if (w.at(0) == QLatin1String(call.first))
            return call.second();
    }
    return false;
}

// Key lists compare as one text, so that a failure shows the whole list.
QString sortedText(QStringList list)
{
    list.sort();
    return list.join(QLatin1Char(' '));
}

QString readOnlyValue(const QSettings *s, const QString &key, const QByteArray &pw = password)
{
    return Drovik::value(s, key, u"<default>"_s, pw).toString();
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
    void queriesRepairMarked_data();
    void queriesRepairMarked();
    void queriesOnProtectedFileWithWrongPassword();
    void regenThenChangePassword_data();
    void regenThenChangePassword();
    void wrongPasswordChangesNothing_data();
    void wrongPasswordChangesNothing();

private:
    QByteArray fileBytes(QSettings *s)
    {
        s->sync();
        return testutil::Files::bytes(s->fileName());
    }
    QVariantMap storedKeys(QSettings *s)
    {
        s->sync();
        return m_files.storedKeys(s->fileName());
    }
    std::unique_ptr<QSettings> open(const QByteArray &text, const QStringList &steps = {})
    {
        auto s = std::make_unique<QSettings>(m_files.write(text), QSettings::IniFormat);
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
    // clang-format off
    QTest::newRow("param-protect")           << plainIni << script("encryptParam net/port")
                                             << portProtected << logNet << words("net/port") << none;
    QTest::newRow("param-protect-unprotect") << plainIni << script("encryptParam net/port; decryptParam net/port")
                                             << plain << logNet << none << none;
    QTest::newRow("section-protect")         << plainIni << script("encryptSection net")
                                             << netProtected << logNet << words("net") << none;
    // The parameter's own protection is not kept inside the section's cipher data.
    QTest::newRow("section-over-protected-param-unprotect")
                                             << plainIni << script("encryptParam net/port; encryptSection net; decryptSection net")
                                             << plain << logNet << none << none;
    QTest::newRow("file-protect")            << plainIni << script("encryptFile")
                                             << fileParts << logNet << words("file") << none;
    QTest::newRow("file-over-all-unprotect") << plainIni << script("encryptParam net/port; encryptSection log; encryptFile; decryptFile")
                                             << plain << logNet << none << none;
    QTest::newRow("section-protect-inside-file")
                                             << plainIni << script("encryptFile; encryptSection net")
                                             << fileParts << logNet << words("file") << none;
    QTest::newRow("param-protect-inside-file")
                                             << plainIni << script("encryptFile; encryptParam log/level")
                                             << fileParts << logNet << words("file") << none;
    QTest::newRow("missing-section-protect") << plainIni << script("encryptSection nosuch")
                                             << plain << logNet << none << none;
    QTest::newRow("missing-param-protect")   << plainIni << script("encryptParam net/none")
                                             << plain << logNet << none << none;
    QTest::newRow("marked-file-unprotect")   << markedFile << script("decryptFile")
                                             << plain << logNet << none << none;
    QTest::newRow("marked-section-unprotect") << markedSection << script("decryptSection net")
                                             << plain << logNet << none << none;
    QTest::newRow("marked-param-unprotect")  << markedParam << script("decryptParam net/port")
                                             << plain << logNet << none << none;
    QTest::newRow("encryptNewParam-creates-section")
                                             << plainIni << script("encryptNewParam vault/token tok-SECRET")
                                             << plain + parts(u"vault/packed-param-%1/token"_s, "data") << words("log net vault")
                                             << words("vault/token") << words("vault/token=tok-SECRET");
    QTest::newRow("encryptNewParam-over-plain")
                                             << plainIni << script("encryptNewParam net/port 9443")
                                             << portProtected << logNet << words("net/port") << words("net/port=9443");
    QTest::newRow("decryptNewParam-over-protected")
                                             << plainIni << script("encryptParam net/port; decryptNewParam net/port 9443")
                                             << plain << logNet << none << words("net/port=9443");
    QTest::newRow("delParams-whole-section") << plainIni << script("delParams net/host,net/port")
                                             << words("log/level") << words("log") << none << words("net/host= net/port=");
    QTest::newRow("delParams-missing-name")  << plainIni << script("delParams net/none")
                                             << plain << logNet << none << none;
    QTest::newRow("delParams-skips-key-without-separator")
                                             << plainIni << script("delParams port,net/host")
                                             << words("log/level net/port") << logNet << none << words("net/host=");
    QTest::newRow("delParam-last-of-section") << plainIni << script("delParam log/level")
                                             << words("net/host net/port") << words("net") << none << words("log/level=");
    QTest::newRow("delParam-last-of-protected-section")
                                             << plainIni << script("encryptSection log; delParam log/level")
                                             << words("net/host net/port") << words("net") << none << words("log/level=");
    QTest::newRow("delParam-protected-param") << plainIni << script("encryptParam net/port; delParam net/port")
                                             << words("log/level net/host") << logNet << none << words("net/port=");
    QTest::newRow("delSection-protected")    << plainIni << script("encryptSection net; delSection net")
                                             << words("log/level") << words("log") << none << words("net/host= net/port=");
    QTest::newRow("delSection-inside-file")  << plainIni << script("encryptFile; delSection log")
                                             << fileParts << words("net") << words("file") << words("log/level=");
    QTest::newRow("delSections-missing-and-wrong-case")
                                             << plainIni << script("delSections nosuch,Net")
                                             << plain << logNet << none << none;
    // clang-format on
}

void tst_Operations::changes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, sectionList);
    QFETCH(QStringList, protectedItems);
    QFETCH(QStringList, changed);

    auto s = open(ini);
    for (const QString &step : steps)
        QVERIFY2(runStep(s.get(), step, password), qPrintable(step + u" failed"_s));
    QCOMPARE(sortedText(storedKeys(s.get()).keys()), sortedText(keys));

    // Every query is a new load; on a file with nothing marked none of them may
    // rewrite it.
    const QByteArray text = fileBytes(s.get());
    QCOMPARE(Drovik::sections(s.get(), password), sectionList);
    QStringList found;
    if (Drovik::isEncryptedFile(s.get(), password))
        found << u"file"_s;
    for (const QString &section : sectionList) {
        if (Drovik::isEncryptedSection(s.get(), section, password))
            found << section;
    }
    const QStringList params = Drovik::parametersOfFile(s.get(), password);
    for (const QString &key : params) {
        if (Drovik::isEncryptedParam(s.get(), key, password))
            found << key;
    }
    QCOMPARE(sortedText(found), sortedText(protectedItems));
    QCOMPARE(fileBytes(s.get()), text);

    QMap<QString, QString> expected {{u"log/level"_s, u"debug"_s},
                                     {u"net/host"_s, u"alpha.example"_s},
                                     {u"net/port"_s, u"8080"_s}};
    for (const QString &change : changed)
        expected.insert(change.section(QLatin1Char('='), 0, 0),
                        change.section(QLatin1Char('='), 1));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString &key = it.key();
        if (it.value().isEmpty()) {
            QCOMPARE(readOnlyValue(s.get(), key), u"<default>"_s);
            continue;
        }
        QCOMPARE(readOnlyValue(s.get(), key), it.value());
        const bool covered = protectedItems.contains(u"file"_s)
                || protectedItems.contains(key.section(QLatin1Char('/'), 0, 0))
                || protectedItems.contains(key);
        QVERIFY2(text.contains(it.value().toUtf8()) != covered,
                 qPrintable(key
                            + (covered ? u" readable in the protected file"_s
                                       : u" missing from the plain text"_s)));
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

    const char *top = "version=3\n";
    const QStringList plain = words("version log/level net/host net/port");
    const QStringList none;
    // clang-format off
    QTest::newRow("plain-file")            << iniWith(top, "", "") << none << u"net/port"_s << true << plain;
    QTest::newRow("plain-new-section")     << iniWith(top, "", "") << none << u"extra/k"_s  << true << plain + words("extra/k");
    QTest::newRow("param-marked-elsewhere") << iniWith(top, "packed-param-enabled\\level=true\n", "") << none
                                           << u"net/port"_s  << true  << plain + words("log/packed-param-enabled/level");
    QTest::newRow("sibling-param-marked")  << iniWith(top, "", "packed-param-enabled\\host=true\n") << none
                                           << u"net/port"_s  << true  << plain + words("net/packed-param-enabled/host");
    QTest::newRow("target-param-marked")   << iniWith(top, "", "packed-param-enabled\\port=true\n") << none
                                           << u"net/port"_s  << false << portProtected;
    QTest::newRow("target-section-marked") << iniWith(top, "", "packed-section-enabled=true\n") << none
                                           << u"net/extra"_s << false << netProtected;
    QTest::newRow("file-marked")           << markedFile << none                            << u"log/level"_s << false << fileParts;
    QTest::newRow("protected-param")       << plainIni << script("encryptParam net/port")   << u"net/port"_s  << false << portProtected;
    QTest::newRow("protected-section-new-param") << plainIni << script("encryptSection net") << u"net/extra"_s << false << netProtected;
    QTest::newRow("protected-file-new-section")  << plainIni << script("encryptFile")        << u"extra/k"_s   << false << fileParts;
    // clang-format on
}

void tst_Operations::setValuePaths()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, setup);
    QFETCH(QString, key);
    QFETCH(bool, shortcut);
    QFETCH(QStringList, keys);

    auto s = open(ini, setup);
    const QVariantMap before = storedKeys(s.get());
    const QString newValue = u"v-NEW-42"_s;
    QVERIFY(Drovik::setValue(s.get(), key, newValue, password));

    const QVariantMap after = storedKeys(s.get());
    if (shortcut) {
        QVariantMap expected = before;
        expected.insert(key, newValue);
        QCOMPARE(after, expected);
    }
    QCOMPARE(sortedText(after.keys()), sortedText(keys));
    // The new value is stored in plain exactly when the shortcut was taken.
    QCOMPARE(fileBytes(s.get()).contains(newValue.toUtf8()), shortcut);
    QCOMPARE(readOnlyValue(s.get(), key), newValue);
    if (key != QLatin1String("net/host"))
        QCOMPARE(readOnlyValue(s.get(), u"net/host"_s), u"alpha.example"_s);

    const QString section = key.section(QLatin1Char('/'), 0, 0);
    QVERIFY(Drovik::sections(s.get(), password).contains(section));
    QVERIFY(Drovik::parametersOfSection(s.get(), section, password)
                    .contains(key.section(QLatin1Char('/'), 1)));
}

void tst_Operations::queriesRepairMarked_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("keys");

    for (const char *query : {"value net/port", "isEncryptedParam net/port", "sections",
                              "parametersOfSection log", "parametersOfFile"})
        QTest::newRow(query) << markedParam << QString::fromLatin1(query) << portProtected;
    QTest::newRow("isEncryptedSection net")
            << markedSection << u"isEncryptedSection net"_s << netProtected;
    QTest::newRow("isEncryptedFile") << markedFile << u"isEncryptedFile"_s << fileParts;
}

void tst_Operations::queriesRepairMarked()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, query);
    QFETCH(QStringList, keys);

    auto s = open(ini);
    QVERIFY(runStep(s.get(), query, password));
    QCOMPARE(sortedText(storedKeys(s.get()).keys()), sortedText(keys));
    QVERIFY(!fileBytes(s.get()).contains("8080"));
}

void tst_Operations::queriesOnProtectedFileWithWrongPassword()
{
    auto s = open(plainIni, script("encryptFile"));
    const QByteArray before = fileBytes(s.get());
    for (const char *query :
         {"value net/port", "isEncryptedFile", "isEncryptedSection net",
          "isEncryptedParam net/port", "sections", "parametersOfSection net", "parametersOfFile"})
        QVERIFY2(!runStep(s.get(), QString::fromLatin1(query), wrongPassword), query);
    QCOMPARE(fileBytes(s.get()), before);
}

void tst_Operations::regenThenChangePassword_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::newRow("protected-param-and-section")
            << script("encryptParam net/port; encryptSection log");
    QTest::newRow("protected-file") << script("encryptFile");
}

void tst_Operations::regenThenChangePassword()
{
    QFETCH(QStringList, setup);
    auto s = open(plainIni, setup);
    const QVariantMap before = storedKeys(s.get());
    QVERIFY(Drovik::regen(s.get(), password));
    const QVariantMap after = storedKeys(s.get());

    // Every public key and cipher text is new, everything else as it was.
    QCOMPARE(after.keys(), before.keys());
    const QRegularExpression publicKey(u"^[0-9a-f]{6}$"_s);
    int renewed = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const QString &key = it.key();
        const bool isPublic = key.contains(QLatin1String("public"));
        if (isPublic || key.contains(QLatin1String("data"))) {
            QVERIFY2(after.value(key) != it.value(), qPrintable(key + u" kept"_s));
            ++renewed;
        } else {
            QCOMPARE(after.value(key), it.value());
        }
        if (isPublic)
            QVERIFY(publicKey.match(after.value(key).toString()).hasMatch());
    }
    QVERIFY(renewed >= 2);
    QCOMPARE(readOnlyValue(s.get(), u"net/port"_s), u"8080"_s);
    QCOMPARE(readOnlyValue(s.get(), u"log/level"_s), u"debug"_s);

    // Fresh readers on copies see the file as it now is on disk.
    const QByteArray newPassword = QByteArrayLiteral("new-pw");
    QVERIFY(Drovik::changePassword(s.get(), password, newPassword));
    s->sync();
    QMap<QString, QVariant> tree;
    const QSettings oldReader(m_files.copy(s->fileName()), QSettings::IniFormat);
    QVERIFY(!Drovik::getFileData(&oldReader, password, &tree));
    const QSettings newReader(m_files.copy(s->fileName()), QSettings::IniFormat);
    QCOMPARE(readOnlyValue(&newReader, u"net/port"_s, newPassword), u"8080"_s);
    QCOMPARE(readOnlyValue(&newReader, u"log/level"_s, newPassword), u"debug"_s);
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
            QTest::addRow("%s-%s-wrong-password", level.first,
                          qPrintable(op.section(QLatin1Char(' '), 0, 0)))
                    << QString::fromLatin1(level.second) << op;
        }
    }
}

void tst_Operations::wrongPasswordChangesNothing()
{
    QFETCH(QString, protect);
    QFETCH(QString, operation);

    auto s = open(plainIni, {protect});
    const QByteArray before = fileBytes(s.get());
    QVERIFY(!before.contains("8080"));

    QVERIFY(!runStep(s.get(), operation, wrongPassword));
    QCOMPARE(fileBytes(s.get()), before);
    QVERIFY(runStep(s.get(), operation, password));
}

QTEST_APPLESS_MAIN(tst_Operations)
#include "tst_operations.moc"
