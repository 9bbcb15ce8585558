#include "tool_runner.h"

#include <QtCore/QDataStream>
#include <QtCore/QDir>
#include <QtCore/QStandardPaths>
#include <QtTest/QtTest>

// exec, apply and shell completion: the commands of daily use, run as a user
// runs them, checked against what the environment, a fresh QSettings or the
// shell itself shows.

namespace {

const QByteArray password = QByteArrayLiteral("day-pw");
// A key outside any section: apply must keep it, and exec never passes it.
const QByteArray ungrouped = QByteArrayLiteral("[General]\nversion=3\n");
const QByteArray sample = QByteArrayLiteral("[net]\nhost=alpha\nport=8080\nlist=a, b, c\n"
                                            "[db]\nuser=admin\npass=s3cret\n"
                                            "[my-app.x]\nkey.one=1\n");
// Setup of sample with protection at two levels.
const QString layered = QStringLiteral("protect F --section db; protect F --key net/port");

// The names beside path and its bytes: what "nothing written" compares.
QStringList snapshot(const QString &path)
{
    return QFileInfo(path).dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
            << QString::fromLatin1(testutil::Files::bytes(path).toBase64());
}

// A file of sample text, then changed by the tool as setup says (";" between commands).
QString prepare(testutil::Files *files, const QByteArray &text, const QString &setup)
{
    const QString path = files->write(text);
    for (const QString &words : setup.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const ToolRun done = runToolOn(words, path, password);
        if (done.code != 0)
            qFatal("setup failed: %s", qPrintable(done.report));
    }
    return path;
}

// Every value the library loads from a copy of path, with its type (a double
// that came back as an integer differs), as bytes; none if the password fails.
QByteArray typedValues(testutil::Files *files, const QString &path)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << loadedValues(*files, path, password);
    return bytes;
}

// The lines a shell prints for line (F: the file), sorted: sh runs line and
// prints its status, the others source their completion script and print
// what they offer for the last word of line as they would at a prompt. Each
// runs with a DROVIK_ variable of its own, which no child of the tool may see.
QStringList printed(const QString &shell, QString line, const QString &file)
{
    line.replace(QRegularExpression(u"(?<= )F(?= |$)"_s), file);
    const QString scripts = QStringLiteral(DROVIK_SOURCE_DIR "/tools/drovik/completions/");
    const QMap<QString, QStringList> invocations {
            // sh starts from an empty environment, so that exec's child shows only
            // what the file and the line give, whatever the developer exported.
            {u"sh"_s,
             {u"-c"_s,
              u"exec env -i PATH=\"$PATH\" DROVIK_ANYTHING=x sh -c "
              u"'eval \"$1\" 2>&1; echo status=$?' sh \"$1\""_s,
              u"sh"_s}},
            {u"bash"_s,
             {u"-c"_s,
              u"source \"$0\"; COMP_WORDS=($1); [[ $1 == *' ' ]] && COMP_WORDS+=(''); "
              u"COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _drovik; printf '%s\\n' \"${COMPREPLY[@]}\""_s,
              scripts + u"drovik.bash"_s}},
            {u"fish"_s,
             {u"-N"_s, u"-c"_s, u"source $argv[1]; complete -C $argv[2]"_s,
              scripts + u"drovik.fish"_s}},
            {u"zsh"_s,
             {u"-f"_s, QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/completion/zsh-complete.zsh"),
              scripts}}};
    const ToolRun done = runProgram(shell, invocations.value(shell) + QStringList(line),
                                    {{u"DROVIK_ANYTHING"_s, u"x"_s}});
    QStringList names = QString::fromUtf8(done.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.replaceInStrings(QRegularExpression(u"\t.*"_s), QString()); // fish adds a description
    // Of what sh prints: its status, where a refused document is at fault
    // ($.member[index]...), and what exec's child got from the file or from a
    // DROVIK_ variable (never anything) among the variables of this test.
    names.replaceInStrings(QRegularExpression(u"^drovik: apply: invalid document: ([^:]*):.*"_s),
                           u"fault=\\1"_s);
    if (shell == QLatin1String("sh"))
        names = names.filter(QRegularExpression(
                u"^(status|fault|DROVIK_\\w*|(APP_)?(NET|DB|MY_APP_X)_\\w+|(GENERAL_)?VERSION)="_s));
    names.removeDuplicates();
    names.sort();
    return names;
}

} // namespace

class tst_ToolDaily : public QObject
{
    Q_OBJECT

private slots:
    void atPrompt_data();
    void atPrompt();
    void apply_data();
    void apply();
};

void tst_ToolDaily::atPrompt_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("line");     // as typed at the prompt; F: the file
    QTest::addColumn<QString>("expected"); // the lines printed, sorted

    // A protected section hides its names; protected parameters show theirs.
    const QString netKeys = u"net/host net/list net/port"_s;
    // clang-format off
    QTest::newRow("exec-all-sections")     << "sh" << "" << "drovik exec F -- env" << "DB_PASS=s3cret DB_USER=admin MY_APP_X_KEY_ONE=1 NET_HOST=alpha NET_LIST=a,b,c NET_PORT=8080 status=0";
    QTest::newRow("exec-prefix")           << "sh" << "" << "drovik exec --prefix APP_ F my-app.x -- env" << "APP_MY_APP_X_KEY_ONE=1 status=0";
    QTest::newRow("exec-protected")        << "sh" << layered << "DROVIK_PASSWORD=day-pw drovik exec F db net -- env" << "DB_PASS=s3cret DB_USER=admin NET_HOST=alpha NET_LIST=a,b,c NET_PORT=8080 status=0";
    QTest::newRow("exec-plain-needs-none") << "sh" << layered << "drovik exec F my-app.x -- env" << "MY_APP_X_KEY_ONE=1 status=0";
    QTest::newRow("exec-needs-password")   << "sh" << layered << "drovik exec F db -- env" << "status=2";
    QTest::newRow("exec-wrong-password")   << "sh" << layered << "DROVIK_PASSWORD=nope drovik exec F db -- env" << "status=1";
    QTest::newRow("exec-no-such-section")  << "sh" << "" << "drovik exec F nets -- env" << "status=1";
    QTest::newRow("exec-command-status")   << "sh" << "" << "drovik exec F net -- sh -c 'exit 7'" << "status=7";
    QTest::newRow("exec-command-signal")   << "sh" << "" << "drovik exec F net -- sh -c 'kill -TERM $$'" << "status=143";
    QTest::newRow("exec-command-not-found") << "sh" << "" << "drovik exec F net -- /nonexistent/program" << "status=127";
    QTest::newRow("exec-not-runnable")     << "sh" << "" << "drovik exec F net -- /" << "status=126";
    QTest::newRow("exec-no-command")       << "sh" << "" << "drovik exec F net" << "status=2";
    QTest::newRow("exec-collision")        << "sh" << "set F a-b/c 1; set F a_b/c 2" << "drovik exec F a-b a_b -- env" << "status=2";
    QTest::newRow("exec-loader-name")      << "sh" << "set F ld/preload x" << "drovik exec F ld -- env" << "status=2";
    QTest::newRow("apply-bad-json")        << "sh" << layered << R"(echo '{"sections": [' | DROVIK_PASSWORD=day-pw drovik apply F)" << "fault=$ status=2";
    QTest::newRow("apply-not-an-object")   << "sh" << "" << R"(echo '[]' | drovik apply F)" << "fault=$ status=2";
    QTest::newRow("apply-misspelt-member") << "sh" << "" << R"(echo '{"section": []}' | drovik apply F)" << "fault=$ status=2";
    QTest::newRow("apply-value-not-type")  << "sh" << "" << R"(echo '{"sections": [{"name": "n", "parameters": [{"name": "x", "value": "many", "type": "int"}]}]}' | drovik apply F)" << "fault=$.sections[0].parameters[0].value status=2";
    QTest::newRow("apply-list-of-numbers") << "sh" << "" << R"(echo '{"sections": [{"name": "n", "parameters": [{"name": "x", "value": ["a", 2]}]}]}' | drovik apply F)" << "fault=$.sections[0].parameters[0].value[1] status=2";
    QTest::newRow("apply-reserved-name")   << "sh" << "" << R"(echo '{"sections": [{"name": "n", "parameters": [{"name": "packed-param-enabled/x", "value": "true"}]}]}' | drovik apply F)" << "fault=$.sections[0].parameters[0].name status=2";
    QTest::newRow("apply-section-slash")   << "sh" << "" << R"(echo '{"sections": [{"name": "a/b", "parameters": []}]}' | drovik apply F)" << "fault=$.sections[0].name status=2";
    QTest::newRow("apply-delete-no-param") << "sh" << "" << R"(echo '{"delete": ["net", "net/"]}' | drovik apply F)" << "fault=$.delete[1] status=2";
    QTest::newRow("apply-protected-ungrouped") << "sh" << "" << R"(echo '{"ungrouped": [{"name": "v", "value": 1, "protection": "protected"}]}' | DROVIK_PASSWORD=day-pw drovik apply F)" << "fault=$.ungrouped[0].protection status=2";
    QTest::newRow("apply-wrong-password")  << "sh" << layered << R"(echo '{"delete": ["net"]}' | DROVIK_PASSWORD=nope drovik apply F)" << "status=1";
    QTest::newRow("bash-commands")         << "bash" << "" << "drovik ex" << "exec";
    QTest::newRow("bash-options")          << "bash" << "" << "drovik get F --d" << "--default";
    QTest::newRow("bash-type-values")      << "bash" << "" << "drovik set --type " << "bool double int list string";
    QTest::newRow("bash-sections")         << "bash" << layered << "drovik list F " << "db my-app.x net";
    QTest::newRow("bash-section-value")    << "bash" << layered << "drovik protect F --section m" << "my-app.x";
    QTest::newRow("bash-keys")             << "bash" << layered << "drovik get F n" << netKeys;
    QTest::newRow("bash-exec-sections")    << "bash" << layered << "drovik exec --prefix X_ F d" << "db";
    QTest::newRow("bash-file-hidden")      << "bash" << "protect F --file" << "drovik list F " << "";
    QTest::newRow("zsh-sections")          << "zsh" << layered << "drovik list F " << "db my-app.x net";
    QTest::newRow("zsh-keys")              << "zsh" << layered << "drovik del F net/" << netKeys;
    QTest::newRow("fish-sections")         << "fish" << layered << "drovik list F " << "db my-app.x net";
    QTest::newRow("fish-keys")             << "fish" << layered << "drovik get F n" << netKeys;
    // clang-format on
}

void tst_ToolDaily::atPrompt()
{
    QFETCH(QString, shell);
    QFETCH(QString, setup);
    QFETCH(QString, line);
    QFETCH(QString, expected);

    // CI installs every shell this runs; a missing one is a failure, not a skip.
    QVERIFY2(!QStandardPaths::findExecutable(shell).isEmpty(), qPrintable(shell + u" missing"_s));
    testutil::Files files;
    // exec must not pass on the key outside any section; protect --file refuses such a key.
    const QString path
            = prepare(&files, shell == QLatin1String("sh") ? ungrouped + sample : sample, setup);
    const QStringList before = snapshot(path);
    QCOMPARE(printed(shell, line, path), expected.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    // exec and completion never write, and a refused document changes nothing.
    QCOMPARE(snapshot(path), before);
}

void tst_ToolDaily::apply_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("document"); // null: what show --json prints of the file
    QTest::addColumn<QByteArray>("after"); // the text that, under the same setup, the result equals

    const QByteArray text = ungrouped + sample,
                     marked = sample + "[m]\nk=v\npacked-section-enabled=true\n", shown;
    // Typed values are kept only inside protection, so they are set after it.
    const QString typed = u"set F t/seed x; protect F --section t; set F t/d --type double 2; "
                          u"set F t/b --type bool yes; set F t/i --type int -- -5; "
                          u"set F t/l --type list x y; set F t/one --type list z"_s;
    // clang-format off
    QTest::newRow("round-trip-plain")      << text << "" << shown << text;
    QTest::newRow("round-trip-parameters") << text << "protect F --key net/port; protect F --key db/pass" << shown << text;
    QTest::newRow("round-trip-sections")   << sample << "protect F --section db; protect F --section net" << shown << sample;
    QTest::newRow("round-trip-file")       << sample << "protect F --file" << shown << sample;
    QTest::newRow("round-trip-typed")      << sample << typed << shown << sample;
    QTest::newRow("round-trip-marked")     << marked << "regen F" << shown << marked;
    QTest::newRow("set-null-and-delete")      << text << "" << QByteArray(R"({"sections": [{"name": "net", "parameters": [{"name": "host", "value": "beta"}, {"name": "port", "value": null}]}], "delete": ["db"]})") << QByteArray(text).replace("host=alpha", "host=beta").replace("port=8080\n", "").replace("[db]\nuser=admin\npass=s3cret\n", "");
    QTest::newRow("inside-protected-section") << text << "protect F --section db" << QByteArray(R"({"sections": [{"name": "db", "protection": "plain", "parameters": [{"name": "user", "value": "root"}]}]})") << QByteArray(text).replace("user=admin", "user=root");
    QTest::newRow("existing-plain-stays")     << text << "" << QByteArray(R"({"sections": [{"name": "net", "parameters": [{"name": "host", "value": "b", "protection": "protected"}]}]})") << QByteArray(text).replace("host=alpha", "host=b");
    QTest::newRow("ungrouped")                << text << "" << QByteArray(R"({"ungrouped": [{"name": "version", "value": null}, {"name": "mode", "value": "x"}]})") << QByteArray(text).replace("version=3", "mode=x");
    QTest::newRow("delete-missing")           << text << "" << QByteArray(R"({"delete": ["nothere", "net/nothere"]})") << text;
    // clang-format on
}

void tst_ToolDaily::apply()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, setup);
    QFETCH(QByteArray, document);
    QFETCH(QByteArray, after);

    testutil::Files files;
    const QString source = prepare(&files, text, setup);
    // No document: what show --json prints of the file, applied to an empty
    // one, must give back every value with its type and every part's protection.
    const bool roundTrip = document.isNull();
    const QString path = roundTrip ? files.write(QByteArray()) : source;
    if (roundTrip)
        document = runToolOn(u"show --json F"_s, source, password).out;
    const ToolRun done
            = runToolOn(roundTrip ? u"apply F -"_s : u"apply F"_s, path, password, {}, document);
    QVERIFY2(done.code == 0, qPrintable(done.report));
    // Values with their types, and the stored layout as a QSettings that never
    // saw either file reads it.
    const QString expected = prepare(&files, after, setup);
    QCOMPARE(typedValues(&files, path), typedValues(&files, expected));
    QCOMPARE(files.storedKeys(path).keys(), files.storedKeys(expected).keys());
}

QTEST_GUILESS_MAIN(tst_ToolDaily)
#include "tst_tool_daily.moc"
