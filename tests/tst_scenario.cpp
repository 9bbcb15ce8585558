#include "testutil.h"

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
    void checkText(const QByteArray &text, const QList<QByteArray> &present,
                   const QList<QByteArray> &absent)
    {
        for (const QByteArray &line : present)
            QVERIFY2(text.contains(line), qPrintable(QString::fromUtf8(line) + u" missing"_s));
        for (const QByteArray &secret : absent)
            QVERIFY2(!text.contains(secret), qPrintable(QString::fromUtf8(secret) + u" shown"_s));
    }
    QString read(const QString &key)
    {
        return Drovik::value(m_settings.get(), key, u"<default>"_s, m_password).toString();
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
    m_settings->setValue(u"server/host"_s, u"example.org"_s);
    m_settings->setValue(u"server/port"_s, 8080);
    m_settings->setValue(u"auth/user"_s, u"alice"_s);
    m_settings->setValue(u"auth/token"_s, QString::fromLatin1(m_token));
    m_settings->setValue(u"db/user"_s, u"app"_s);
    m_settings->setValue(u"db/password"_s, QString::fromLatin1(m_dbPassword));
    m_settings->setValue(u"ui/theme"_s, u"dark"_s);

    const QByteArray text = iniText();
    checkText(text, {"[server]\nhost=example.org\nport=8080\n", "token=" + m_token + '\n'}, {});
    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({u"auth"_s, u"db"_s, u"server"_s, u"ui"_s}));
    QCOMPARE(read(u"auth/token"_s), QString::fromLatin1(m_token));
    QVERIFY(!Drovik::isEncryptedParam(m_settings.get(), u"auth/token"_s, m_password));
    // A plain file needs no repair, so the queries left the text alone.
    QCOMPARE(iniText(), text);
}

void tst_Scenario::protectToken()
{
    QVERIFY(Drovik::encryptParam(m_settings.get(), u"auth/token"_s, m_password));

    // The database password has not been asked for yet.
    checkText(iniText(), {"user=alice\n", "packed-param-data\\token=", m_dbPassword}, {m_token});
    QVERIFY(!storedKeys().contains(u"auth/token"_s));
    QVERIFY(Drovik::isEncryptedParam(m_settings.get(), u"auth/token"_s, m_password));
    QCOMPARE(read(u"auth/token"_s), QString::fromLatin1(m_token));
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
    QVERIFY(m_settings->value(u"db/packed-section-enabled"_s).toBool());

    // Reading through a read-only object leaves the marked section as it is.
    const QSettings *readOnly = m_settings.get();
    QCOMPARE(Drovik::value(readOnly, u"db/password"_s, QVariant(), m_password),
             QVariant(QString::fromLatin1(m_dbPassword)));
    QCOMPARE(iniText(), text);

    // The first query with the writable object stores the section protected.
    QVERIFY(Drovik::isEncryptedSection(m_settings.get(), u"db"_s, m_password));
    checkText(iniText(), {"[db]\n", "packed-section-data000="},
              {m_token, m_dbPassword, "user=app"});
    QVERIFY(!storedKeys().contains(u"db/user"_s));
}

void tst_Scenario::listAndReadEverything()
{
    const QByteArray before = iniText();
    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({u"auth"_s, u"db"_s, u"server"_s, u"ui"_s}));
    // The token's stored parts stay listed where the load met them.
    const QStringList expectedParams
            = u"auth/packed-param-algorithm/token auth/packed-param-data/token "
              u"auth/packed-param-enabled/token auth/packed-param-public/token "
              u"auth/user auth/token db/password db/user server/host server/port ui/theme"_s.split(
                      QLatin1Char(' '));
    QCOMPARE(Drovik::parametersOfFile(m_settings.get(), m_password), expectedParams);

    const QString values = u"alice "_s + QString::fromLatin1(m_token + ' ' + m_dbPassword)
            + u" app example.org 8080 dark"_s;
    QStringList read;
    for (const QString &key : expectedParams.mid(4))
        read << this->read(key);
    QCOMPARE(read.join(QLatin1Char(' ')), values);
    // Nothing was marked any more, so reading rewrote nothing.
    QCOMPARE(iniText(), before);
}

void tst_Scenario::changePassword()
{
    const QByteArray newPassword = QByteArrayLiteral("second password");
    const QByteArray before = iniText();
    const QStringList keysBefore = storedKeys();

    QVERIFY(Drovik::changePassword(m_settings.get(), m_password, newPassword));
    const QByteArray text = iniText();
    QVERIFY(text != before);
    checkText(text, {"host=example.org\n"}, {m_token, m_dbPassword});
    QCOMPARE(storedKeys(), keysBefore);

    QMap<QString, QVariant> tree;
    const QSettings oldReader(m_files.copy(m_path), QSettings::IniFormat);
    QVERIFY(!Drovik::getFileData(&oldReader, m_password, &tree));
    m_password = newPassword;
    QCOMPARE(read(u"auth/token"_s), QString::fromLatin1(m_token));
    QCOMPARE(read(u"db/password"_s), QString::fromLatin1(m_dbPassword));
}

void tst_Scenario::deleteDatabaseSection()
{
    QVERIFY(Drovik::delSection(m_settings.get(), u"db"_s, m_password));

    checkText(iniText(), {"host=example.org\n", "user=alice\n", "theme=dark\n"},
              {"[db]", m_token, m_dbPassword});
    QCOMPARE(Drovik::sections(m_settings.get(), m_password),
             QStringList({u"auth"_s, u"server"_s, u"ui"_s}));
    QVERIFY(Drovik::isEncryptedParam(m_settings.get(), u"auth/token"_s, m_password));
    QCOMPARE(read(u"auth/token"_s), QString::fromLatin1(m_token));
    QCOMPARE(read(u"db/password"_s), u"<default>"_s);
}

QTEST_APPLESS_MAIN(tst_Scenario)
#include "tst_scenario.moc"
