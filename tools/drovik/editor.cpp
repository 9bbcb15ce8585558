#include "editor.h"

#include "child_environment.h"

#include <QtCore/QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

QString editorCommand()
{
    for (const char *name : {"VISUAL", "EDITOR"}) {
        const QString command = qEnvironmentVariable(name);
        if (!command.trimmed().isEmpty())
            return command;
    }
    return QStringLiteral("vi");
}

bool runEditor(const QString &path, QString *error)
{
    const QString command = editorCommand();
    // The file goes in as "$1", so its name never meets the shell's parser.
    const QByteArray script = command.toLocal8Bit() + " \"$@\"";
    const QByteArray file = QFile::encodeName(path);

    // The editor owns the terminal while it runs: Ctrl-C there is meant for
    // it, so the tool ignores SIGINT and SIGQUIT until the editor returns.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction oldInt = {};
    struct sigaction oldQuit = {};
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);

    const std::vector<char *> environment = childEnvironment();
    const char *const shellArguments[]
            = {"sh", "-c", script.constData(), "sh", file.constData(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        execve("/bin/sh", const_cast<char *const *>(shellArguments), environment.data());
        _exit(127);
    }
    int status = 0;
    pid_t waited = -1;
    if (pid > 0) {
        do {
            waited = waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);

    if (waited < 0)
        *error = QStringLiteral("cannot run the editor '%1'").arg(command);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        *error = QStringLiteral("the editor '%1' failed (status %2); nothing was changed")
                         .arg(command)
                         .arg(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return error->isEmpty();
}
