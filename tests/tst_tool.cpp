#include "testutil.h"

#include <QtCore/QDir>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray password = QByteArrayLiteral("right-pw");

const QByteArray plainIni = QByteArrayLiteral("[log]\nlevel=debug\n\n"
                                              "[net]\nhost=alpha.example\nport=8080\n");

struct Result
{
    int code = -1;
    QByteArray out;
    QString report; // for failure messages
};

// Runs the tool without a terminal, the password in DROVIK_PASSWORD (a null
// password: none given at all).
Result drovik(const QStringList &arguments, const QByteArray &pw = password,
              const QMap<QString, QString> &extraEnvironment = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DROVIK_PASSWORD", "DROVIK_NEW_PASSWORD", "VISUAL", "EDITOR"})
        environment.remove(QLatin1String(name));
    if (!pw.isNull())
        environment.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(pw));
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
        environment.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(DROVIK_TOOL_PATH), arguments);
    Result result;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        result.code = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.report = QStringLiteral("drovik %1 -> %2\n%3%4")
                            .arg(arguments.join(QLatin1Char(' ')))
                            .arg(result.code)
                            .arg(QString::fromUtf8(result.out),
                                 QString::fromUtf8(process.readAllStandardError()));
    return result;
}

// A command line whose word F stands for the file (F/x for a path below it)
// and D for its directory.
QStringList command(const QString &words, const QString &file)
{
    QStringList arguments = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    arguments.replaceInStrings(QRegularExpression(u"^F(?=/|$)"_s), file);
    arguments.replaceInStrings(QRegularExpression(u"^D$"_s), QFileInfo(file).absolutePath());
    return arguments;
}

QVariant text(const char *value)
{
    return QString::fromUtf8(value);
}

QJsonObject json(const Result &result)
{
    return QJsonDocument::fromJson(result.out).object();
}

} // namespace

class tst_Tool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readCommands_data();
    void readCommands();
    void jsonOutput();
    void showReadsBackThroughQSettings();
    void changes_data();
    void changes();
    void passwd();
    void freshPublicKeysEveryRun();
    void edit_data();
    void edit();
    void errors_data();
    void errors();
    void keepsWhatItDoesNotTarget_data();
    void keepsWhatItDoesNotTarget();
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
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("out");

    // clang-format off
    QTest::newRow("get-plain")             << "plain"   << "get F net/port"             << QByteArray("8080\n");
    QTest::newRow("get-protected-param")   << "param"   << "get F net/port"             << QByteArray("8080\n");
    QTest::newRow("get-protected-section") << "section" << "get F net/host"             << QByteArray("alpha.example\n");
    QTest::newRow("get-protected-file")    << "file"    << "get F log/level"            << QByteArray("debug\n");
    QTest::newRow("get-marked")            << "marked"  << "get F log/level"            << QByteArray("debug\n");
    QTest::newRow("get-default")           << "file"    << "get F net/none --default x" << QByteArray("x\n");
    QTest::newRow("list-sections")         << "section" << "list F"                     << QByteArray("log\nnet\n");
    QTest::newRow("list-params-protected") << "param"   << "list F net"                 << QByteArray("host\nport\n");
    QTest::newRow("keys-protected-file")   << "file"    << "keys F"                     << QByteArray("log/level\nnet/host\nnet/port\n");
    QTest::newRow("show-marked")           << "marked"  << "show F"
            << QByteArray("; section marked for protection (still stored in plain)\n"
                          "[log]\nlevel=debug\n\n[net]\nhost=alpha.example\nport=8080\n");
    QTest::newRow("show-protected-param")  << "param"   << "show F"
            << QByteArray("[log]\nlevel=debug\n\n[net]\nhost=alpha.example\n; protected parameter\nport=8080\n");
    // clang-format on
}

// Reading never writes, not even to protect what is marked by hand.
void tst_Tool::readCommands()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(QByteArray, out);
    const QString path = file(fixture);
    const Result result = drovik(command(arguments, path));
    QVERIFY2(result.code == 0, qPrintable(result.report));
    QCOMPARE(result.out, out);
    QCOMPARE(testutil::Files::bytes(path), m_fixtures.value(fixture));
}

void tst_Tool::jsonOutput()
{
    const QString path = m_files.write(m_fixtures.value(u"param"_s)
                                       + "\n[log]\npacked-section-enabled=true\n");
    QCOMPARE(json(drovik(command(u"get F net/port --json"_s, path))),
             QJsonObject({{u"key"_s, u"net/port"_s}, {u"value"_s, u"8080"_s}, {u"found"_s, true}}));
    QCOMPARE(json(drovik(command(u"list F --json"_s, path))).value(u"sections"_s),
             QJsonArray({u"log"_s, u"net"_s}));
    QCOMPARE(json(drovik(command(u"keys F --json"_s, path))).value(u"keys"_s),
             QJsonArray({u"log/level"_s, u"net/host"_s, u"net/port"_s}));
    // status and show: one object per level, in file order.
    for (const char *name : {"status", "show"}) {
        const QJsonObject top = json(drovik({QLatin1String(name), path, u"--json"_s}));
        const QJsonArray sections = top.value(u"sections"_s).toArray();
        QCOMPARE(top.value(u"protection"_s).toString(), u"plain"_s);
        QCOMPARE(sections.size(), 2);
        QCOMPARE(sections.at(0)[u"protection"_s].toString(), u"marked"_s);
        QCOMPARE(sections.at(1)[u"protection"_s].toString(), u"plain"_s);
        const QJsonObject port = sections.at(1)[u"parameters"_s][1].toObject();
        QCOMPARE(port.value(u"protection"_s).toString(), u"protected"_s);
        QCOMPARE(port.contains(u"value"_s), qstrcmp(name, "show") == 0);
    }
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
    const Result result = drovik({u"show"_s, path});
    QVERIFY2(result.code == 0, qPrintable(result.report));
    QSettings shown(m_files.write(result.out), QSettings::IniFormat);
    shown.setIniCodec("UTF-8");
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
    QTest::addColumn<QString>("fixture"); // "" for no file
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("key");    // read back through the library
    QTest::addColumn<QVariant>("value"); // invalid: nothing stored there
    QTest::addColumn<QString>("stored"); // a stored key that must be there
    QTest::addColumn<QString>("gone");   // and one that must not

    const QVariant none;
    const QVariant list = QStringList {u"a"_s, u"b,c"_s};
    // clang-format off
    QTest::newRow("set-creates-file")       << ""        << "set F net/port 1"               << "net/port"  << text("1")                << "net/port"                   << "";
    QTest::newRow("set-int-in-section")     << "section" << "set F net/port --type int 9090" << "net/port"  << QVariant(qlonglong(9090)) << "net/packed-section-data000" << "net/port";
    QTest::newRow("set-list-in-file")       << "file"    << "set F new/l --type list a b,c"  << "new/l"     << list                     << "packed-file/data000"        << "new/l";
    QTest::newRow("set-keeps-param")        << "param"   << "set F net/port --type bool yes" << "net/port"  << QVariant(true)           << "net/packed-param-data/port" << "net/port";
    QTest::newRow("set-protects-marked")    << "marked"  << "set F net/port 1"               << "log/level" << text("debug")            << "log/packed-section-data000" << "log/level";
    QTest::newRow("del-protected-param")    << "param"   << "del F net/port"                 << "net/port"  << none                     << "net/host"                   << "net/packed-param-enabled/port";
    QTest::newRow("del-section")            << "section" << "del-section F net"              << "net/host"  << none                     << "log/level"                  << "net/packed-section-enabled";
    QTest::newRow("protect-key")            << "plain"   << "protect F --key net/port"       << "net/port"  << text("8080")             << "net/packed-param-data/port" << "net/port";
    QTest::newRow("protect-section-and-key") << "plain"  << "protect F --section log --key net/port"
                                                                                              << "log/level" << text("debug")            << "log/packed-section-data000" << "net/port";
    QTest::newRow("protect-file")           << "param"   << "protect F --file"               << "net/port"  << text("8080")             << "packed-file/data000"        << "net/packed-param-data/port";
    QTest::newRow("unprotect-section")      << "section" << "unprotect F --section net"      << "net/port"  << text("8080")             << "net/port"                   << "net/packed-section-enabled";
    QTest::newRow("unprotect-file")         << "file"    << "unprotect F --file"             << "net/host"  << text("alpha.example")    << "net/host"                   << "packed-file/enabled";
    QTest::newRow("regen-protects-marked")  << "marked"  << "regen F"                        << "log/level" << text("debug")            << "log/packed-section-data000" << "log/level";
    // clang-format on
}

void tst_Tool::changes()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, stored);
    QFETCH(QString, gone);
    const QString path = fixture.isEmpty() ? m_files.newPath() : file(fixture);
    const Result result = drovik(command(arguments, path));
    QVERIFY2(result.code == 0, qPrintable(result.report));
    const QVariantMap keys = m_files.storedKeys(path);
    QVERIFY2(keys.contains(stored), qPrintable(keys.keys().join(QLatin1Char(' '))));
    QVERIFY2(gone.isEmpty() || !keys.contains(gone),
             qPrintable(keys.keys().join(QLatin1Char(' '))));
    QCOMPARE(m_files.valueOnDisk(path, key, password), value);
}

void tst_Tool::passwd()
{
    const QString path = file(u"section"_s);
    const QString newFile = m_files.write("new-pw\n"); // the line break is not part of it
    Result result = drovik({u"passwd"_s, path, u"--new-password-file"_s, newFile});
    QVERIFY2(result.code == 0, qPrintable(result.report));
    const QSettings changed(m_files.copy(path), QSettings::IniFormat);
    QVariantMap tree;
    QVERIFY(!Drovik::getFileData(&changed, password, &tree));
    QCOMPARE(m_files.valueOnDisk(path, u"net/host"_s, "new-pw"), text("alpha.example"));

    // The current password from a file, the new one from the environment.
    result = drovik({u"passwd"_s, path, u"--password-file"_s, newFile}, QByteArray(),
                    {{u"DROVIK_NEW_PASSWORD"_s, u"third"_s}});
    QVERIFY2(result.code == 0, qPrintable(result.report));
    QCOMPARE(m_files.valueOnDisk(path, u"net/host"_s, "third"), text("alpha.example"));
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

void tst_Tool::edit_data()
{
    QTest::addColumn<QString>("script"); // the editor; $1 is the decrypted copy
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");

    // clang-format off
    QTest::newRow("typed-protected-value") << "sed -i 's/^port=8080$/port=9090/' \"$1\""              << 0 << "net/port"    << QVariant(qlonglong(9090));
    QTest::newRow("delete-key")            << "sed -i '/^host=/d' \"$1\""                             << 0 << "net/host"    << QVariant();
    QTest::newRow("add-key")               << "sed -i 's/^\\[net\\]$/[net]\\ntimeout=5/' \"$1\""      << 0 << "net/timeout" << text("5");
    QTest::newRow("delete-section")        << "sed -i '/^\\[log\\]$/d; /^level=/d' \"$1\""            << 0 << "log/level"   << QVariant();
    QTest::newRow("no-change")             << "true"                                                  << 0 << "net/port"    << QVariant(qlonglong(8080));
    QTest::newRow("editor-fails")          << "echo 'port=1' >> \"$1\"; exit 3"                       << 2 << "net/port"    << QVariant(qlonglong(8080));
    // clang-format on
}

void tst_Tool::edit()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    const QString path = file(u"param"_s);
    QCOMPARE(drovik(command(u"set F net/port --type int 8080"_s, path)).code, 0);
    const QByteArray before = testutil::Files::bytes(path);
    const QTemporaryDir scratch;
    const QString modes = m_files.newPath();
    const QString editor
            = m_files.write(QStringLiteral("#!/bin/sh\nstat -c %a \"$1\" \"${1%/*}\" > '%1'\n%2\n")
                                    .arg(modes, script)
                                    .toUtf8());
    QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::ExeOwner));

    const Result result = drovik({u"edit"_s, path}, password,
                                 {{u"EDITOR"_s, editor}, {u"TMPDIR"_s, scratch.path()}});
    QVERIFY2(result.code == code, qPrintable(result.report));
    QCOMPARE(testutil::Files::bytes(modes), QByteArray("600\n700\n"));
    QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    if (script == QLatin1String("true") || code != 0)
        QCOMPARE(testutil::Files::bytes(path), before);
    QVERIFY(m_files.storedKeys(path).contains(u"net/packed-param-data/port"_s));
    QCOMPARE(m_files.valueOnDisk(path, key, password), value);
}

void tst_Tool::errors_data()
{
    QTest::addColumn<QString>("fixture"); // "" for no file
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("pw"); // null: no password given at all
    QTest::addColumn<int>("code");

    const QByteArray bad("bad-pw");
    const QByteArray none;
    // CI runs as root, whom permission bits do not stop: unusable paths are a
    // regular file where a directory must be, and a directory where a file must be.
    // clang-format off
    QTest::newRow("get-wrong-password")       << "section" << "get F net/host"           << bad      << 1;
    QTest::newRow("list-wrong-password")      << "file"    << "list F"                   << bad      << 1;
    QTest::newRow("keys-wrong-password")      << "param"   << "keys F"                   << bad      << 1;
    QTest::newRow("status-wrong-password")    << "section" << "status F"                 << bad      << 1;
    QTest::newRow("show-wrong-password")      << "file"    << "show F"                   << bad      << 1;
    QTest::newRow("set-wrong-password")       << "param"   << "set F net/port 1"         << bad      << 1;
    QTest::newRow("set-plain-wrong-password") << "param"   << "set F log/level x"        << bad      << 1;
    QTest::newRow("del-wrong-password")       << "section" << "del F net/host"           << bad      << 1;
    QTest::newRow("protect-wrong-password")   << "param"   << "protect F --key net/host" << bad      << 1;
    QTest::newRow("unprotect-wrong-password") << "file"    << "unprotect F --file"       << bad      << 1;
    QTest::newRow("passwd-wrong-password")    << "section" << "passwd F"                 << bad      << 1;
    QTest::newRow("regen-wrong-password")     << "param"   << "regen F"                  << bad      << 1;
    QTest::newRow("edit-wrong-password")      << "file"    << "edit F"                   << bad      << 1;
    QTest::newRow("get-absent-key")           << "plain"   << "get F net/none"           << password << 1;
    QTest::newRow("list-absent-section")      << "plain"   << "list F none"              << password << 1;
    QTest::newRow("del-one-absent-key")       << "param"   << "del F net/host net/none"  << password << 1;
    QTest::newRow("protect-absent-section")   << "plain"   << "protect F --section none" << password << 1;
    for (const char *name : {"get F a/b", "list F", "keys F", "status F", "show F", "del F a/b",
                             "del-section F a", "protect F --file", "passwd F", "regen F", "edit F"})
        QTest::newRow(qPrintable(u"missing-file-%1"_s.arg(QString::fromLatin1(name).section(QLatin1Char(' '), 0, 0))))
                                              << ""        << name                       << password << 2;
    // Protected data cannot hold a name with U+0000: refused, not misreported.
    QTest::newRow("protect-section-nul-name") << "nul-name" << "protect F --section s" << password << 2;
    QTest::newRow("protect-file-nul-name")    << "nul-name" << "protect F --file"      << password << 2;
    QTest::newRow("set-below-a-regular-file") << "plain"   << "set F/x.ini a/b c"        << password << 2;
    QTest::newRow("get-on-a-directory")       << "plain"   << "get D a/b"                << password << 2;
    QTest::newRow("set-bad-type")             << "plain"   << "set F a/b --type float 1" << password << 2;
    QTest::newRow("set-bad-int")              << "plain"   << "set F a/b --type int 12x" << password << 2;
    QTest::newRow("set-key-without-section")  << "plain"   << "set F port 1"             << password << 2;
    QTest::newRow("no-password-given")        << "section" << "get F net/host"           << none     << 2;
    QTest::newRow("two-password-options")     << "plain"   << "get F a/b --no-password --password-file F" << password << 2;
    QTest::newRow("protect-without-target")   << "plain"   << "protect F"                << password << 2;
    QTest::newRow("unknown-command")          << "plain"   << "frob F"                   << password << 2;
    // clang-format on
}

// Every failure leaves the file byte for byte as it was, and creates none.
void tst_Tool::errors()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(QByteArray, pw);
    QFETCH(int, code);
    const QString path = fixture.isEmpty() ? m_files.newPath() : file(fixture);
    const Result result = drovik(command(arguments, path), pw);
    QVERIFY2(result.code == code, qPrintable(result.report));
    QVERIFY2(result.out.isEmpty(), qPrintable(result.report));
    if (fixture.isEmpty())
        QVERIFY(!QFile::exists(path));
    else
        QCOMPARE(testutil::Files::bytes(path), m_fixtures.value(fixture));
    if (code == 1 && pw == "bad-pw")
        QVERIFY2(result.report.contains(QLatin1String("nothing was changed")),
                 qPrintable(result.report));
}

void tst_Tool::keepsWhatItDoesNotTarget_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("key");   // read back through a fresh QSettings
    QTest::addColumn<QString>("value"); // when the exit status is 0

    const QByteArray general("[General]\nversion=3\n[db]\npass=x\n");
    const QByteArray protectedFile = m_fixtures.value(u"file"_s) + "\n[General]\nv=1\n";
    // clang-format off
    QTest::newRow("general-protect-section")  << general                         << "protect F --section db" << 0 << "version" << "3";
    QTest::newRow("bare-key-del")             << QByteArray("top=1\n[a]\nk=v\n[b]\nk=w\n") << "del F a/k" << 0 << "top" << "1";
    QTest::newRow("protected-file-set")       << protectedFile                   << "set F net/port 2"       << 0 << "v"       << "1";
    QTest::newRow("protect-file-refuses")     << general                         << "protect F --file"       << 2 << ""        << "";
    QTest::newRow("comment-line-set")         << QByteArray("# note\n[a]\nk=v\n") << "set F a/k w"           << 0 << "a/k"     << "w";
    QTest::newRow("byte-order-mark-set")      << QByteArray("\xef\xbb\xbf[a]\nk=v\n") << "set F a/k w"  << 0 << "a/k"     << "w";
    QTest::newRow("line-without-equals-set")  << QByteArray("[a]\nnote\nk=v\n")  << "set F a/k w"            << 2 << ""        << "";
    QTest::newRow("binary-line-regen")        << QByteArray("[a]\nk=v\n\x01\xfe\xff\n") << "regen F"         << 2 << ""        << "";
    // clang-format on
}

// Exit 0 and every key the command did not target still there, or another
// status and the file byte for byte as it was.
void tst_Tool::keepsWhatItDoesNotTarget()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, arguments);
    QFETCH(int, code);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString path = m_files.write(content);
    const Result result = drovik(command(arguments, path));
    QVERIFY2(result.code == code, qPrintable(result.report));
    if (code != 0)
        QCOMPARE(testutil::Files::bytes(path), content);
    else
        QCOMPARE(m_files.storedKeys(path).value(key).toString(), value);
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
    const Result result = drovik(command(u"set F net/port 1"_s, path), password,
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
    const Result result
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
    const QString link = path + u"-link.ini"_s;
    QVERIFY(QFile::link(path, link));
    const QString script = QStringLiteral("i=0; while [ $i -lt 20 ]; do i=$((i+1)); \"$0\" set "
                                          "\"$1\" net/$2$i v$i || exit 1; done");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(password));
    QProcess writers[2];
    const QString lanes[2] = {u"a"_s, u"b"_s};
    for (int lane = 0; lane < 2; ++lane) {
        writers[lane].setProcessEnvironment(environment);
        writers[lane].start(u"/bin/sh"_s,
                            {u"-c"_s, script, QStringLiteral(DROVIK_TOOL_PATH), lane ? path : link,
                             lanes[lane]});
    }
    for (QProcess &writer : writers) {
        QVERIFY(writer.waitForFinished(120000));
        QVERIFY2(writer.exitCode() == 0, writer.readAllStandardError().constData());
    }
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(m_files.storedKeys(path).contains(u"net/packed-section-data000"_s));
    const QSettings copy(m_files.copy(path), QSettings::IniFormat);
    for (const QString &lane : lanes) {
        for (int i = 1; i <= 20; ++i)
            QCOMPARE(Drovik::value(&copy, u"net/%1%2"_s.arg(lane).arg(i), QVariant(), password),
                     QVariant(u"v%1"_s.arg(i)));
    }
}

void tst_Tool::versionAndHelp()
{
    const QString cmake = QString::fromUtf8(
            testutil::Files::bytes(QStringLiteral(DROVIK_SOURCE_DIR "/CMakeLists.txt")));
    const QString version = QRegularExpression(QStringLiteral("project\\(Drovik VERSION ([0-9.]+)"))
                                    .match(cmake)
                                    .captured(1);
    QVERIFY(!version.isEmpty());
    QCOMPARE(drovik({u"--version"_s}).out, QStringLiteral("drovik %1\n").arg(version).toUtf8());
    for (const char *name : {"get", "set", "del", "del-section", "list", "keys", "status", "show",
                             "edit", "protect", "unprotect", "passwd", "regen"}) {
        const Result result = drovik({QLatin1String(name), u"--help"_s});
        QVERIFY2(result.code == 0
                         && result.out.startsWith("Usage: drovik " + QByteArray(name) + ' '),
                 qPrintable(result.report));
    }
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_tool.moc"
