#include "password.h"

#include "child_environment.h"

#include "signal_cleanup.h"

#include "secure_wipe.h"

#include <QtCore/QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using drovik::secureWipe;

namespace {

// Reads up to the end of the file or the first newline (stopAtNewline), chunk
// by chunk through a stack buffer that is wiped afterwards.
bool readFrom(int fd, bool stopAtNewline, Secret *password)
{
    char buffer[256];
    bool ok = true;
    for (;;) {
        const ssize_t count = read(fd, buffer, stopAtNewline ? 1 : sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ok = count == 0;
            break;
        }
        if (stopAtNewline && buffer[0] == '\n')
            break;
        if (!password->append(buffer, int(count))) {
            ok = false;
            break;
        }
    }
    secureWipe(buffer, sizeof buffer);
    return ok;
}

bool readFile(const QString &path, Secret *password, QString *error)
{
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : path;
    const int fd = standardInput ? STDIN_FILENO
                                 : open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("%1: cannot read the password file: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const bool ok = readFrom(fd, false, password);
    if (!standardInput)
        close(fd);
    if (!ok) {
        *error = QStringLiteral("%1: cannot read the password (or it is longer than %2 bytes)")
                         .arg(name)
                         .arg(Secret::maxSize);
        return false;
    }
    password->dropFinalLineBreak();
    return true;
}

// Runs command through /bin/sh; the first line of its output is the password.
// Its standard input and error stay ours, so it can ask (a keyring's pinentry)
// and its messages reach the user.
bool readCommand(const QString &command, Secret *password, QString *error)
{
    const QByteArray script = command.toLocal8Bit();
    const char *const arguments[] = {"sh", "-c", script.constData(), nullptr};
    const std::vector<char *> environment = childEnvironment();
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot run the password command: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/bin/sh", &actions, nullptr,
                                    const_cast<char *const *>(arguments), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    bool ok = spawned == 0 && readFrom(output[0], true, password);
    // The rest of the output is read and dropped, so the command never dies
    // of a closed pipe and its exit status tells whether it worked.
    Secret rest;
    while (spawned == 0 && readFrom(output[0], false, &rest) && !rest.bytes().isEmpty())
        rest.wipe();
    close(output[0]);
    int status = 0;
    while (spawned == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (spawned != 0) {
        *error = QStringLiteral("cannot run the password command: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(spawned)));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = QStringLiteral("the password command failed (status %1); nothing was changed")
                         .arg(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        password->wipe();
        return false;
    }
    if (!ok) {
        *error = QStringLiteral("the password command printed a line longer than %1 bytes")
                         .arg(Secret::maxSize);
        return false;
    }
    return true;
}

// What the environment gave for one password, moved out of it at start.
struct Stash
{
    Stash(const char *name, const char *commandName) : variable(name), commandVariable(commandName)
    { }

    const char *variable;
    const char *commandVariable;
    bool present = false;
    bool tooLong = false;
    Secret value;
    QString command;
};

Stash &stash(int index)
{
    static Stash stashes[2] = {{"DROVIK_PASSWORD", "DROVIK_PASSWORD_COMMAND"},
                               {"DROVIK_NEW_PASSWORD", "DROVIK_NEW_PASSWORD_COMMAND"}};
    return stashes[index];
}

enum Role { Current = 0, New = 1 };

bool readTerminal(const QString &prompt, Secret *password)
{
    termios original;
    if (tcgetattr(STDIN_FILENO, &original) != 0)
        return false;
    termios silent = original;
    silent.c_lflag &= ~tcflag_t(ECHO);
    // From here the signal handlers put echo back on every way out.
    setTerminalToRestore(&original, &silent);
    const QByteArray text = prompt.toLocal8Bit();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    const bool ok = readFrom(STDIN_FILENO, true, password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &original);
    setTerminalToRestore(nullptr, nullptr);
    std::fputc('\n', stderr);
    if (ok)
        password->setTyped();
    return ok;
}

// The first source that is there, by the order in the header. *source names
// it for messages; false with *error when it fails or none is there.
bool readFromSources(Role role, const PasswordOptions &options, const QString &prompt,
                     Secret *password, QString *source, QString *error)
{
    Stash &environment = stash(role);
    const QString what
            = role == Current ? QStringLiteral("password") : QStringLiteral("new password");
    if (!options.file.isEmpty()) {
        *source = options.file == QLatin1String("-")
                ? QStringLiteral("the %1 from standard input").arg(what)
                : QStringLiteral("the %1 file %2").arg(what, options.file);
        return readFile(options.file, password, error);
    }
    if (!options.command.isEmpty() || (!environment.present && !environment.command.isEmpty())) {
        *source = QStringLiteral("the %1 command's output").arg(what);
        return readCommand(options.command.isEmpty() ? environment.command : options.command,
                           password, error);
    }
    if (environment.present) {
        *source = QLatin1String(environment.variable);
        if (!environment.tooLong
            && password->append(environment.value.bytes().constData(),
                                environment.value.bytes().size())) {
            environment.value.wipe();
            return true;
        }
        *error = QStringLiteral("%1 is longer than %2 bytes")
                         .arg(QLatin1String(environment.variable))
                         .arg(Secret::maxSize);
        return false;
    }
    if (isatty(STDIN_FILENO) == 1) {
        *source = QStringLiteral("the %1 typed").arg(what);
        return readTerminal(prompt, password)
                && (role == Current || password->bytes().isEmpty()
                    || confirmPassword(password, error));
    }
    const QString option
            = role == Current ? QStringLiteral("--password") : QStringLiteral("--new-password");
    *error = QStringLiteral("no %1: run on a terminal, give %2-file or %2-command, or set %3 or %4")
                     .arg(what, option, QLatin1String(environment.variable),
                          QLatin1String(environment.commandVariable));
    return false;
}

} // namespace

Secret::Secret()
{
    // Room for the longest password up front: a growing buffer would leave
    // copies of the password behind in freed memory.
    m_bytes.reserve(maxSize);
}

Secret::~Secret()
{
    wipe();
}

bool Secret::equals(const Secret &other) const
{
    return m_bytes == other.m_bytes;
}

bool Secret::append(const char *data, int size)
{
    if (m_bytes.size() + size > maxSize)
        return false;
    m_bytes.append(data, size);
    return true;
}

void Secret::dropFinalLineBreak()
{
    if (m_bytes.endsWith('\n'))
        m_bytes.chop(m_bytes.endsWith("\r\n") ? 2 : 1);
}

void Secret::wipe()
{
    if (m_bytes.capacity() > 0)
        secureWipe(m_bytes.data(), std::size_t(m_bytes.capacity()));
    m_bytes.resize(0);
}

void takePasswordsFromEnvironment()
{
    for (int index = 0; index < 2; ++index) {
        Stash &entry = stash(index);
        if (char *text = std::getenv(entry.variable)) {
            const std::size_t size = std::strlen(text);
            entry.present = true;
            entry.tooLong
                    = size > std::size_t(Secret::maxSize) || !entry.value.append(text, int(size));
            secureWipe(text, size);
            unsetenv(entry.variable);
        }
        if (const char *command = std::getenv(entry.commandVariable)) {
            entry.command = QString::fromLocal8Bit(command);
            unsetenv(entry.commandVariable);
        }
    }
}

bool passwordGiven(const PasswordOptions &options)
{
    return options.none || !options.file.isEmpty() || !options.command.isEmpty()
            || stash(Current).present || !stash(Current).command.isEmpty();
}

bool readPassword(const PasswordOptions &options, const QString &prompt, Secret *password,
                  QString *error)
{
    if (!options.none) {
        QString source;
        if (!readFromSources(Current, options, prompt, password, &source, error))
            return false;
        if (password->bytes().isEmpty()) {
            *error = QStringLiteral("%1 is empty; the empty password is used only with "
                                    "--no-password")
                             .arg(source);
            return false;
        }
    }
    password->setGiven();
    return true;
}

bool confirmPassword(Secret *password, QString *error)
{
    if (!password->isTyped())
        return true;
    Secret again;
    if (readTerminal(QStringLiteral("Again: "), &again) && password->equals(again)) {
        password->setTyped(false);
        return true;
    }
    *error = QStringLiteral("the two passwords differ; nothing was changed");
    return false;
}

bool readNewPassword(const PasswordOptions &options, const QString &prompt, Secret *password,
                     QString *error)
{
    QString source;
    if (!readFromSources(New, options, prompt, password, &source, error))
        return false;
    if (!password->bytes().isEmpty())
        return true;
    // Removing protection is unprotect's work; a new password is never empty.
    *error = QStringLiteral("%1 is empty; nothing was changed").arg(source);
    return false;
}
