#include "tool_runner.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QStandardPaths>
#include <QtTest/QtTest>

// exec, apply and shell completion: the commands of daily use, run as a user
// runs them, checked against what the environment, a fresh QSettings or the
// shell itself shows.

namespace {

const QByteArray password = QByteArrayLiteral("day-pw");
const QString tool = QStringLiteral(DROVIK_TOOL_PATH);
const QString completions = QStringLiteral(DROVIK_SOURCE_DIR "/tools/drovik/completions/");

// A key outside any section: apply must keep it, and exec never passes it.
const QByteArray ungrouped = QByteArrayLiteral("[General]\nversion=3\n");
const QByteArray sample = QByteArrayLiteral("[net]\nhost=alpha\nport=8080\nlist=a, b, c\n"
                                            "[db]\nuser=admin\npass=s3cret\n"
                                            "[my-app.x]\nkey.one=1\n");

// The tool on words (F: the file), the password (unless null) in DROVIK_PASSWORD.
ToolRun drovik(const QString &words, const QString &file, const QByteArray &pw = password,
               const QByteArray &input = QByteArray(), QMap<QString, QString> extra = {})
{
    if (!pw.isNull())
        extra.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(pw));
    return runTool(wordsFor(words, file), extra, input);
}

// Every file below dir with its bytes: what "nothing written" compares.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(file, testutil::Files::bytes(file));
    }
    return files;
}

// A file of sample text, then changed by the tool as setup says (";" between commands).
QString prepare(testutil::Files *files, const QByteArray &text, const QString &setup)
{
    const QString path = files->write(text);
    for (const QString &words : setup.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const ToolRun done = drovik(words, path);
        if (done.code != 0)
            qFatal("setup failed: %s", qPrintable(done.report));
    }
    return path;
}

// Every value the library loads from a copy of path, with the name of its
// type: a double that came back as an integer differs here.
QMap<QString, QString> typedValues(testutil::Files *files, const QString &path)
{
    bool opened = false;
    const QVariantMap loaded = loadedValues(*files, path, password, &opened);
    QMap<QString, QString> values {{u"load"_s, opened ? u"done"_s : u"failed"_s}};
    for (auto it = loaded.cbegin(); it != loaded.cend(); ++it)
        values.insert(it.key(),
                      QLatin1String(it.value().typeName()) + u" "_s
                              + (it.value().userType() == QMetaType::QStringList
                                         ? it.value().toStringList().join(u"|"_s)
                                         : it.value().toString()));
    return values;
}

// Drives a real interactive zsh through a pseudo-terminal: types line and a
// tab, and prints every match its completion system added, one per line.
const char *const zshDriver = R"(
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1=''; fpath=($0 \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'compadd() { local -a f; builtin compadd -O f "$@"; print -rl -- ${f/#/${(U):-hit}:} >&2; builtin compadd "$@" }'
zpty -w -n z "$1"$'\t'
sleep 2
zpty -w z $'\C-u'"echo ${(U):-done}"
out=; integer n=0
while (( n++ < 300 )); do
  if zpty -r -t z line; then out+=$line; [[ $out == *DONE*DONE* ]] && break; else sleep 0.1; fi
done
print -r -- ${out//$'\r'} | grep -ao 'HIT:[^[:space:]]*' | cut -c5-
zpty -d z
)";

// The words a shell offers on line, sorted: each shell sources its script and
// completes line as it would at a prompt.
QStringList candidates(const QString &shell, const QString &line)
{
    const QMap<QString, QStringList> invocations {
            {u"bash"_s,
             {u"-c"_s,
              u"source \"$0\"; COMP_WORDS=($1); [[ $1 == *' ' ]] && COMP_WORDS+=(''); "
              u"COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _drovik; printf '%s\\n' \"${COMPREPLY[@]}\""_s,
              completions + u"drovik.bash"_s}},
            {u"fish"_s,
             {u"-N"_s, u"-c"_s, u"source $argv[1]; complete -C $argv[2]"_s,
              completions + u"drovik.fish"_s}},
            {u"zsh"_s, {u"-f"_s, u"-c"_s, QString::fromLatin1(zshDriver), completions}}};
    const ToolRun done = runProgram(shell, invocations.value(shell) + QStringList(line));
    QStringList names;
    for (const QString &entry : QString::fromUtf8(done.out).split(QLatin1Char('\n')))
        names.append(entry.section(QLatin1Char('\t'), 0, 0)); // fish adds a description
    names.removeAll(QString());
    names.removeDuplicates();
    names.sort();
    return names;
}

} // namespace

class tst_ToolDaily : public QObject
{
    Q_OBJECT

private slots:
    void exec_data();
    void exec();
    void completion_data();
    void completion();
    void applyRoundTrip_data();
    void applyRoundTrip();
    void apply_data();
    void apply();
};

void tst_ToolDaily::exec_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("arguments"); // then "-- COMMAND..." below
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QByteArray>("pw");
    QTest::addColumn<int>("status");          // as the calling shell sees it
    QTest::addColumn<QStringList>("present"); // NAME=VALUE lines of the child's environment
    QTest::addColumn<QString>("absent");      // a pattern no variable of the child matches

    const QStringList env {u"env"_s};
    const QByteArray none; // no password given at all
    // clang-format off
    QTest::newRow("naming-all-sections")  << "" << "exec F" << env << none << 0 << QStringList {u"NET_HOST=alpha"_s, u"DB_PASS=s3cret"_s, u"MY_APP_X_KEY_ONE=1"_s} << "^VERSION=";
    QTest::newRow("list-joined-by-comma") << "" << "exec F net" << env << none << 0 << QStringList {u"NET_LIST=a,b,c"_s} << "^DB_";
    QTest::newRow("prefix")               << "" << "exec --prefix APP_ F my-app.x" << env << none << 0 << QStringList {u"APP_MY_APP_X_KEY_ONE=1"_s} << "^MY_APP";
    QTest::newRow("protected-with-pw")    << "protect F --section db; protect F --key net/port" << "exec F" << env << password << 0 << QStringList {u"DB_USER=admin"_s, u"NET_PORT=8080"_s} << "^DROVIK_";
    QTest::newRow("plain-part-needs-none") << "protect F --section db" << "exec F my-app.x" << env << none << 0 << QStringList {u"MY_APP_X_KEY_ONE=1"_s} << "^DB_";
    QTest::newRow("protected-needs-pw")   << "protect F --section db" << "exec F db" << env << none << 2 << QStringList() << "^DB_";
    QTest::newRow("wrong-password")       << "protect F --section net" << "exec F net" << env << QByteArray("nope") << 1 << QStringList() << "^NET_";
    QTest::newRow("no-such-section")      << "" << "exec F nets" << env << none << 1 << QStringList() << "^NET_";
    QTest::newRow("command-status")       << "" << "exec F net" << QStringList {u"sh"_s, u"-c"_s, u"exit 7"_s} << none << 7 << QStringList() << "";
    QTest::newRow("command-signal")       << "" << "exec F net" << QStringList {u"sh"_s, u"-c"_s, u"kill -TERM $$"_s} << none << 128 + 15 << QStringList() << "";
    QTest::newRow("command-not-found")    << "" << "exec F net" << QStringList {u"/nonexistent/program"_s} << none << 127 << QStringList() << "";
    QTest::newRow("command-not-runnable") << "" << "exec F net" << QStringList {u"/"_s} << none << 126 << QStringList() << "";
    QTest::newRow("no-command")           << "" << "exec F net" << QStringList() << none << 2 << QStringList() << "";
    QTest::newRow("collision")            << "set F a-b/c 1; set F a_b/c 2" << "exec F a-b a_b" << env << none << 2 << QStringList() << "^A_B_C=";
    QTest::newRow("loader-name-refused")  << "set F ld/preload x" << "exec F ld" << env << none << 2 << QStringList() << "^LD_PRELOAD=";
    // clang-format on
}

void tst_ToolDaily::exec()
{
    QFETCH(QString, setup);
    QFETCH(QString, arguments);
    QFETCH(QStringList, command);
    QFETCH(QByteArray, pw);
    QFETCH(int, status);
    QFETCH(QStringList, present);
    QFETCH(QString, absent);

    testutil::Files files;
    const QString path = prepare(&files, ungrouped + sample, setup);
    const QMap<QString, QByteArray> before = snapshot(QFileInfo(path).absolutePath());
    QStringList words = wordsFor(arguments, path);
    if (!command.isEmpty())
        words << u"--"_s << command;
    QMap<QString, QString> extra {{u"DROVIK_ANYTHING"_s, u"x"_s}};
    if (!pw.isNull())
        extra.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(pw));
    // Through a shell, which reports a death by signal as 128 + N.
    const ToolRun done = runProgram(
            u"sh"_s, QStringList {u"-c"_s, u"\"$@\"; echo \"status=$?\""_s, u"sh"_s, tool} + words,
            extra);
    QStringList lines = QString::fromUtf8(done.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty(), qPrintable(done.report));
    QCOMPARE(lines.takeLast(), QStringLiteral("status=%1").arg(status));
    for (const QString &entry : present)
        QVERIFY2(lines.contains(entry), qPrintable(entry + u" missing in "_s + done.report));
    // No DROVIK_ variable, from the caller or the file, ever reaches the program.
    QVERIFY2(lines.filter(QRegularExpression(u"^DROVIK_"_s)).isEmpty(), qPrintable(done.report));
    if (!absent.isEmpty())
        QVERIFY2(lines.filter(QRegularExpression(absent)).isEmpty(), qPrintable(done.report));
    QCOMPARE(snapshot(QFileInfo(path).absolutePath()), before);
}

void tst_ToolDaily::completion_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("line"); // F: the file; the last word is being completed
    QTest::addColumn<QStringList>("expected");

    const QStringList sections {u"db"_s, u"my-app.x"_s, u"net"_s};
    // Protected parameters show their names; a protected section hides its own.
    const QStringList netKeys {u"net/host"_s, u"net/list"_s, u"net/port"_s};
    const QString layered = u"protect F --section db; protect F --key net/port"_s;
    // clang-format off
    QTest::newRow("bash-commands")      << "bash" << ""        << "drovik ex"              << QStringList {u"exec"_s};
    QTest::newRow("bash-options")       << "bash" << ""        << "drovik get F --d"       << QStringList {u"--default"_s};
    QTest::newRow("bash-type-values")   << "bash" << ""        << "drovik set --type "     << QStringList {u"bool"_s, u"double"_s, u"int"_s, u"list"_s, u"string"_s};
    QTest::newRow("bash-sections")      << "bash" << layered   << "drovik list F "         << sections;
    QTest::newRow("bash-section-value") << "bash" << layered   << "drovik protect F --section m" << QStringList {u"my-app.x"_s};
    QTest::newRow("bash-keys")          << "bash" << layered   << "drovik get F n"         << netKeys;
    QTest::newRow("bash-exec-sections") << "bash" << layered   << "drovik exec --prefix X_ F d" << QStringList {u"db"_s};
    QTest::newRow("bash-file-hidden")   << "bash" << "protect F --file" << "drovik list F " << QStringList();
    QTest::newRow("zsh-sections")       << "zsh"  << layered   << "drovik list F "         << sections;
    QTest::newRow("zsh-keys")           << "zsh"  << layered   << "drovik del F net/"      << netKeys;
    QTest::newRow("fish-sections")      << "fish" << layered   << "drovik list F "         << sections;
    QTest::newRow("fish-keys")          << "fish" << layered   << "drovik get F n"         << netKeys;
    // clang-format on
}

void tst_ToolDaily::completion()
{
    QFETCH(QString, shell);
    QFETCH(QString, setup);
    QFETCH(QString, line);
    QFETCH(QStringList, expected);

    // CI installs every shell this runs; a missing one is a failure, not a skip.
    QVERIFY2(!QStandardPaths::findExecutable(shell).isEmpty(),
             qPrintable(shell + u" is needed to test its completion script"_s));
    testutil::Files files;
    const QString path = prepare(&files, sample, setup);
    const QMap<QString, QByteArray> before = snapshot(QFileInfo(path).absolutePath());
    QString typed = line;
    typed.replace(QRegularExpression(u"(?<= )F(?= |$)"_s), path);
    QCOMPARE(candidates(shell, typed), expected);
    // No password was given: completion read what is plain, asked nothing, wrote nothing.
    QCOMPARE(snapshot(QFileInfo(path).absolutePath()), before);
}

void tst_ToolDaily::applyRoundTrip_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("setup");

    // Typed values are kept only inside protection, so they are set after it.
    const QString typed = u"set F t/seed x; protect F --section t; set F t/d --type double 2; "
                          u"set F t/b --type bool yes; set F t/i --type int -- -5; "
                          u"set F t/l --type list x y; set F t/one --type list z"_s;
    // clang-format off
    QTest::newRow("plain-and-ungrouped") << ungrouped + sample << "";
    QTest::newRow("parameters")          << ungrouped + sample << "protect F --key net/port; protect F --key db/pass";
    QTest::newRow("sections")            << sample  << "protect F --section db; protect F --section net";
    QTest::newRow("file")                << sample << "protect F --file";
    QTest::newRow("typed-values")        << sample << typed;
    QTest::newRow("marked-by-hand")      << sample + "[m]\nk=v\npacked-section-enabled=true\n" << "regen F";
    // clang-format on
}

void tst_ToolDaily::applyRoundTrip()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, setup);

    testutil::Files files;
    const QString source = prepare(&files, text, setup);
    const QString target = files.write(QByteArray());
    const ToolRun done
            = drovik(u"apply F -"_s, target, password, drovik(u"show --json F"_s, source).out);
    QVERIFY2(done.code == 0, qPrintable(done.report));
    // Every value with its kind, as the library loads it, and every part's
    // protection: the same stored layout, read by a QSettings that never saw either file.
    QCOMPARE(typedValues(&files, target), typedValues(&files, source));
    QCOMPARE(files.storedKeys(target).keys(), files.storedKeys(source).keys());
}

void tst_ToolDaily::apply_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("pw");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("status");
    QTest::addColumn<QVariantMap>("values"); // key path -> value afterwards; invalid: absent
    QTest::addColumn<QStringList>("stored"); // stored keys afterwards; "!key": not stored
    QTest::addColumn<QString>("fault");      // in the message of a refused document

    const QVariantMap kept {{u"net/host"_s, u"alpha"_s},
                            {u"db/user"_s, u"admin"_s},
                            {u"my-app.x/key.one"_s, u"1"_s}};
    const QByteArray bad = "wrong";
    // clang-format off
    QTest::newRow("set-null-and-delete") << "" << password
        << QByteArray(R"({"sections": [{"name": "net", "parameters": [{"name": "host", "value": "beta"}, {"name": "port", "value": null}]}], "delete": ["db"]})")
        << 0 << QVariantMap {{u"net/host"_s, u"beta"_s}, {u"net/port"_s, QVariant()}, {u"db/user"_s, QVariant()}, {u"my-app.x/key.one"_s, u"1"_s}, {u"net/list"_s, QStringList {u"a"_s, u"b"_s, u"c"_s}}}
        << QStringList {u"version"_s} << "";
    QTest::newRow("inside-protected-section") << "protect F --section db" << password
        << QByteArray(R"({"sections": [{"name": "db", "protection": "plain", "parameters": [{"name": "user", "value": "root"}]}]})")
        << 0 << QVariantMap {{u"db/user"_s, u"root"_s}, {u"db/pass"_s, u"s3cret"_s}}
        << QStringList {u"db/packed-section-data000"_s, u"!db/user"_s} << "";
    QTest::newRow("existing-plain-stays") << "" << password
        << QByteArray(R"({"sections": [{"name": "net", "parameters": [{"name": "host", "value": "b", "protection": "protected"}]}]})")
        << 0 << QVariantMap {{u"net/host"_s, u"b"_s}} << QStringList {u"net/host"_s} << "";
    QTest::newRow("new-protected-param") << "" << password
        << QByteArray(R"({"sections": [{"name": "net", "parameters": [{"name": "token", "value": "t0k", "protection": "protected"}]}]})")
        << 0 << QVariantMap {{u"net/token"_s, u"t0k"_s}} << QStringList {u"net/packed-param-data/token"_s, u"!net/token"_s} << "";
    QTest::newRow("new-protected-section") << "" << password
        << QByteArray(R"({"sections": [{"name": "vault", "protection": "protected", "parameters": [{"name": "k", "value": 7}]}]})")
        << 0 << QVariantMap {{u"vault/k"_s, qlonglong(7)}} << QStringList {u"vault/packed-section-data000"_s, u"!vault/k"_s} << "";
    QTest::newRow("ungrouped") << "" << password
        << QByteArray(R"({"ungrouped": [{"name": "version", "value": null}, {"name": "mode", "value": "x"}]})")
        << 0 << kept << QStringList {u"mode"_s, u"!version"_s} << "";
    QTest::newRow("delete-missing") << "" << password << QByteArray(R"({"delete": ["nothere", "net/nothere"]})")
        << 0 << kept << QStringList {u"version"_s} << "";
    QTest::newRow("bad-json")         << "protect F --section db" << password << QByteArray(R"({"sections": [)") << 2 << kept << QStringList() << "$: no JSON at line 1";
    QTest::newRow("not-an-object")    << "" << password << QByteArray("[]") << 2 << kept << QStringList() << "$: expected an object";
    QTest::newRow("misspelt-member")  << "" << password << QByteArray(R"({"section": []})") << 2 << kept << QStringList() << "$: unknown member \"section\"";
    QTest::newRow("value-not-type")   << "" << password << QByteArray(R"({"sections": [{"name": "n", "parameters": [{"name": "x", "value": "many", "type": "int"}]}]})") << 2 << kept << QStringList() << "$.sections[0].parameters[0].value:";
    QTest::newRow("list-of-numbers")  << "" << password << QByteArray(R"({"sections": [{"name": "n", "parameters": [{"name": "x", "value": ["a", 2]}]}]})") << 2 << kept << QStringList() << "$.sections[0].parameters[0].value[1]:";
    QTest::newRow("reserved-name")    << "" << password << QByteArray(R"({"sections": [{"name": "n", "parameters": [{"name": "packed-param-enabled/x", "value": "true"}]}]})") << 2 << kept << QStringList() << "$.sections[0].parameters[0].name:";
    QTest::newRow("section-slash")    << "" << password << QByteArray(R"({"sections": [{"name": "a/b", "parameters": []}]})") << 2 << kept << QStringList() << "$.sections[0].name:";
    QTest::newRow("delete-no-param")  << "" << password << QByteArray(R"({"delete": ["net", "net/"]})") << 2 << kept << QStringList() << "$.delete[1]:";
    QTest::newRow("protected-ungrouped") << "" << password << QByteArray(R"({"ungrouped": [{"name": "v", "value": 1, "protection": "protected"}]})") << 2 << kept << QStringList() << "$.ungrouped[0].protection:";
    QTest::newRow("wrong-password")   << "protect F --section db" << bad << QByteArray(R"({"delete": ["net"]})") << 1 << kept << QStringList() << "wrong password";
    // clang-format on
}

void tst_ToolDaily::apply()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, pw);
    QFETCH(QByteArray, document);
    QFETCH(int, status);
    QFETCH(QVariantMap, values);
    QFETCH(QStringList, stored);
    QFETCH(QString, fault);

    testutil::Files files;
    const QString path = prepare(&files, ungrouped + sample, setup);
    const QByteArray before = testutil::Files::bytes(path);
    const ToolRun done = drovik(u"apply F"_s, path, pw, document);
    QVERIFY2(done.code == status, qPrintable(done.report));
    QVERIFY2(done.report.contains(fault), qPrintable(done.report));
    if (status != 0)
        QCOMPARE(testutil::Files::bytes(path), before);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        QCOMPARE(files.valueOnDisk(path, it.key(), password), it.value());
    const QVariantMap keys = files.storedKeys(path);
    for (const QString &key : stored)
        QVERIFY2(key.startsWith(QLatin1Char('!')) ? !keys.contains(key.mid(1)) : keys.contains(key),
                 qPrintable(key));
}

QTEST_GUILESS_MAIN(tst_ToolDaily)
#include "tst_tool_daily.moc"
