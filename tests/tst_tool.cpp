#include "tool_runner.h"

#include <QtCore/QJsonDocument>
#include <QtTest/QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray password = QByteArrayLiteral("right-pw");

const QByteArray plainIni = QByteArrayLiteral("[log]\nlevel=debug\n\n"
                                              "[net]\nhost=alpha.example\nport=8080\n");

// Runs the tool with the password in DROVIK_PASSWORD (a null one: none given).
ToolRun drovik(const QStringList &arguments, const QByteArray &pw = password,
               QMap<QString, QString> extra = {})
{
    if (!pw.isNull())
        extra.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(pw));
    return runTool(arguments, extra);
}

// A command line whose word F stands for the file (F/x for a path below it),
// D for its directory and L for a symbolic link in the file's place that
// points to a file that does not exist.
QStringList command(const QString &words, const QString &file)
{
    QStringList arguments = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (arguments.contains(u"L"_s))
        QFile::link(file + u".missing"_s, file);
    arguments.replaceInStrings(QRegularExpression(u"^[FL](?=/|$)"_s), file);
    arguments.replaceInStrings(QRegularExpression(u"^D$"_s), QFileInfo(file).absolutePath());
    return arguments;
}

QVariant text(const char *value)
{
    return QString::fromUtf8(value);
}

} // namespace

class tst_Tool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readCommands_data();
    void readCommands();
    void showWithoutPassword();
    void showReadsBackThroughQSettings();
    void changes_data();
    void changes();
    void freshPublicKeysEveryRun();
    void staleLocks_data();
    void staleLocks();
    void ownerAndMode_data();
    void ownerAndMode();
    void concurrentSetsLoseNothing();
    void versionAndHelp();

private:
    QString file(const QString &fixture) { return m_files.write(m_fixtures.value(fixture)); }

    testutil::Files m_files;
    QMap<QString, QByteArray> m_fixtures;
};

void tst_Tool::initTestCase()
{
    QVERIFY(m_files.isValid());
    m_fixtures.insert(u"plain"_s, plainIni);
    m_fixtures.insert(u"marked"_s,
                      QByteArrayLiteral("[log]\nlevel=debug\npacked-section-enabled=true\n\n"
                                        "[net]\nhost=alpha.example\nport=8080\n"));
    m_fixtures.insert(u"nul-name"_s, QByteArrayLiteral("[s]\nx=plain\nx%00y=secret\n"));
    // The protected forms, made by the library itself from the plain text.
    const auto protect = [this](const char *name, auto change) {
        const QString path = m_files.write(plainIni);
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(change(&settings));
        settings.sync();
        m_fixtures.insert(QLatin1String(name), testutil::Files::bytes(path));
    };
    protect("param", [](QSettings *s) { return Drovik::encryptParam(s, u"net/port"_s, password); });
    protect("section", [](QSettings *s) { return Drovik::encryptSection(s, u"net"_s, password); });
    protect("file", [](QSettings *s) { return Drovik::encryptFile(s, password); });
}

void tst_Tool::readCommands_data()
{
    QTest::addColumn<QString>("fixture"); // "" for no file
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("pw"); // null: no password given at all
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out"); // JSON compact, the file's path as F

    const QByteArray bad("bad-pw");
    const QByteArray none;
    const QByteArray pw = password;
    // clang-format off
    QTest::newRow("get-plain")             << "plain"   << "get F net/port"             << pw << 0 << QByteArray("8080\n");
    QTest::newRow("get-protected-param")   << "param"   << "get F net/port"             << pw << 0 << QByteArray("8080\n");
    QTest::newRow("get-protected-section") << "section" << "get F net/host"             << pw << 0 << QByteArray("alpha.example\n");
    QTest::newRow("get-protected-file")    << "file"    << "get F log/level"            << pw << 0 << QByteArray("debug\n");
    QTest::newRow("get-marked")            << "marked"  << "get F log/level"            << pw << 0 << QByteArray("debug\n");
    QTest::newRow("get-default")           << "file"    << "get F net/none --default x" << pw << 0 << QByteArray("x\n");
    QTest::newRow("list-sections")         << "section" << "list F"                     << pw << 0 << QByteArray("log\nnet\n");
    QTest::newRow("list-params-protected") << "param"   << "list F net"                 << pw << 0 << QByteArray("host\nport\n");
    QTest::newRow("keys-protected-file")   << "file"    << "keys F"                     << pw << 0 << QByteArray("log/level\nnet/host\nnet/port\n");
    QTest::newRow("show-marked")           << "marked"  << "show F"                     << pw << 0
            << QByteArray("; section marked for protection (still stored in plain)\n"
                          "[log]\nlevel=debug\n\n[net]\nhost=alpha.example\nport=8080\n");
    QTest::newRow("show-protected-param")  << "param"   << "show F"                     << pw << 0
            << QByteArray("[log]\nlevel=debug\n\n[net]\nhost=alpha.example\n; protected parameter\nport=8080\n");
    QTest::newRow("get-json")              << "param"   << "get F net/port --json"      << pw << 0 << QByteArray(R"({"found":true,"key":"net/port","value":"8080"})");
    QTest::newRow("get-json-absent")       << "param"   << "get F net/none --json"      << pw << 1 << QByteArray(R"({"found":false,"key":"net/none"})");
    QTest::newRow("keys-json")             << "param"   << "keys F --json"              << pw << 0 << QByteArray(R"({"keys":["log/level","net/host","net/port"]})");
    QTest::newRow("show-json")             << "param"   << "show F --json"              << pw << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain","type":"string","value":"debug"}],"protection":"plain"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain","type":"string","value":"alpha.example"},{"name":"port","protection":"protected","type":"string","value":"8080"}],"protection":"plain"}],"ungrouped":[]})");
    // status never asks for a password: without one, what it protects is hidden.
    QTest::newRow("status-param")          << "param"   << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"plain"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain"},{"hidden":true,"name":"port","protection":"protected"}],"protection":"plain"}],"ungrouped":[]})");
    QTest::newRow("status-section")        << "section" << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"plain"},)"
                          R"({"hidden":true,"name":"net","parameters":[],"protection":"protected"}],"ungrouped":[]})");
    QTest::newRow("status-file")           << "file"    << "status F --json"            << none << 0 << QByteArray(R"({"file":"F","hidden":true,"protection":"protected","sections":[],"ungrouped":[]})");
    QTest::newRow("status-marked")         << "marked"  << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"marked"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain"},{"name":"port","protection":"plain"}],"protection":"plain"}],"ungrouped":[]})");
    QTest::newRow("status-file-with-pw")   << "file"    << "status F --json"            << pw << 0
            << QByteArray(R"({"file":"F","protection":"protected","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"plain"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain"},{"name":"port","protection":"plain"}],"protection":"plain"}],"ungrouped":[]})");
    // Failures print nothing on stdout.
    for (const char *name : {"get F net/host", "list F", "keys F", "status F", "show F", "set F net/port 1",
                             "set F log/level x", "del F net/host", "protect F --key net/host",
                             "unprotect F --file", "passwd F", "regen F", "edit F"})
        QTest::addRow("wrong-password: %s", name) << "section" << name                 << bad << 1 << QByteArray();
    QTest::newRow("get-absent-key")           << "plain"   << "get F net/none"           << pw << 1 << QByteArray();
    QTest::newRow("list-absent-section")      << "plain"   << "list F none"              << pw << 1 << QByteArray();
    QTest::newRow("del-one-absent-key")       << "param"   << "del F net/host net/none"  << pw << 1 << QByteArray();
    QTest::newRow("protect-absent-section")   << "plain"   << "protect F --section none" << pw << 1 << QByteArray();
    for (const char *name : {"get F a/b", "list F", "keys F", "status F", "show F", "del F a/b",
                             "del-section F a", "protect F --file", "passwd F", "regen F", "edit F"})
        QTest::addRow("missing-file: %s", name) << ""        << name                       << pw << 2 << QByteArray();
    // Protected data cannot hold a name with U+0000: refused, not misreported.
    QTest::newRow("protect-section-nul-name") << "nul-name" << "protect F --section s" << pw << 2 << QByteArray();
    QTest::newRow("protect-file-nul-name")    << "nul-name" << "protect F --file"      << pw << 2 << QByteArray();
    QTest::newRow("set-through-dangling-link") << ""       << "set L a/b c"              << pw << 2 << QByteArray();
    QTest::newRow("set-below-a-regular-file") << "plain"   << "set F/x.ini a/b c"        << pw << 2 << QByteArray();
    QTest::newRow("get-on-a-directory")       << "plain"   << "get D a/b"                << pw << 2 << QByteArray();
    QTest::newRow("set-bad-type")             << "plain"   << "set F a/b --type float 1" << pw << 2 << QByteArray();
    QTest::newRow("set-bad-int")              << "plain"   << "set F a/b --type int 12x" << pw << 2 << QByteArray();
    QTest::newRow("set-key-without-section")  << "plain"   << "set F port 1"             << pw << 2 << QByteArray();
    QTest::newRow("no-password-given")        << "section" << "get F net/host"           << none << 2 << QByteArray();
    QTest::newRow("show-json-needs-password") << "section" << "show F --json"            << none << 2 << QByteArray();
    QTest::newRow("protect-without-target")   << "plain"   << "protect F"                << pw << 2 << QByteArray();
    QTest::newRow("unknown-command")          << "plain"   << "frob F"                   << pw << 2 << QByteArray();
    // clang-format on
}

// Reading never writes, not even to protect what is marked by hand; every
// failure leaves the file byte for byte as it was, and creates none.
void tst_Tool::readCommands()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(QByteArray, pw);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    const QString path = fixture.isEmpty() ? m_files.newPath() : file(fixture);
    const ToolRun result = drovik(command(arguments, path), pw);
    QVERIFY2(result.code == code, qPrintable(result.report));
    const QJsonDocument document = QJsonDocument::fromJson(result.out);
    const QByteArray shown
            = document.isObject() ? document.toJson(QJsonDocument::Compact) : result.out;
    QCOMPARE(QString::fromUtf8(shown).replace(path, u"F"_s).toUtf8(), out);
    if (fixture.isEmpty())
        QVERIFY(!QFile::exists(path));
    else
        QCOMPARE(testutil::Files::bytes(path), m_fixtures.value(fixture));
    if (code == 1 && pw == "bad-pw")
        QVERIFY2(result.report.contains(QLatin1String("nothing was changed")),
                 qPrintable(result.report));
}

// Without a password and a terminal (git's textconv) show prints what is
// plain; a protected part that changed must still show as changed.
void tst_Tool::showWithoutPassword()
{
    const QString path = file(u"param"_s);
    const ToolRun before = drovik(command(u"show F"_s, path), QByteArray());
    QVERIFY2(before.code == 0 && before.out.contains("host=alpha.example\n")
                     && !before.out.contains("8080"),
             qPrintable(before.report));
    QCOMPARE(drovik(command(u"set F net/port 8081"_s, path)).code, 0);
    const ToolRun after = drovik(command(u"show F"_s, path), QByteArray());
    QVERIFY2(after.code == 0 && after.out != before.out, qPrintable(after.report));
}

// Names and values that INI text must escape come back from the printed text,
// as QSettings reads it, equal to what the library loads.
void tst_Tool::showReadsBackThroughQSettings()
{
    const QString path = m_files.newPath();
    const QVariantMap values {
            {u"vault/separators"_s, u"a, b; c = d # e"_s},
            {u"vault/spaces"_s, u"  outer spaces "_s},
            {u"vault/escapes"_s, QStringLiteral("q\" b\\ t\t n\n")},
            {u"vault/hex-digit-after-control"_s,
             QString::fromUtf8("\x01"
                               "Abc\x7f"
                               "1")},
            {u"vault/at"_s, u"@Invalid()"_s},
            {u"vault/unicode"_s, QStringLiteral("gr\u00fc\u00dfe \u2713")},
            {u"vault/empty"_s, QString()},
            {u"vault/list"_s, QStringList {u"one"_s, u"two, 2"_s}},
            {u"vault/sub/key with%"_s, 42},
            {u"General/x"_s, u"not the ungrouped keys"_s},
    };
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QVERIFY(Drovik::encryptNewParam(&settings, it.key(), it.value(), password));
        QVERIFY(Drovik::encryptSection(&settings, u"vault"_s, password));
    }
    const ToolRun result = drovik({u"show"_s, path});
    QVERIFY2(result.code == 0, qPrintable(result.report));
    QSettings shown(m_files.write(result.out), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    shown.setIniCodec("UTF-8");
#endif
    QCOMPARE(shown.allKeys().size(), values.size());
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().userType() == QMetaType::QStringList)
            QCOMPARE(shown.value(it.key()).toStringList(), it.value().toStringList());
        else
            QCOMPARE(shown.value(it.key()).toString(), it.value().toString());
    }
}

void tst_Tool::changes_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("key"); // read back through the library, a bare key through QSettings
    QTest::addColumn<QVariant>("value"); // when the exit status is 0; invalid: nothing stored there
    QTest::addColumn<QString>("stored"); // a stored key that must be there
    QTest::addColumn<QString>("gone");   // and one that must not
    QTest::addColumn<QString>("message"); // in what it printed on stderr; "-": nothing

    const QVariant none;
    const QVariant list = QStringList {u"a"_s, u"b,c"_s};
    const QByteArray plain = plainIni, marked = m_fixtures.value(u"marked"_s),
                     param = m_fixtures.value(u"param"_s);
    const QByteArray section = m_fixtures.value(u"section"_s), file = m_fixtures.value(u"file"_s);
    const QByteArray general("[General]\nversion=3\n[db]\npass=x\n");
    const QByteArray fileAndGeneral = file + "\n[General]\nv=1\n";
    // clang-format off
    QTest::newRow("set-creates-file")        << QByteArray() << "set F net/port 1"               << 0 << "net/port"  << text("1")                << "net/port"                   << "" << "";
    QTest::newRow("set-int-in-section")      << section << "set F net/port --type int 9090"      << 0 << "net/port"  << QVariant(qlonglong(9090)) << "net/packed-section-data000" << "net/port" << "";
    QTest::newRow("set-list-in-file")        << file    << "set F new/l --type list a b,c"       << 0 << "new/l"     << list                     << "packed-file/data000"        << "new/l" << "";
    QTest::newRow("set-keeps-param")         << param   << "set F net/port --type bool yes"      << 0 << "net/port"  << QVariant(true)           << "net/packed-param-data/port" << "net/port" << "";
    QTest::newRow("set-protects-marked")     << marked  << "set F net/port 1"                    << 0 << "log/level" << text("debug")            << "log/packed-section-data000" << "log/level" << "";
    QTest::newRow("del-protected-param")     << param   << "del F net/port"                      << 0 << "net/port"  << none                     << "net/host"                   << "net/packed-param-enabled/port" << "";
    QTest::newRow("del-section")             << section << "del-section F net"                   << 0 << "net/host"  << none                     << "log/level"                  << "net/packed-section-enabled" << "";
    QTest::newRow("protect-key")             << plain   << "protect F --key net/port"            << 0 << "net/port"  << text("8080")             << "net/packed-param-data/port" << "net/port" << "";
    QTest::newRow("protect-section-and-key") << plain   << "protect F --section log --key net/port" << 0 << "log/level" << text("debug")         << "log/packed-section-data000" << "net/port" << "";
    QTest::newRow("protect-file")            << param   << "protect F --file"                    << 0 << "net/port"  << text("8080")             << "packed-file/data000"        << "net/packed-param-data/port" << "";
    QTest::newRow("unprotect-section")       << section << "unprotect F --section net"           << 0 << "net/port"  << text("8080")             << "net/port"                   << "net/packed-section-enabled" << "";
    QTest::newRow("unprotect-file")          << file    << "unprotect F --file"                  << 0 << "net/host"  << text("alpha.example")    << "net/host"                   << "packed-file/enabled" << "";
    QTest::newRow("regen-protects-marked")   << marked  << "regen F"                             << 0 << "log/level" << text("debug")            << "log/packed-section-data000" << "log/level" << "";
    // Keys outside any section survive every write; lines QSettings would lose stop one.
    QTest::newRow("general-protect-section") << general << "protect F --section db"              << 0 << "version"   << text("3")                << "db/packed-section-data000"  << "db/pass" << "";
    QTest::newRow("bare-key-del")            << QByteArray("top=1\n[a]\nk=v\n[b]\nk=w\n") << "del F a/k" << 0 << "top" << text("1")       << "b/k"                        << "a/k" << "";
    QTest::newRow("protected-file-set")      << fileAndGeneral << "set F net/port 2"             << 0 << "v"         << text("1")                << "packed-file/data000"        << "net/port" << "stay in plain";
    QTest::newRow("quiet-silences-notes")    << fileAndGeneral << "set F net/port 2 -q"          << 0 << "v"         << text("1")                << "packed-file/data000"        << "net/port" << "-";
    QTest::newRow("quiet-keeps-errors")      << fileAndGeneral << "get F a/none -q"              << 1 << ""          << none                     << ""                           << "" << "no value";
    QTest::newRow("protect-file-again")      << fileAndGeneral << "protect F --file"             << 0 << "v"         << text("1")                << "packed-file/data000"        << "net/port" << "already protected";
    QTest::newRow("protect-file-refuses")    << general << "protect F --file"                    << 2 << ""          << none                     << ""                           << "" << "";
    QTest::newRow("comment-line-set")        << QByteArray("# note\n[a]\nk=v\n") << "set F a/k w"  << 0 << "a/k"       << text("w")                << "a/k"                        << "" << "";
    QTest::newRow("byte-order-mark-set")     << QByteArray("\xef\xbb\xbf[a]\nk=v\n") << "set F a/k w" << 0 << "a/k"  << text("w")                << "a/k"                        << "" << "";
    QTest::newRow("line-without-equals-set") << QByteArray("[a]\nnote\nk=v\n") << "set F a/k w"    << 2 << ""          << none                     << ""                           << "" << "";
    QTest::newRow("binary-line-regen")       << QByteArray("[a]\nk=v\n\x01\xfe\xff\n") << "regen F" << 2 << ""      << none                     << ""                           << "" << "";
    // clang-format on
}

// Exit 0 with the change made and every key the command did not target still
// there, or another status and the file byte for byte as it was.
void tst_Tool::changes()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, arguments);
    QFETCH(int, code);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, stored);
    QFETCH(QString, gone);
    QFETCH(QString, message);
    const QString path = content.isNull() ? m_files.newPath() : m_files.write(content);
    const ToolRun result = drovik(command(arguments, path));
    QVERIFY2(result.code == code, qPrintable(result.report));
    QVERIFY2(message == QLatin1String("-") ? result.err.isEmpty()
                                           : result.err.contains(message.toUtf8()),
             qPrintable(result.report));
    if (code != 0) {
        QCOMPARE(testutil::Files::bytes(path), content);
        return;
    }
    const QVariantMap keys = m_files.storedKeys(path);
    QVERIFY2(keys.contains(stored) && (gone.isEmpty() || !keys.contains(gone)),
             qPrintable(keys.keys().join(QLatin1Char(' '))));
    QCOMPARE(key.contains(QLatin1Char('/')) ? m_files.valueOnDisk(path, key, password)
                                            : keys.value(key),
             value);
}

// Without a seed of its own, every run would draw the same "fresh" public key.
void tst_Tool::freshPublicKeysEveryRun()
{
    QStringList keys;
    for (int run = 0; run < 2; ++run) {
        const QString path = file(u"plain"_s);
        QCOMPARE(drovik({u"protect"_s, path, u"--key"_s, u"net/port"_s}).code, 0);
        keys << m_files.storedKeys(path).value(u"net/packed-param-public/port"_s).toString();
    }
    QCOMPARE(keys.at(0).size(), 6);
    QVERIFY2(keys.at(0) != keys.at(1), qPrintable(keys.join(QLatin1Char(' '))));
}

void tst_Tool::staleLocks_data()
{
    QTest::addColumn<QByteArray>("lock");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<int>("code");

    // The pid of a shell that has exited, and a live process under its own name.
    QProcess gone;
    gone.start(u"sh"_s, {u"-c"_s, u"echo $$"_s});
    gone.waitForFinished();
    const QByteArray here = QSysInfo::machineHostName().toUtf8();
    const QByteArray dead = gone.readAllStandardOutput().trimmed() + "\nsh\n" + here + "\n";
    const QByteArray live = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
            + QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n' + here
            + '\n';
    // clang-format off
    QTest::newRow("empty")               << QByteArray()                                 << 60    << 0;
    QTest::newRow("garbled")             << QByteArray("\xff\xfe")                       << 60    << 0;
    QTest::newRow("dead-process")        << dead                                         << 0     << 0;
    QTest::newRow("other-host-old")      << QByteArray("4242\ndrovik\nfar.example\n")    << 86400 << 0;
    QTest::newRow("other-host-recent")   << QByteArray("4242\ndrovik\nfar.example\n")    << 0     << 2;
    QTest::newRow("live-process")        << live << 86400 << 2;
    // clang-format on
}

// A lock nobody holds is taken over; one that is held makes the run give
// up, naming the lock file, and leave the file as it was.
void tst_Tool::staleLocks()
{
    QFETCH(QByteArray, lock);
    QFETCH(int, ageSeconds);
    QFETCH(int, code);
    const QString path = file(u"plain"_s);
    QFile lockFile(path + u".drovik-lock"_s);
    QVERIFY(lockFile.open(QIODevice::WriteOnly) && lockFile.write(lock) == lock.size()
            && lockFile.flush());
    QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
    lockFile.close();
    const ToolRun result = drovik(command(u"set F net/port 1"_s, path), password,
                                  {{u"DROVIK_LOCK_TIMEOUT"_s, u"1"_s}});
    QVERIFY2(result.code == code, qPrintable(result.report));
    QVERIFY2(code == 0 || result.report.contains(lockFile.fileName()), qPrintable(result.report));
    QCOMPARE(testutil::Files::bytes(path) == plainIni, code != 0);
}

void tst_Tool::ownerAndMode_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("mode");

    QTest::newRow("rewrite") << true << 0640;
    QTest::newRow("create-under-umask-022") << false << 0600;
}

// As root (CI) the file belongs to nobody: a rewrite by root must not take it
// from the application that reads it. A new file may hold a secret in plain.
void tst_Tool::ownerAndMode()
{
    QFETCH(bool, exists);
    QFETCH(int, mode);
    const QString path = exists ? file(u"plain"_s) : m_files.newPath();
    const QByteArray name = QFile::encodeName(path);
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    if (exists) {
        QCOMPARE(chown(name.constData(), owner, group), 0);
        QCOMPARE(chmod(name.constData(), mode_t(mode)), 0);
    }
    const mode_t umaskBefore = umask(022);
    const ToolRun result
            = drovik(command(exists ? u"protect F --section net"_s : u"set F net/port 1"_s, path));
    umask(umaskBefore);
    QVERIFY2(result.code == 0, qPrintable(result.report));
    struct stat after;
    QCOMPARE(stat(name.constData(), &after), 0);
    QCOMPARE(int(after.st_mode & 07777), mode);
    QCOMPARE(after.st_uid, exists ? owner : geteuid());
    QCOMPARE(after.st_gid, exists ? group : getegid());
}

// Two writers at once, each storing its own keys into a protected section
// (so every run loads and saves the whole file): the lock loses none.
void tst_Tool::concurrentSetsLoseNothing()
{
    const QString path = file(u"section"_s);
    // One writer goes through a symbolic link: the lock is the file's, not the name's.
    QVERIFY(QFile::link(path, path + u"-link.ini"_s));
    const ToolRun run = runProgram(
            u"/bin/sh"_s,
            {u"-c"_s,
             u"w() { i=0; while [ $i -lt 20 ]; do i=$((i+1)); drovik set \"$1\" net/$2$i v$i "
             u"|| exit 1; done; }; w \"$0-link.ini\" a & a=$!; w \"$0\" b; b=$?; wait $a && exit $b"_s,
             path},
            {{u"DROVIK_PASSWORD"_s, QString::fromLatin1(password)}});
    QVERIFY2(run.code == 0, qPrintable(run.report));
    QVERIFY(QFileInfo(path + u"-link.ini"_s).isSymLink());
    QVERIFY(m_files.storedKeys(path).contains(u"net/packed-section-data000"_s));
    const QSettings copy(m_files.copy(path), QSettings::IniFormat);
    for (const char *lane : {"a", "b"}) {
        for (int i = 1; i <= 20; ++i)
            QCOMPARE(Drovik::value(&copy, u"net/%1%2"_s.arg(QLatin1String(lane)).arg(i), QVariant(),
                                   password),
                     QVariant(u"v%1"_s.arg(i)));
    }
}

// Every command the overview lists has a --help, and `drovik help CMD` prints it.
void tst_Tool::versionAndHelp()
{
    const QString cmake = QString::fromUtf8(
            testutil::Files::bytes(QStringLiteral(DROVIK_SOURCE_DIR "/CMakeLists.txt")));
    const QString version = QRegularExpression(QStringLiteral("project\\(Drovik VERSION ([0-9.]+)"))
                                    .match(cmake)
                                    .captured(1);
    QVERIFY(!version.isEmpty());
    QCOMPARE(drovik({u"--version"_s}).out, QStringLiteral("drovik %1\n").arg(version).toUtf8());
    const QString overview = QString::fromUtf8(drovik({u"help"_s}).out);
    auto names = QRegularExpression(u"^  ([a-z-]+) "_s, QRegularExpression::MultilineOption)
                         .globalMatch(overview);
    int count = 0;
    for (; names.hasNext(); ++count) {
        const QString name = names.next().captured(1);
        const ToolRun help = drovik({u"help"_s, name});
        QVERIFY2(help.code == 0 && help.out.startsWith("Usage: drovik " + name.toUtf8() + ' '),
                 qPrintable(help.report));
        QCOMPARE(drovik({name, u"--help"_s}).out, help.out);
    }
    QVERIFY2(count >= 13, qPrintable(overview));
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_tool.moc"
