#include "tool_runner.h"

#include <QtCore/QJsonDocument>
#include <QtTest/QtTest>

#include <sys/stat.h>
#include <unistd.h>

class tst_Tool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_files.isValid()); }
    void commands_data();
    void commands();
    void showReadsBackThroughQSettings();
    void freshKeysShowAsChanged();
    void staleLocks_data();
    void staleLocks();
    void ownerAndMode_data();
    void ownerAndMode();
    void concurrentSetsLoseNothing();
    void versionAndHelp();

private:
    // A new file holding a copy of the named fixture; "" no file, "link" a
    // symbolic link in the file's place that points to a file that does not exist.
    QString file(const QString &fixture)
    {
        const QString path = m_files.newPath();
        if (fixture == QLatin1String("link"))
            QFile::link(path + u".missing"_s, path);
        return fixture.isEmpty() || fixture == QLatin1String("link")
                ? path
                : m_files.copy(toolFixture(fixture));
    }

    testutil::Files m_files;
};

void tst_Tool::commands_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("pw"); // null: no password given at all
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out"); // JSON compact, the file's path as F
    QTest::addColumn<QString>("err");    // in what it printed on stderr; "-": nothing
    // Empty: the file is as it was. Else what the change left, as words: "K=V" a
    // value the library loads (see loadedText; a key without a section: as
    // stored), "+K" / "-K" a key that is / is not stored.
    QTest::addColumn<QString>("after");

    const QByteArray bad("bad-pw"), none, pw = toolPassword;
    // clang-format off
    QTest::newRow("get-protected-section") << "section" << "get F net/host"             << pw << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("get-protected-file")    << "file"    << "get F log/level"            << pw << 0 << QByteArray("debug\n") << "" << "";
    QTest::newRow("get-default")           << "file"    << "get F net/none --default x" << pw << 0 << QByteArray("x\n") << "" << "";
    QTest::newRow("list-sections")         << "section" << "list F"                     << pw << 0 << QByteArray("log\nnet\n") << "" << "";
    QTest::newRow("list-params-protected") << "param"   << "list F net"                 << pw << 0 << QByteArray("host\nport\n") << "" << "";
    QTest::newRow("keys-protected-file")   << "file"    << "keys F"                     << pw << 0 << QByteArray("log/level\nnet/host\nnet/port\n") << "" << "";
    // Reading never writes, not even to protect what is marked by hand.
    QTest::newRow("show-marked")           << "marked"  << "show F"                     << pw << 0
            << QByteArray("; section marked for protection (still stored in plain)\n"
                          "[log]\nlevel=debug\n\n[net]\nhost=alpha.example\nport=8080\n") << "" << "";
    QTest::newRow("show-protected-param")  << "param"   << "show F"                     << pw << 0
            << QByteArray("[log]\nlevel=debug\n\n[net]\nhost=alpha.example\n; protected parameter\nport=8080\n") << "" << "";
    QTest::newRow("get-json")              << "param"   << "get F net/port --json"      << pw << 0 << QByteArray(R"({"found":true,"key":"net/port","value":"8080"})") << "" << "";
    QTest::newRow("get-json-absent")       << "param"   << "get F net/none --json"      << pw << 1 << QByteArray(R"({"found":false,"key":"net/none"})") << "" << "";
    // status never asks for a password: without one, what it protects is hidden.
    QTest::newRow("status-param")          << "param"   << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"plain"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain"},{"hidden":true,"name":"port","protection":"protected"}],"protection":"plain"}],"ungrouped":[]})") << "" << "";
    QTest::newRow("status-section")        << "section" << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"plain"},)"
                          R"({"hidden":true,"name":"net","parameters":[],"protection":"protected"}],"ungrouped":[]})") << "" << "";
    QTest::newRow("status-file")           << "file"    << "status F --json"            << none << 0 << QByteArray(R"({"file":"F","hidden":true,"protection":"protected","sections":[],"ungrouped":[]})") << "" << "";
    QTest::newRow("status-marked")         << "marked"  << "status F --json"            << none << 0
            << QByteArray(R"({"file":"F","protection":"plain","sections":[{"name":"log","parameters":[{"name":"level","protection":"plain"}],"protection":"marked"},)"
                          R"({"name":"net","parameters":[{"name":"host","protection":"plain"},{"name":"port","protection":"plain"}],"protection":"plain"}],"ungrouped":[]})") << "" << "";
    // Failures print nothing on stdout, leave the file as it was and create none.
    for (const char *name : {"get F net/host", "list F", "keys F", "status F", "show F", "set F net/port 1",
                             "set F log/level x", "del F net/host", "protect F --key net/host",
                             "unprotect F --file", "passwd F", "regen F", "edit F"})
        QTest::addRow("wrong-password: %s", name) << "section" << name << bad << 1 << QByteArray() << "nothing was changed" << "";
    QTest::newRow("get-absent-key")           << "plain"   << "get F net/none"           << pw << 1 << QByteArray() << "" << "";
    QTest::newRow("list-absent-section")      << "plain"   << "list F none"              << pw << 1 << QByteArray() << "" << "";
    QTest::newRow("del-one-absent-key")       << "param"   << "del F net/host net/none"  << pw << 1 << QByteArray() << "" << "";
    QTest::newRow("protect-absent-section")   << "plain"   << "protect F --section none" << pw << 1 << QByteArray() << "" << "";
    for (const char *name : {"get F a/b", "list F", "keys F", "status F", "show F", "del F a/b",
                             "del-section F a", "protect F --file", "passwd F", "regen F", "edit F"})
        QTest::addRow("missing-file: %s", name) << "" << name << pw << 2 << QByteArray() << "" << "";
    // Protected data cannot hold a name with U+0000: refused, not misreported.
    QTest::newRow("protect-section-nul-name") << "nul-name" << "protect F --section s"   << pw << 2 << QByteArray() << "U+0000" << "";
    QTest::newRow("set-through-dangling-link") << "link"   << "set F a/b c"              << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("set-below-a-regular-file") << ""        << "set /dev/null/x.ini a/b c" << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("get-on-a-directory")       << ""        << "get / a/b"                << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("set-bad-type")             << "plain"   << "set F a/b --type float 1" << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("set-bad-int")              << "plain"   << "set F a/b --type int 12x" << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("set-key-without-section")  << "plain"   << "set F port 1"             << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("no-password-given")        << "section" << "get F net/host"           << none << 2 << QByteArray() << "" << "";
    QTest::newRow("show-json-needs-password") << "section" << "show F --json"            << none << 2 << QByteArray() << "" << "";
    QTest::newRow("protect-without-target")   << "plain"   << "protect F"                << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("unknown-command")          << "plain"   << "frob F"                   << pw << 2 << QByteArray() << "" << "";
    // Lines QSettings would lose stop a write; a byte order mark is no such line.
    QTest::newRow("line-without-equals-set")  << "no-equals"   << "set F a/k w"          << pw << 2 << QByteArray() << "note" << "";
    QTest::newRow("binary-line-regen")        << "binary-line" << "regen F"              << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("byte-order-mark-set")      << "bom"         << "set F a/k w"          << pw << 0 << QByteArray() << "" << "a/k=w";
    QTest::newRow("set-creates-file")         << ""        << "set F net/port 1"          << pw << 0 << QByteArray() << "" << "net/port=1 +net/port";
    QTest::newRow("set-int-in-section")       << "section" << "set F net/port --type int 9090" << pw << 0 << QByteArray() << "" << "net/port=qlonglong:9090 +net/packed-section-data000 -net/port";
    QTest::newRow("set-list-in-file")         << "file"    << "set F new/l --type list a b,c"  << pw << 0 << QByteArray() << "" << "new/l=QStringList:a|b,c log/level=debug +packed-file/data000 -new/l";
    QTest::newRow("set-keeps-param")          << "param"   << "set F net/port --type bool yes" << pw << 0 << QByteArray() << "" << "net/port=bool:true +net/packed-param-data/port -net/port";
    QTest::newRow("set-protects-marked")      << "marked"  << "set F net/port 1"          << pw << 0 << QByteArray() << "" << "log/level=debug net/port=1 +log/packed-section-data000 -log/level";
    QTest::newRow("del-protected-param")      << "param"   << "del F net/port"            << pw << 0 << QByteArray() << "" << "net/host=alpha.example -net/packed-param-enabled/port -net/packed-param-data/port";
    QTest::newRow("del-protected-section")    << "section" << "del-section F net"         << pw << 0 << QByteArray() << "" << "log/level=debug -net/packed-section-enabled -net/packed-section-data000";
    QTest::newRow("protect-section-and-key")  << "plain"   << "protect F --section log --key net/port" << pw << 0 << QByteArray() << "" << "log/level=debug net/port=8080 +log/packed-section-data000 +net/packed-param-data/port -net/port";
    // Keys outside any section: kept beside a protected file, with a note, or refused.
    QTest::newRow("protected-file-set")       << "file-general" << "set F net/port 2"     << pw << 0 << QByteArray() << "stay in plain" << "v=1 net/port=2 +packed-file/data000 -net/port";
    QTest::newRow("quiet-silences-notes")     << "file-general" << "set F net/port 2 -q"  << pw << 0 << QByteArray() << "-" << "v=1 net/port=2";
    QTest::newRow("quiet-keeps-errors")       << "file-general" << "get F a/none -q"      << pw << 1 << QByteArray() << "no value" << "";
    QTest::newRow("protect-file-refuses")     << "general" << "protect F --file"          << pw << 2 << QByteArray() << "version" << "";
    // clang-format on
}

// A command that fails, or only reads, leaves the file byte for byte as it
// was; one that works leaves what it was asked to, and no more.
void tst_Tool::commands()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(QByteArray, pw);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);
    QFETCH(QString, after);
    const QString path = file(fixture);
    const ToolRun result = runToolOn(arguments, path, pw);
    QVERIFY2(result.code == code, qPrintable(result.report));
    const QJsonDocument document = QJsonDocument::fromJson(result.out);
    const QByteArray shown
            = document.isObject() ? document.toJson(QJsonDocument::Compact) : result.out;
    QCOMPARE(QString::fromUtf8(shown).replace(path, u"F"_s).toUtf8(), out);
    QVERIFY2(err == QLatin1String("-") ? result.err.isEmpty() : result.err.contains(err.toUtf8()),
             qPrintable(result.report));
    if (after.isEmpty()) {
        QCOMPARE(testutil::Files::bytes(path), testutil::Files::bytes(toolFixture(fixture)));
        QCOMPARE(QFile::exists(path), QFile::exists(toolFixture(fixture)));
        return;
    }
    const QVariantMap stored = m_files.storedKeys(path);
    const QStringList loaded = loadedText(m_files, path, toolPassword);
    for (const QString &word : after.split(QLatin1Char(' '))) {
        const QString key = word.mid(1);
        if (word.startsWith(QLatin1Char('+')) || word.startsWith(QLatin1Char('-')))
            QVERIFY2(stored.contains(key) == word.startsWith(QLatin1Char('+')), qPrintable(word));
        else if (word.section(QLatin1Char('='), 0, 0).contains(QLatin1Char('/')))
            QVERIFY2(loaded.contains(word), qPrintable(loaded.join(QLatin1Char(' '))));
        else
            QCOMPARE(stored.value(word.section(QLatin1Char('='), 0, 0)).toString(),
                     word.section(QLatin1Char('='), 1));
    }
}

// Names and values that INI text must escape, protected, come back from the
// printed text as QSettings reads them from the plain file.
void tst_Tool::showReadsBackThroughQSettings()
{
    const ToolRun result = runToolOn(u"show F"_s, file(u"escapes-protected"_s));
    QVERIFY2(result.code == 0, qPrintable(result.report));
    QSettings shown(m_files.write(result.out), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    shown.setIniCodec("UTF-8");
#endif
    const QSettings plain(file(u"escapes"_s), QSettings::IniFormat);
    QCOMPARE(shown.allKeys(), plain.allKeys());
    for (const QString &key : plain.allKeys())
        QCOMPARE(shown.value(key), plain.value(key));
}

// Every run draws a fresh public key (unseeded, every process would draw the
// same); show without a password and a terminal (git's textconv) prints what
// is plain and still tells two protected values apart.
void tst_Tool::freshKeysShowAsChanged()
{
    QStringList keys;
    QByteArrayList shown;
    for (int run = 0; run < 2; ++run) {
        const QString path = file(u"plain"_s);
        QCOMPARE(runToolOn(u"protect F --key net/port"_s, path).code, 0);
        keys << m_files.storedKeys(path).value(u"net/packed-param-public/port"_s).toString();
        const ToolRun show = runToolOn(u"show F"_s, path, QByteArray());
        QVERIFY2(show.code == 0 && show.out.contains("host=alpha.example\n")
                         && !show.out.contains("8080"),
                 qPrintable(show.report));
        shown << show.out;
    }
    QCOMPARE(keys.at(0).size(), 6);
    QVERIFY2(keys.at(0) != keys.at(1), qPrintable(keys.join(QLatin1Char(' '))));
    QVERIFY2(shown.at(0) != shown.at(1), shown.at(0).constData());
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
    const QByteArray far("4242\ndrovik\nfar.example\n");
    // clang-format off
    QTest::newRow("empty")             << QByteArray()         << 60    << 0;
    QTest::newRow("garbled")           << QByteArray("\xff\xfe") << 60  << 0;
    QTest::newRow("dead-process")      << dead                 << 0     << 0;
    QTest::newRow("other-host-old")    << far                  << 86400 << 0;
    QTest::newRow("other-host-recent") << far                  << 0     << 2;
    QTest::newRow("live-process")      << live                 << 86400 << 2;
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
    const ToolRun result = runToolOn(u"set F net/port 1"_s, path, toolPassword,
                                     {{u"DROVIK_LOCK_TIMEOUT"_s, u"1"_s}});
    QVERIFY2(result.code == code, qPrintable(result.report));
    QVERIFY2(code == 0 || result.report.contains(lockFile.fileName()), qPrintable(result.report));
    QCOMPARE(testutil::Files::bytes(path) == testutil::Files::bytes(toolFixture(u"plain"_s)),
             code != 0);
}

void tst_Tool::ownerAndMode_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("mode");

    QTest::newRow("rewrite") << "plain"
                             << "protect F --section net" << 0640;
    QTest::newRow("create-under-umask-022") << ""
                                            << "set F net/port 1" << 0600;
}

// As root (CI) the file belongs to nobody: a rewrite by root must not take it
// from the application that reads it. A new file may hold a secret in plain.
void tst_Tool::ownerAndMode()
{
    QFETCH(QString, fixture);
    QFETCH(QString, arguments);
    QFETCH(int, mode);
    const bool exists = !fixture.isEmpty();
    const QString path = file(fixture);
    const QByteArray name = QFile::encodeName(path);
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    if (exists) {
        QCOMPARE(chown(name.constData(), owner, group), 0);
        QCOMPARE(chmod(name.constData(), mode_t(mode)), 0);
    }
    const mode_t umaskBefore = umask(022);
    const ToolRun result = runToolOn(arguments, path);
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
            {{u"DROVIK_PASSWORD"_s, QString::fromLatin1(toolPassword)}});
    QVERIFY2(run.code == 0, qPrintable(run.report));
    QVERIFY(QFileInfo(path + u"-link.ini"_s).isSymLink());
    QVERIFY(m_files.storedKeys(path).contains(u"net/packed-section-data000"_s));
    const QStringList loaded = loadedText(m_files, path, toolPassword);
    for (const char *lane : {"a", "b"}) {
        for (int i = 1; i <= 20; ++i)
            QVERIFY2(loaded.contains(u"net/%1%2=v%2"_s.arg(QLatin1String(lane)).arg(i)),
                     qPrintable(loaded.join(QLatin1Char(' '))));
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
    QCOMPARE(runToolOn(u"--version"_s, QString()).out, u"drovik %1\n"_s.arg(version).toUtf8());
    const QString overview = QString::fromUtf8(runToolOn(u"help"_s, QString()).out);
    auto names = QRegularExpression(u"^  ([a-z-]+) "_s, QRegularExpression::MultilineOption)
                         .globalMatch(overview);
    int count = 0;
    for (; names.hasNext(); ++count) {
        const QString name = names.next().captured(1);
        const ToolRun help = runToolOn(u"help "_s + name, QString());
        QVERIFY2(help.code == 0 && help.out.startsWith("Usage: drovik " + name.toUtf8() + ' '),
                 qPrintable(help.report));
        QCOMPARE(runToolOn(name + u" --help"_s, QString()).out, help.out);
    }
    QVERIFY2(count >= 13, qPrintable(overview));
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_tool.moc"
