// The tool as people and scripts run it: every command either does what it
// was asked and keeps every other key, or fails and leaves the file byte for
// byte as it was; edit applies only the user's changes onto the file as it is
// then; nothing of ours reaches a child; no private copy outlives a signal;
// every password source is taken in its order, and passwords are never empty
// by accident nor typed once where a typo would lock the file for good.
#include "tool_runner.h"

#include <QtCore/QDir>
#include <QtCore/QJsonDocument>
#include <QtTest/QtTest>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// A command line as a row spells it: words split at '|' if there is one, else
// at spaces, F the file; leading NAME=VALUE words go to the environment, a
// last word "<TEXT" to standard input as a line.
struct CommandLine
{
    QStringList words;
    QMap<QString, QString> environment;
    QByteArray input;
};

CommandLine commandLine(const QString &row, const QString &file)
{
    CommandLine line;
    line.words = wordsFor(row, file,
                          row.contains(QLatin1Char('|')) ? QLatin1Char('|') : QLatin1Char(' '));
    while (!line.words.isEmpty()
           && line.words.first().contains(QRegularExpression(u"^[A-Z_]+="_s))) {
        const QString entry = line.words.takeFirst();
        line.environment.insert(entry.section(QLatin1Char('='), 0, 0),
                                entry.section(QLatin1Char('='), 1));
    }
    if (!line.words.isEmpty() && line.words.last().startsWith(QLatin1Char('<')))
        line.input = line.words.takeLast().mid(1).toUtf8() + '\n';
    return line;
}

// The tool on a new pseudo-terminal, as a shell with job control starts it:
// in its own process group, in the foreground, below a parent that waits, so
// Ctrl-Z stops it as it stops any job (a session leader's group is orphaned,
// and the terminal's stop would not reach it).
class TerminalRun
{
public:
    TerminalRun(const QStringList &arguments, const QProcessEnvironment &environment)
    {
        // env -i: the tool gets exactly the environment given.
        std::vector<QByteArray> strings {"/usr/bin/env", "-i"};
        for (const QString &word :
             environment.toStringList() + QStringList(QStringLiteral(DROVIK_TOOL_PATH)) + arguments)
            strings.push_back(word.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &string : strings)
            argv.push_back(string.data());
        argv.push_back(nullptr);
        m_pid = forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid != 0)
            return;
        const pid_t tool = fork();
        if (tool == 0) {
            setpgid(0, 0);
            std::signal(SIGTTOU, SIG_IGN);
            tcsetpgrp(STDIN_FILENO, getpid());
            std::signal(SIGTTOU, SIG_DFL);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int code = 0;
        while (waitpid(tool, &code, 0) < 0 && errno == EINTR) { }
        // The status comes back on the terminal: the test's own child handling
        // (QProcess's) may reap this process before the test does.
        dprintf(STDOUT_FILENO, "\n[exit %d]\n",
                WIFEXITED(code) ? WEXITSTATUS(code) : 128 + WTERMSIG(code));
        _exit(0);
    }
    ~TerminalRun()
    {
        if (m_pid > 0 && !m_done) {
            signalJob(SIGKILL);
            kill(m_pid, SIGKILL);
        }
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
        close(m_master);
    }

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
        const QRegularExpression status(QStringLiteral("\\[exit ([0-9]+)\\]"));
        QRegularExpressionMatch match;
        m_done = waitFor(
                [&] { return (match = status.match(QString::fromLatin1(m_output))).hasMatch(); });
        return m_done ? match.captured(1).toInt() : -1;
    }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    bool m_done = false;
    QByteArray m_output;
};

} // namespace

class tst_Tool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void showReadsBackThroughQSettings();
    void freshKeysShowAsChanged();
    void concurrentSetsLoseNothing();
    void helpForEveryCommand();
    void terminalPrompt_data();
    void terminalPrompt();

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
    QMap<QString, QByteArray> m_locks; // what each kind of holder writes in a lock file
};

void tst_Tool::initTestCase()
{
    QVERIFY(m_files.isValid());
    umask(022); // a new file must be private all the same
    // The pid of a shell that has exited, and a live process under its own name.
    QProcess gone;
    gone.start(u"sh"_s, {u"-c"_s, u"echo $$"_s});
    gone.waitForFinished();
    const QByteArray here = QSysInfo::machineHostName().toUtf8() + '\n';
    m_locks = {{u"empty"_s, QByteArray()},
               {u"garbled"_s, QByteArray("\xff\xfe")},
               {u"dead"_s, gone.readAllStandardOutput().trimmed() + "\nsh\n" + here},
               {u"live"_s,
                QByteArray::number(QCoreApplication::applicationPid()) + "\ntst_tool\n" + here},
               {u"far"_s, QByteArray("4242\ndrovik\nfar.example\n")}};
}

void tst_Tool::commands_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("arguments"); // see commandLine
    QTest::addColumn<QByteArray>("pw");     // in DROVIK_PASSWORD; null: none
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out"); // all of stdout, JSON compacted, the file's path as F
    QTest::addColumn<QString>("err");    // a part of stderr, the path as F; "-": nothing
    // Empty: the file is as it was. Else what the change left, as words: "K=V" a
    // value the library loads (see loadedText), "+K" / "-K" a key that is / is
    // not stored, "@PW" every value as before, now loaded with PW.
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
    QTest::newRow("protected-file-set")       << "file-general" << "set F net/port 2"     << pw << 0 << QByteArray() << "stay in plain" << "+v net/port=2 +packed-file/data000 -net/port";
    QTest::newRow("quiet-silences-notes")     << "file-general" << "set F net/port 2 -q"  << pw << 0 << QByteArray() << "-" << "+v net/port=2";
    QTest::newRow("quiet-keeps-errors")       << "file-general" << "get F a/none -q"      << pw << 1 << QByteArray() << "no value" << "";
    QTest::newRow("protect-file-refuses")     << "general" << "protect F --file"          << pw << 2 << QByteArray() << "version" << "";
    // Password sources and their order. A password command sees no DROVIK_
    // variable; a signal while it runs leaves no working copy.
    QTest::newRow("file-before-variable")      << "section" << "DROVIK_PASSWORD=wrong|get|F|net/host|--password-file|P" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("standard-input")            << "section" << "DROVIK_PASSWORD=wrong get F net/host --password-file - <right-pw" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("command-first-line")        << "section" << "DROVIK_PASSWORD=wrong|get|F|net/host|--password-command|printf 'right-pw\\nrest\\n'" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("command-sees-no-drovik")    << "section" << "DROVIK_PASSWORD=wrong|DROVIK_OTHER=x|get|F|net/host|--password-command|test -n \"$DROVIK_PASSWORD$DROVIK_OTHER\" && exit 9; echo right-pw" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("variable-before-command")   << "section" << "DROVIK_PASSWORD=right-pw|DROVIK_PASSWORD_COMMAND=echo wrong|get|F|net/host" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("variable-command")          << "section" << "DROVIK_PASSWORD_COMMAND=echo right-pw|get|F|net/host" << none << 0 << QByteArray("alpha.example\n") << "" << "";
    QTest::newRow("failing-command")           << "section" << "set|F|net/host|x|--password-command|echo right-pw; exit 3" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("two-sources")               << "section" << "get F net/host --password-file P --no-password" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("empty-command-output")      << "plain"   << "protect F --section log --password-command echo" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("empty-variable")            << "plain"   << "DROVIK_PASSWORD= protect F --section log" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("empty-file")                << "plain"   << "protect F --section log --password-file E" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("empty-standard-input")      << "plain"   << "protect F --section log --password-file - <" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("no-password-option")        << "plain"   << "DROVIK_PASSWORD= protect F --section log --no-password" << none << 0 << QByteArray() << "" << "@ +log/packed-section-data000";
    QTest::newRow("command-interrupted")       << "plain"   << "protect|F|--section|log|--password-command|kill -INT $PPID; sleep 5" << none << -1 << QByteArray() << "" << "";
    QTest::newRow("passwd-new-command")        << "section" << "passwd|F|--password-file|P|--new-password-command|echo new-pw" << none << 0 << QByteArray() << "" << "@new-pw";
    QTest::newRow("passwd-new-standard-input") << "section" << "DROVIK_PASSWORD=right-pw passwd F --new-password-file - <new-pw" << none << 0 << QByteArray() << "" << "@new-pw";
    QTest::newRow("passwd-new-variable")       << "section" << "DROVIK_NEW_PASSWORD=new-pw passwd F --password-file P" << none << 0 << QByteArray() << "" << "@new-pw";
    QTest::newRow("passwd-new-variable-command") << "section" << "DROVIK_PASSWORD=right-pw|DROVIK_NEW_PASSWORD_COMMAND=echo new-pw|passwd|F" << none << 0 << QByteArray() << "" << "@new-pw";
    QTest::newRow("passwd-both-standard-input") << "section" << "passwd F --password-file - --new-password-file - <right-pw\nnew-pw" << none << 2 << QByteArray() << "" << "";
    QTest::newRow("passwd-empty-new")          << "section" << "DROVIK_NEW_PASSWORD= passwd F --password-file P" << none << 2 << QByteArray() << "" << "";
    // Edit applies only what the user changed, onto the file as it is then (SET
    // changes it meanwhile); a key changed on both sides stops it; a key
    // outside any section is no part of it and kept; a signal ends it.
    const QString edited = u"+top +net/packed-param-data/id"_s;
    QTest::newRow("edit-typed-protected-value") << "edit" << "EDIT=sed -i 's/^id=7$/id=9/' \"$1\"|edit|F" << pw << 0 << QByteArray("F: 1 value(s) set, 0 parameter(s) deleted\n") << "" << edited + u" net/id=qlonglong:9 net/port=8080 net/host=alpha.example log/level=debug"_s;
    QTest::newRow("edit-add-key")              << "edit" << "EDIT=sed -i 's/^\\[net\\]$/[net]\\ntimeout=5/' \"$1\"|edit|F" << pw << 0 << QByteArray("F: 1 value(s) set, 0 parameter(s) deleted\n") << "" << edited + u" net/timeout=5 net/id=qlonglong:7"_s;
    QTest::newRow("edit-no-change")            << "edit" << "EDIT=true|edit|F" << pw << 0 << QByteArray("F: no changes\n") << "" << "";
    QTest::newRow("edit-ungrouped-key-ignored") << "edit" << "EDIT=sed -i '1i newtop=2' \"$1\"|edit|F" << pw << 0 << QByteArray("F: no changes\n") << "ignored 'newtop'" << "";
    QTest::newRow("edit-editor-fails")         << "edit" << "EDIT=echo 'port=1' >> \"$1\"; exit 3|edit|F" << pw << 2 << QByteArray() << "" << "";
    QTest::newRow("edit-same-key-changed-meanwhile") << "edit" << "EDIT=sed -i s/^port=8080/port=9090/ \"$1\"; SET net/port 9999|edit|F" << pw << 2 << QByteArray() << "changed meanwhile" << "net/port=9999 net/host=alpha.example";
    QTest::newRow("edit-same-key-deleted-meanwhile") << "edit" << "EDIT=sed -i /^host=/d \"$1\"; SET net/host beta|edit|F" << pw << 2 << QByteArray() << "changed meanwhile" << "net/host=beta net/port=8080";
    QTest::newRow("edit-both-made-the-same-change") << "edit" << "EDIT=sed -i s/^port=8080/port=9999/ \"$1\"; SET net/port 9999|edit|F" << pw << 0 << QByteArray("F: 1 value(s) set, 0 parameter(s) deleted\n") << "" << edited + u" net/port=9999 log/level=debug"_s;
    QTest::newRow("edit-other-key-changed-meanwhile") << "edit" << "EDIT=sed -i s/^port=8080/port=9090/ \"$1\"; SET log/level info|edit|F" << pw << 0 << QByteArray("F: 1 value(s) set, 0 parameter(s) deleted\n") << "" << edited + u" net/port=9090 log/level=info"_s;
    QTest::newRow("edit-section-deleted-key-added") << "edit" << "EDIT=sed -i '/^\\[net\\]/d; /^host=/d; /^port=/d; /^id=/d' \"$1\"; SET net/new 1|edit|F" << pw << 0 << QByteArray("F: 0 value(s) set, 3 parameter(s) deleted\n") << "" << u"+top log/level=debug net/new=1 -net/host -net/port -net/packed-param-data/id"_s;
    QTest::newRow("edit-line-without-equals")  << "edit" << "EDIT=echo 'port 9090' >> \"$1\"; SET log/level info|edit|F" << pw << 2 << QByteArray() << "not valid INI" << "log/level=info net/port=8080";
    QTest::newRow("edit-terminated")           << "edit" << "EDIT=sed -i s/8080/1/ \"$1\"; kill -TERM $tool; sleep 5|edit|F" << pw << -1 << QByteArray() << "" << "";
    QTest::newRow("edit-hang-up")              << "edit" << "EDIT=sed -i s/8080/1/ \"$1\"; kill -HUP $tool; sleep 5|edit|F" << pw << -1 << QByteArray() << "" << "";
    // A lock nobody holds is taken over; one that is held makes the run give
    // up, naming the lock file.
    QTest::newRow("lock-empty")             << "plain" << "LOCK=empty,60 set F net/port 1"   << pw << 0 << QByteArray() << "" << "net/port=1";
    QTest::newRow("lock-garbled")           << "plain" << "LOCK=garbled,60 set F net/port 1" << pw << 0 << QByteArray() << "" << "net/port=1";
    QTest::newRow("lock-dead-process")      << "plain" << "LOCK=dead,0 set F net/port 1"     << pw << 0 << QByteArray() << "" << "net/port=1";
    QTest::newRow("lock-other-host-old")    << "plain" << "LOCK=far,86400 set F net/port 1"  << pw << 0 << QByteArray() << "" << "net/port=1";
    QTest::newRow("lock-other-host-recent") << "plain" << "DROVIK_LOCK_TIMEOUT=1 LOCK=far,0 set F net/port 1"    << pw << 2 << QByteArray() << "F.drovik-lock" << "";
    QTest::newRow("lock-live-process")      << "plain" << "DROVIK_LOCK_TIMEOUT=1 LOCK=live,86400 set F net/port 1" << pw << 2 << QByteArray() << "F.drovik-lock" << "";
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
    // As root (CI) the file belongs to nobody: a rewrite by root must not take
    // it from the application that reads it.
    const QByteArray name = QFile::encodeName(path);
    const bool existed = QFile::exists(path);
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    QVERIFY(!existed
            || (chown(name.constData(), owner, group) == 0 && chmod(name.constData(), 0640) == 0));
    CommandLine line = commandLine(arguments, path);
    // P: a file holding the right password and a line break; E: an empty file.
    line.words.replaceInStrings(QRegularExpression(u"^P$"_s), m_files.write(toolPassword + '\n'));
    line.words.replaceInStrings(QRegularExpression(u"^E$"_s), m_files.write(QByteArray()));
    const QTemporaryDir scratch; // for the working copy of a change, edit's copy
    line.environment.insert(u"TMPDIR"_s, scratch.path());
    // EDIT=SCRIPT: the editor, after tool/editor-prelude.sh; SET in it runs the tool
    // meanwhile. It must see no DROVIK_ variable, not even one the run never used.
    const QString seen = m_files.newPath();
    const QString script = line.environment.take(u"EDIT"_s);
    if (!script.isNull()) {
        const QString set = u"DROVIK_PASSWORD=%1 drovik set %2"_s.arg(
                QString::fromLatin1(toolPassword), path);
        const QString prelude
                = QStringLiteral(DROVIK_SOURCE_DIR "/tests/data/tool/editor-prelude.sh");
        const QString editor
                = m_files.write(u"#!/bin/sh\nseen='%1'\n. '%2'\n"_s.arg(seen, prelude).toUtf8()
                                + QString(script).replace(u"SET"_s, set).toUtf8());
        QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::ExeOwner));
        line.environment.insert(u"EDITOR"_s, editor);
        line.environment.insert(u"DROVIK_NEW_PASSWORD"_s, u"new-pw"_s);
        line.environment.insert(u"DROVIK_OTHER"_s, u"x"_s);
    }
    if (!pw.isNull())
        line.environment.insert(u"DROVIK_PASSWORD"_s, QString::fromLatin1(pw));
    // LOCK=KIND,AGE: a lock file as that kind of holder left it AGE seconds ago.
    const QString lock = line.environment.take(u"LOCK"_s);
    QFile lockFile(path + u".drovik-lock"_s);
    QVERIFY(lock.isNull()
            || (lockFile.open(QIODevice::WriteOnly)
                && lockFile.write(m_locks.value(lock.section(QLatin1Char(','), 0, 0))) >= 0
                && lockFile.flush()
                && lockFile.setFileTime(QDateTime::currentDateTime().addSecs(
                                                -lock.section(QLatin1Char(','), 1).toInt()),
                                        QFileDevice::FileModificationTime)));
    lockFile.close();
    const ToolRun result = runTool(line.words, line.environment, line.input);
    QVERIFY2(result.code == code, qPrintable(result.report));
    // Nothing is left in a private place, not even what the editor put there.
    QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    if (!script.isNull())
        QCOMPARE(testutil::Files::bytes(seen).simplified(),
                 QByteArray("600 700 Max core file size 0 0 bytes"));
    const QJsonDocument document = QJsonDocument::fromJson(result.out);
    const QByteArray shown
            = document.isObject() ? document.toJson(QJsonDocument::Compact) : result.out;
    QCOMPARE(QString::fromUtf8(shown).replace(path, u"F"_s).toUtf8(), out);
    const QByteArray printed = QString::fromUtf8(result.err).replace(path, u"F"_s).toUtf8();
    QVERIFY2(err == QLatin1String("-") ? printed.isEmpty() : printed.contains(err.toUtf8()),
             qPrintable(result.report));
    if (after.isEmpty()) {
        QCOMPARE(testutil::Files::bytes(path), testutil::Files::bytes(toolFixture(fixture)));
        QCOMPARE(QFile::exists(path), QFile::exists(toolFixture(fixture)));
        return;
    }
    struct stat written;
    QCOMPARE(stat(name.constData(), &written), 0);
    QCOMPARE(written.st_mode & 07777, existed ? 0640u : 0600u);
    QCOMPARE(written.st_uid, existed ? owner : geteuid());
    QCOMPARE(written.st_gid, existed ? group : getegid());
    const QVariantMap stored = m_files.storedKeys(path);
    const QStringList loaded = loadedText(m_files, path, toolPassword);
    for (const QString &word : after.split(QLatin1Char(' '))) {
        const QString key = word.mid(1);
        if (word.startsWith(QLatin1Char('+')) || word.startsWith(QLatin1Char('-')))
            QVERIFY2(stored.contains(key) == word.startsWith(QLatin1Char('+')), qPrintable(word));
        else if (word.startsWith(QLatin1Char('@')))
            QCOMPARE(loadedText(m_files, path, key.toUtf8()),
                     loadedText(m_files, toolFixture(fixture), toolPassword));
        else
            QVERIFY2(loaded.contains(word), qPrintable(loaded.join(QLatin1Char(' '))));
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
void tst_Tool::helpForEveryCommand()
{
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

void tst_Tool::terminalPrompt_data()
{
    QTest::addColumn<QString>("arguments"); // see commandLine; the file protected unless to protect
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

void tst_Tool::terminalPrompt()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArrayList, typed);
    QFETCH(int, code);
    QFETCH(QByteArray, shown);
    const bool protect = arguments.startsWith(QLatin1String("protect"));
    const QString path = protect ? file(u"plain"_s) : file(u"section"_s);
    const QByteArray before = testutil::Files::bytes(path);
    const CommandLine command = commandLine(arguments, path);
    TerminalRun run(command.words, toolEnvironment(command.environment));
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
        QCOMPARE(loadedText(m_files, path, "one"),
                 loadedText(m_files, toolFixture(u"plain"_s), toolPassword));
    const bool absent = shown.startsWith('!');
    QVERIFY2(run.output().contains(shown.mid(absent ? 1 : 0)) != absent, run.output().constData());
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_tool.moc"
