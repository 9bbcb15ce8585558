#include "testutil.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>
#include <QtTest/QtTest>

#include <memory>

// One application's configuration over its life, stage by stage: each slot
// continues from the file the previous one left, and checks the INI text that
// QSettings really wrote.
class tst_Scenario : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void createPlainConfig();
    void protectToken();
    void markDatabaseSectionByHand();
    void listAndReadEverything();
    void changePassword();
    void deleteDatabaseSection();

private:
    QByteArray iniText()
    {
        m_settings->sync();
        return testutil::Files::bytes(m_path);
    }
    QStringList storedKeys()
    {
        m_settings->sync();
        return m_files.storedKeys(m_path).keys();
    }
    void checkNoSecretInText(const QByteArray &text, const QList<QByteArray> &secrets)
    {
        for (const QByteArray &secret : secrets)
            QVERIFY2(!text.contains(secret), secret.constData());
    }
    QString read(const QString &key)
    {
        return Drovik::value(m_settings.get(), key, QStringLiteral("<default>"), m_password)
                .toString();
    }

    testutil::Files m_files;
    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QByteArray m_password = QByteArrayLiteral("first password");

    const QByteArray m_token = QByteArrayLiteral("tok-SECRET-123");
    const QByteArray m_dbPassword = QByteArrayLiteral("db-SECRET-456");
};

void tst_Scenario::initTestCase()
{
    QVERIFY(m_files.isValid());
    m_path = m_files.newPath();
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
}

void tst_Scenario::createPlainConfig()
{
    // The application writes its first configuration with QSettings alone.
    m_settings->setValue(QStringLiteral("server/host"), QStringLiteral("example.org"));
    m_settings->setValue(QStringLiteral("server/port"), 8080);
    m_settings->setValue(QStringLiteral("auth/user"), QStringLiteral("alice"));
    m_settings->setValue(QStringLiteral("auth/token"), QString::fromLatin1(m_token));
    m_settings->setValue(QStringLiteral("db/user"), QStringLiteral("app"));
    m_settings->setValue(QStringLiteral("db/password"), QString::fromLatin1(m_dbPassword));
    m_settings->setValue(QStringLiteral("ui/theme"), QStringLiteral("dark"));

    const QByteArray text = iniText();
    for (const char *line : {"[server]\n", "host=example.org\n", "port=8080\n",
                             "token=tok-SECRET-123\n", "password=db-SECRET-456\n"})
        QVERIFY2(text.contains(line), line);

    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({QStringLiteral("auth"), QStringLiteral("db"), QStringLiteral("server"),
                          QStringLiteral("ui")}));
    QCOMPARE(read(QStringLiteral("auth/token")), QString::fromLatin1(m_token));
    QVERIFY(!Drovik::isEncryptedParam(m_settings.get(), QStringLiteral("auth/token"), m_password));
    // A plain file needs no repair, so the queries left the text alone.
    QCOMPARE(iniText(), text);
}

void tst_Scenario::protectToken()
{
    QVERIFY(Drovik::encryptParam(m_settings.get(), QStringLiteral("auth/token"), m_password));

    const QByteArray text = iniText();
    checkNoSecretInText(text, {m_token});
    QVERIFY(text.contains("user=alice\n"));
    QVERIFY(text.contains(m_dbPassword)); // not asked for yet
    const QStringList keys = storedKeys();
    for (const char *part : {"enabled", "public", "algorithm", "data"})
        QVERIFY2(keys.contains(
                         QStringLiteral("auth/packed-param-%1/token").arg(QLatin1String(part))),
                 part);
    QVERIFY(!keys.contains(QStringLiteral("auth/token")));

    QVERIFY(Drovik::isEncryptedParam(m_settings.get(), QStringLiteral("auth/token"), m_password));
    QCOMPARE(read(QStringLiteral("auth/token")), QString::fromLatin1(m_token));
}

void tst_Scenario::markDatabaseSectionByHand()
{
    // An administrator opens the file in an editor while the application is
    // down, and asks for the database section to be protected.
    QByteArray text = iniText();
    m_settings.reset();
    const int group = text.indexOf("[db]\n");
    QVERIFY(group >= 0);
    text.insert(group + 5, "packed-section-enabled=true\n");
    {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(text), qint64(text.size()));
    }

    // QSettings keeps the parsed file per path, but checks it against the size
    // and modification time on disk; the edit grew the file, so a new object on
    // the same path reads the edited text.
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    QVERIFY(m_settings->value(QStringLiteral("db/packed-section-enabled")).toBool());

    // Reading through a read-only object leaves the marked section as it is.
    const QSettings *readOnly = m_settings.get();
    QCOMPARE(Drovik::value(readOnly, QStringLiteral("db/password"), QVariant(), m_password)
                     .toString(),
             QString::fromLatin1(m_dbPassword));
    QCOMPARE(iniText(), text);

    // The first query with the writable object stores the section protected.
    QVERIFY(Drovik::isEncryptedSection(m_settings.get(), QStringLiteral("db"), m_password));
    const QByteArray repaired = iniText();
    checkNoSecretInText(repaired, {m_token, m_dbPassword, QByteArrayLiteral("user=app")});
    QVERIFY(repaired.contains("[db]\n"));
    QVERIFY(repaired.contains("packed-section-data000="));
    const QStringList keys = storedKeys();
    QVERIFY(keys.contains(QStringLiteral("db/packed-section-public")));
    QVERIFY(!keys.contains(QStringLiteral("db/password")));
    QVERIFY(!keys.contains(QStringLiteral("db/user")));
}

void tst_Scenario::listAndReadEverything()
{
    const QByteArray before = iniText();
    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({QStringLiteral("auth"), QStringLiteral("db"), QStringLiteral("server"),
                          QStringLiteral("ui")}));
    // The token's stored parts stay listed where the load met them.
    const QStringList expectedParams
            = QString::fromLatin1("auth/packed-param-algorithm/token auth/packed-param-data/token "
                                  "auth/packed-param-enabled/token auth/packed-param-public/token "
                                  "auth/user auth/token "
                                  "db/password db/user server/host server/port ui/theme")
                      .split(QLatin1Char(' '));
    QCOMPARE(Drovik::parametersOfFile(m_settings.get(), m_password), expectedParams);

    const QMap<QString, QString> expected {
            {QStringLiteral("auth/user"), QStringLiteral("alice")},
            {QStringLiteral("auth/token"), QString::fromLatin1(m_token)},
            {QStringLiteral("db/user"), QStringLiteral("app")},
            {QStringLiteral("db/password"), QString::fromLatin1(m_dbPassword)},
            {QStringLiteral("server/host"), QStringLiteral("example.org")},
            {QStringLiteral("server/port"), QStringLiteral("8080")},
            {QStringLiteral("ui/theme"), QStringLiteral("dark")},
    };
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(read(it.key()), it.value());
    // Nothing was marked any more, so reading rewrote nothing.
    QCOMPARE(iniText(), before);
}

void tst_Scenario::changePassword()
{
    const QByteArray newPassword = QByteArrayLiteral("second password");
    const QByteArray before = iniText();
    const QStringList keysBefore = storedKeys();

    // A stale password is refused without touching the file.
    QVERIFY(!Drovik::changePassword(m_settings.get(), QByteArrayLiteral("guess"), newPassword));
    QCOMPARE(iniText(), before);

    QVERIFY(Drovik::changePassword(m_settings.get(), m_password, newPassword));
    const QByteArray text = iniText();
    QVERIFY(text != before);
    checkNoSecretInText(text, {m_token, m_dbPassword});
    QVERIFY(text.contains("host=example.org\n"));
    QCOMPARE(storedKeys(), keysBefore);

    QMap<QString, QVariant> tree;
    const QSettings oldReader(m_files.copy(m_path), QSettings::IniFormat);
    QVERIFY(!Drovik::getFileData(&oldReader, m_password, &tree));
    m_password = newPassword;
    QCOMPARE(read(QStringLiteral("auth/token")), QString::fromLatin1(m_token));
    QCOMPARE(read(QStringLiteral("db/password")), QString::fromLatin1(m_dbPassword));
}

void tst_Scenario::deleteDatabaseSection()
{
    QVERIFY(Drovik::delSection(m_settings.get(), QStringLiteral("db"), m_password));

    const QByteArray text = iniText();
    QVERIFY(!text.contains("[db]"));
    checkNoSecretInText(text, {m_token, m_dbPassword});
    for (const char *line : {"host=example.org\n", "user=alice\n", "theme=dark\n"})
        QVERIFY2(text.contains(line), line);
    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({QStringLiteral("auth"), QStringLiteral("server"), QStringLiteral("ui")}));
    QVERIFY(Drovik::isEncryptedParam(m_settings.get(), QStringLiteral("auth/token"), m_password));
    QCOMPARE(read(QStringLiteral("auth/token")), QString::fromLatin1(m_token));
    QCOMPARE(read(QStringLiteral("db/password")), QStringLiteral("<default>"));
}

QTEST_APPLESS_MAIN(tst_Scenario)
#include "tst_scenario.moc"
