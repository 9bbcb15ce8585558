// The tool around its secrets: edit applies only the user's changes onto the
// file as it is then, nothing of ours reaches a child, no private copy
// outlives a signal, every password source is taken in its order, and
// passwords are never empty by accident nor typed once where a typo would
// lock the file for good.
#include "tool_runner.h"

#include <QtCore/QDir>
#include <QtTest/QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray password = toolPassword;
const QByteArray plainIni = testutil::Files::bytes(toolFixture(QStringLiteral("plain")));

// A copy of the plain file with net protected under the right password.
QString protectedFile(testutil::Files &files)
{
    return files.copy(toolFixture(QStringLiteral("section")));
}

// What a run left in a private place, hidden entries too.
QStringList leftIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Sets $tool to the tool's pid, in a script the tool runs directly or through sh.
const char findTool[] = "tool=$PPID; [ \"$(cat /proc/$tool/comm)\" = drovik ] || "
                        "tool=$(cut -d' ' -f4 /proc/$tool/stat)\n";

// The tool on a new pseudo-terminal, as a shell with job control starts it:
// in its own process group, in the foreground, below a parent that waits, so
// Ctrl-Z stops it as it stops any job (a session leader's group is orphaned,
// and the terminal's stop would not reach it).
class TerminalRun
{
public:
    TerminalRun(const QStringList &arguments, const QProcessEnvironment &environment)
    {
        std::vector<QByteArray> strings, variables;
        for (const QString &word : QStringList(QStringLiteral(DROVIK_TOOL_PATH)) + arguments)
            strings.push_back(word.toLocal8Bit());
        for (const QString &entry : environment.toStringList())
            variables.push_back(entry.toLocal8Bit());
        std::vector<char *> argv, envp;
        for (QByteArray &string : strings)
            argv.push_back(string.data());
        for (QByteArray &variable : variables)
            envp.push_back(variable.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        // The status comes back through a pipe: the test's own child handling
        // (QProcess's) may reap the process first.
        int status[2];
        if (pipe2(status, O_CLOEXEC) != 0)
            return;
        m_status = status[0];
        m_pid = forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid != 0) {
            close(status[1]);
            return;
        }
        const pid_t tool = fork();
        if (tool == 0) {
            setpgid(0, 0);
            std::signal(SIGTTOU, SIG_IGN);
            tcsetpgrp(STDIN_FILENO, getpid());
            std::signal(SIGTTOU, SIG_DFL);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        int code = 0;
        while (waitpid(tool, &code, 0) < 0 && errno == EINTR) { }
        const char byte = char(WIFEXITED(code) ? WEXITSTATUS(code) : 128 + WTERMSIG(code));
        _exit(write(status[1], &byte, 1) == 1 ? 0 : 1);
    }
    ~TerminalRun()
    {
        if (m_pid > 0 && !m_done) {
            signalJob(SIGKILL);
            kill(m_pid, SIGKILL);
        }
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
        close(m_status);
        close(m_master);
    }

    bool started() const { return m_pid > 0; }
    QByteArray output() const { return m_output; }

    // Waits up to twenty seconds (a loaded machine, a sanitizer build) for what the tool printed to
    // satisfy done.
    template<typename Condition> bool waitFor(Condition done)
    {
        for (int round = 0; round < 2000; ++round) {
            if (done())
                return true;
            pollfd descriptor = {m_master, POLLIN, 0};
            char buffer[256];
            const ssize_t count = poll(&descriptor, 1, 10) > 0 ? read(m_master, buffer, 256) : 0;
            m_output.append(buffer, int(std::max<ssize_t>(count, 0)));
        }
        return done();
    }
    bool echoing() const
    {
        termios state;
        return tcgetattr(m_master, &state) == 0 && (state.c_lflag & ECHO);
    }
    bool type(const QByteArray &text)
    {
        return write(m_master, text.constData(), std::size_t(text.size())) == text.size();
    }
    // The job in the terminal's foreground, never a group that is not the tool's.
    void signalJob(int signal)
    {
        const pid_t group = tcgetpgrp(m_master);
        if (group > 1 && group != getpgrp() && group != m_pid)
            kill(-group, signal);
    }
    int exitCode()
    {
        unsigned char code = 0;
        m_done = waitFor([&] {
            pollfd descriptor = {m_status, POLLIN, 0};
            return poll(&descriptor, 1, 0) > 0 && read(m_status, &code, 1) == 1;
        });
        return m_done ? code : -1;
    }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    int m_status = -1;
    bool m_done = false;
    QByteArray m_output;
};

} // namespace

class tst_ToolSecrets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_files.isValid()); }
    void editMerges_data();
    void editMerges();
    void passwordSources_data();
    void passwordSources();
    void terminalPrompt_data();
    void terminalPrompt();

private:
    testutil::Files m_files;
};

void tst_ToolSecrets::editMerges_data()
{
    QTest::addColumn<QString>(
            "script"); // the editor: $1 the copy, $tool the tool; SET runs the tool meanwhile
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("loaded"); // afterwards; for a failure, the concurrent change alone

    const QString before
            = u"log/level=debug net/host=alpha.example net/id=qlonglong:7 net/port=8080"_s;
    // clang-format off
    QTest::newRow("typed-protected-value")       << "sed -i 's/^id=7$/id=9/' \"$1\""                 << 0 << "log/level=debug net/host=alpha.example net/id=qlonglong:9 net/port=8080";
    QTest::newRow("add-key")                     << "sed -i 's/^\\[net\\]$/[net]\\ntimeout=5/' \"$1\"" << 0 << before + u" net/timeout=5"_s;
    QTest::newRow("no-change")                   << "true"                                           << 0 << before;
    QTest::newRow("ungrouped-key-ignored")       << "sed -i '1i newtop=2' \"$1\""                    << 0 << before;
    QTest::newRow("editor-fails")                << "echo 'port=1' >> \"$1\"; exit 3"                << 2 << before;
    QTest::newRow("same-key-changed-meanwhile")  << "sed -i s/^port=8080/port=9090/ \"$1\"; SET net/port 9999"  << 2 << "log/level=debug net/host=alpha.example net/id=qlonglong:7 net/port=9999";
    QTest::newRow("same-key-deleted-meanwhile")  << "sed -i /^host=/d \"$1\"; SET net/host beta"                 << 2 << "log/level=debug net/host=beta net/id=qlonglong:7 net/port=8080";
    QTest::newRow("both-made-the-same-change")   << "sed -i s/^port=8080/port=9999/ \"$1\"; SET net/port 9999"  << 0 << "log/level=debug net/host=alpha.example net/id=qlonglong:7 net/port=9999";
    QTest::newRow("other-key-changed-meanwhile") << "sed -i s/^port=8080/port=9090/ \"$1\"; SET log/level info" << 0 << "log/level=info net/host=alpha.example net/id=qlonglong:7 net/port=9090";
    QTest::newRow("section-deleted-key-added")   << "sed -i '/^\\[net\\]/d; /^host=/d; /^port=/d; /^id=/d' \"$1\"; SET net/new 1" << 0 << "log/level=debug net/new=1";
    // A signal ends the edit: nothing applied, the private copy gone.
    QTest::newRow("edit-terminated")             << "sed -i s/8080/1/ \"$1\"; kill -TERM $tool; sleep 5"       << -1 << before;
    QTest::newRow("edit-hang-up")                << "sed -i s/8080/1/ \"$1\"; kill -HUP $tool; sleep 5"        << -1 << before;
    QTest::newRow("line-without-equals")         << "echo 'port 9090' >> \"$1\"; SET log/level info"           << 2 << "log/level=info net/host=alpha.example net/id=qlonglong:7 net/port=8080";
    // clang-format on
}

// The editor sees a private 0600 copy in a 0700 directory that is gone
// afterwards, no DROVIK_ variable, not even one the run never used, and no
// core dumps; only what the user changed is applied, onto the file as it is
// then; a key outside any section is kept and never part of the edit.
void tst_ToolSecrets::editMerges()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, loaded);
    const QString path = m_files.write("top=1\n" + plainIni + "id=7\n");
    QVERIFY(runToolOn(u"protect F --key net/id"_s, path, password).code == 0
            && runToolOn(u"set F net/id --type int 7"_s, path, password).code == 0);
    const QByteArray before = testutil::Files::bytes(path);
    const bool changedMeanwhile = script.contains(u"SET"_s);
    const QString seen = m_files.newPath();
    const QTemporaryDir scratch;
    const QString editor = executable(
            m_files,
            u"stat -c %a \"$1\" \"${1%/*}\" > '%1'\n%2"
            u"{ env | grep ^DROVIK_; grep -i '^max core' /proc/$tool/limits; } >> '%1'\n"
            // What editors leave beside the file: a swap file, a backup directory.
            u"dir=${1%/*}; echo secret > \"$dir/.swp\"; mkdir -p \"$dir/bak\"; cp \"$1\" \"$dir/bak/\"\n%3"_s
                    .arg(seen, QLatin1String(findTool),
                         script.replace(u"SET"_s,
                                        u"DROVIK_PASSWORD=%1 drovik set %2"_s.arg(
                                                QString::fromLatin1(password), path))));
    const ToolRun run = runToolOn(u"edit F"_s, path, password,
                                  {{u"EDITOR"_s, editor},
                                   {u"TMPDIR"_s, scratch.path()},
                                   {u"DROVIK_NEW_PASSWORD"_s, u"new-pw"_s},
                                   {u"DROVIK_OTHER"_s, u"x"_s}});
    QVERIFY2(run.code == code, qPrintable(run.report));
    QCOMPARE(testutil::Files::bytes(seen).simplified(),
             QByteArray("600 700 Max core file size 0 0 bytes"));
    QCOMPARE(leftIn(scratch.path()), QStringList());
    if (script == QLatin1String("true") || (code != 0 && !changedMeanwhile))
        QCOMPARE(testutil::Files::bytes(path), before);
    QCOMPARE(loadedText(m_files, path, password).join(QLatin1Char(' ')), loaded);
    const QVariantMap stored = m_files.storedKeys(path);
    QCOMPARE(stored.value(u"top"_s).toString(), u"1"_s);
    QVERIFY(!stored.contains(u"newtop"_s));
    QVERIFY(stored.contains(u"net/packed-param-data/id"_s) || !loaded.contains(u"net/id"_s));
}

void tst_ToolSecrets::passwordSources_data()
{
    QTest::addColumn<QString>("arguments"); // words split at '|'; F, N, P, E: see below
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QByteArray>("input"); // standard input; null: none
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("opens"); // the password that opens F afterwards

    const QByteArray none;
    const QByteArray pw = password;
    const QStringList wrong {u"DROVIK_PASSWORD=wrong"_s};
    const QStringList empty {u"DROVIK_PASSWORD="_s};
    const QStringList right {u"DROVIK_PASSWORD=right-pw"_s};
    // F: net protected under the right password; N: a plain file; P: a file
    // holding the right password and a line break; E: an empty file.
    // clang-format off
    QTest::newRow("file-before-variable")      << "get|F|net/host|--password-file|P"                     << wrong << none << 0 << pw;
    QTest::newRow("standard-input")            << "get|F|net/host|--password-file|-"                     << wrong << QByteArray("right-pw\n") << 0 << pw;
    QTest::newRow("command-first-line")        << "get|F|net/host|--password-command|printf 'right-pw\\nrest\\n'" << wrong << none << 0 << pw;
    QTest::newRow("command-sees-no-drovik")    << "get|F|net/host|--password-command|test -n \"$DROVIK_PASSWORD$DROVIK_OTHER\" && exit 9; echo right-pw"
                                                                                                         << wrong + QStringList(u"DROVIK_OTHER=x"_s) << none << 0 << pw;
    QTest::newRow("variable-before-command")   << "get|F|net/host"                                       << right + QStringList(u"DROVIK_PASSWORD_COMMAND=echo wrong"_s) << none << 0 << pw;
    QTest::newRow("variable-command")          << "get|F|net/host"                                       << QStringList{u"DROVIK_PASSWORD_COMMAND=echo right-pw"_s} << none << 0 << pw;
    QTest::newRow("failing-command")           << "set|F|net/host|x|--password-command|echo right-pw; exit 3" << QStringList() << none << 2 << pw;
    QTest::newRow("two-sources")               << "get|F|net/host|--password-file|P|--no-password"       << QStringList() << none << 2 << pw;
    QTest::newRow("empty-command-output")      << "protect|N|--section|log|--password-command|echo"      << QStringList() << none << 2 << none;
    QTest::newRow("empty-variable")            << "protect|N|--section|log"                              << empty << none << 2 << none;
    QTest::newRow("empty-file")                << "protect|N|--section|log|--password-file|E"            << QStringList() << none << 2 << none;
    QTest::newRow("empty-standard-input")      << "protect|N|--section|log|--password-file|-"            << QStringList() << QByteArray("\n") << 2 << none;
    QTest::newRow("no-password-option")        << "protect|N|--section|log|--no-password"                << empty << none << 0 << QByteArray("");
    // The password is read while the working copy of a change exists.
    QTest::newRow("command-interrupted")       << "protect|N|--section|log|--password-command|kill -INT $PPID; sleep 5" << QStringList() << none << -1 << none;
    QTest::newRow("passwd-new-command")        << "passwd|F|--password-file|P|--new-password-command|echo new-pw" << QStringList() << none << 0 << QByteArray("new-pw");
    QTest::newRow("passwd-new-standard-input") << "passwd|F|--new-password-file|-"                       << right << QByteArray("new-pw\n") << 0 << QByteArray("new-pw");
    QTest::newRow("passwd-new-variable")       << "passwd|F|--password-file|P"                           << QStringList{u"DROVIK_NEW_PASSWORD=new-pw"_s} << none << 0 << QByteArray("new-pw");
    QTest::newRow("passwd-new-variable-command") << "passwd|F"                                           << right + QStringList(u"DROVIK_NEW_PASSWORD_COMMAND=echo new-pw"_s) << none << 0 << QByteArray("new-pw");
    QTest::newRow("passwd-both-standard-input") << "passwd|F|--password-file|-|--new-password-file|-"    << QStringList() << QByteArray("right-pw\nnew-pw\n") << 2 << pw;
    QTest::newRow("passwd-empty-new")          << "passwd|F|--password-file|P"                           << QStringList{u"DROVIK_NEW_PASSWORD="_s} << none << 2 << pw;
    // clang-format on
}

// A run that fails, even by a signal, leaves the file as it was and no
// working copy; one that works leaves it opened by the password the sources'
// order picks.
void tst_ToolSecrets::passwordSources()
{
    QFETCH(QString, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, input);
    QFETCH(int, code);
    QFETCH(QByteArray, opens);
    const QString path
            = arguments.contains(u"|F"_s) ? protectedFile(m_files) : m_files.write(plainIni);
    const QByteArray before = testutil::Files::bytes(path);
    QStringList words = wordsFor(arguments.replace(u"|N"_s, u"|F"_s), path, QLatin1Char('|'));
    words.replaceInStrings(QRegularExpression(u"^P$"_s), m_files.write(password + '\n'));
    words.replaceInStrings(QRegularExpression(u"^E$"_s), m_files.write(QByteArray()));
    const QTemporaryDir scratch; // for the working copy of a change
    const ToolRun run
            = runTool(words, environmentOf(environment << u"TMPDIR="_s + scratch.path()), input);
    QVERIFY2(run.code == code, qPrintable(run.report));
    QCOMPARE(leftIn(scratch.path()), QStringList());
    if (code != 0)
        QCOMPARE(testutil::Files::bytes(path), before);
    if (!opens.isNull())
        QVERIFY2(loadedText(m_files, path, opens).size() == 3, qPrintable(run.report));
}

void tst_ToolSecrets::terminalPrompt_data()
{
    QTest::addColumn<QString>("arguments");    // F: the file, protected first unless to protect;
                                               // NAME=VALUE first: in the environment
    QTest::addColumn<QByteArrayList>("typed"); // one line per prompt; "^Z" stops and continues
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("shown"); // in the output; "!" first: not in it

    const QByteArrayList none;
    // clang-format off
    QTest::newRow("first-protection-asked-twice") << "protect F --section net" << QByteArrayList{"one", "one"}       << 0 << QByteArray();
    QTest::newRow("first-protection-mismatch")    << "protect F --section net" << QByteArrayList{"one", "two"}       << 2 << QByteArray();
    QTest::newRow("typed-empty")                  << "protect F --section net" << QByteArrayList{""}                 << 2 << QByteArray();
    QTest::newRow("new-password-mismatch")        << "DROVIK_PASSWORD=right-pw passwd F" << QByteArrayList{"new-1", "new-2"} << 2 << QByteArray();
    QTest::newRow("ctrl-z-restores-echo")         << "protect F --section net" << QByteArrayList{"^Z", "one", "one"} << 0 << QByteArray();
    QTest::newRow("show-asks-at-terminal")        << "show F"                  << QByteArrayList{"right-pw"}         << 0 << QByteArray("host=alpha");
    QTest::newRow("status-in-colour")             << "status F"                << none                               << 0 << QByteArray("\x1b[32mprotected");
    QTest::newRow("status-no-colour")             << "NO_COLOR=1 status F"     << none                               << 0 << QByteArray("!\x1b[");
    // clang-format on
}

void tst_ToolSecrets::terminalPrompt()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArrayList, typed);
    QFETCH(int, code);
    QFETCH(QByteArray, shown);
    const bool protect = arguments.startsWith(QLatin1String("protect"));
    const QString path = protect ? m_files.write(plainIni) : protectedFile(m_files);
    const QByteArray before = testutil::Files::bytes(path);
    const QStringList words = arguments.split(QLatin1Char(' '));
    TerminalRun run(wordsFor(words.filter(QRegularExpression(u"^[^=]*$"_s)).join(u" "_s), path),
                    toolEnvironment(environmentOf(words.filter(u"="_s))));
    QVERIFY(run.started());
    int prompts = 0;
    const auto prompted = [&] {
        return run.output().count("ssword for ") + run.output().count("Again: ") > prompts
                && !run.echoing();
    };
    for (const QByteArray &line : typed) {
        // Typed before the prompt turned echo off, the line would be flushed.
        QVERIFY2(run.waitFor(prompted), run.output().constData());
        if (line == "^Z") {
            QVERIFY(run.type("\x1a"));
            QVERIFY2(run.waitFor([&] { return run.echoing(); }), "echo stays off while stopped");
            run.signalJob(SIGCONT);
            QVERIFY2(run.waitFor([&] { return !run.echoing(); }), "echo stays on after fg");
            continue;
        }
        QVERIFY(run.type(line + '\n'));
        ++prompts;
    }
    QVERIFY2(run.exitCode() == code, run.output().constData());
    if (code != 0 || !protect)
        QCOMPARE(testutil::Files::bytes(path), before);
    else
        QCOMPARE(loadedText(m_files, path, "one").size(), 3);
    const bool absent = shown.startsWith('!');
    QVERIFY2(run.output().contains(shown.mid(absent ? 1 : 0)) != absent, run.output().constData());
}

QTEST_GUILESS_MAIN(tst_ToolSecrets)
#include "tst_tool_secrets.moc"
