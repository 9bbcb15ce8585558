#include "password.h"

#include "signal_cleanup.h"

#include <QtCore/QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Wipes through explicit_bzero, which the optimiser may not drop as a dead store.
void wipeBytes(void *data, std::size_t size)
{
    explicit_bzero(data, size);
}

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
    wipeBytes(buffer, sizeof buffer);
    return ok;
}

bool readFile(const QString &path, Secret *password, QString *error)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("%1: cannot read the password file: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const bool ok = readFrom(fd, false, password);
    close(fd);
    if (!ok) {
        *error = QStringLiteral("%1: cannot read the password file (or it is longer than %2 "
                                "bytes)")
                         .arg(path)
                         .arg(Secret::maxSize);
        return false;
    }
    password->dropFinalLineBreak();
    return true;
}

// The passwords the environment gave, moved out of it at start.
struct StashedPassword
{
    bool present = false;
    bool tooLong = false;
    Secret value;
};
const char *const passwordVariables[] = {"DROVIK_PASSWORD", "DROVIK_NEW_PASSWORD"};
StashedPassword &stashed(int index)
{
    static StashedPassword stash[2];
    return stash[index];
}

enum class Source { Absent, Taken, Failed };
Source fromEnvironment(int index, Secret *password, QString *error)
{
    StashedPassword &stash = stashed(index);
    if (!stash.present)
        return Source::Absent;
    if (!stash.tooLong
        && password->append(stash.value.bytes().constData(), stash.value.bytes().size())) {
        stash.value.wipe();
        return Source::Taken;
    }
    *error = QStringLiteral("%1 is longer than %2 bytes")
                     .arg(QLatin1String(passwordVariables[index]))
                     .arg(Secret::maxSize);
    return Source::Failed;
}

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

bool onTerminal()
{
    return isatty(STDIN_FILENO) == 1;
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
        wipeBytes(m_bytes.data(), std::size_t(m_bytes.capacity()));
    m_bytes.resize(0);
}

void takePasswordsFromEnvironment()
{
    for (int index = 0; index < 2; ++index) {
        char *text = std::getenv(passwordVariables[index]);
        if (!text)
            continue;
        StashedPassword &stash = stashed(index);
        const std::size_t size = std::strlen(text);
        stash.present = true;
        stash.tooLong = size > std::size_t(Secret::maxSize) || !stash.value.append(text, int(size));
        wipeBytes(text, size);
        unsetenv(passwordVariables[index]);
    }
}

namespace {

const QString emptyRefused
        = QStringLiteral("%1 is empty; the empty password is used only with --no-password");

bool readCurrent(const PasswordOptions &options, const QString &prompt, Secret *password,
                 QString *error)
{
    if (options.none)
        return true;
    QString source;
    if (!options.file.isEmpty()) {
        if (!readFile(options.file, password, error))
            return false;
        source = QStringLiteral("the password file %1").arg(options.file);
    } else if (const Source environment = fromEnvironment(0, password, error);
               environment != Source::Absent) {
        if (environment == Source::Failed)
            return false;
        source = QStringLiteral("DROVIK_PASSWORD");
    } else if (onTerminal() && readTerminal(prompt, password)) {
        source = QStringLiteral("the password typed");
    } else {
        *error = QStringLiteral("no password: run on a terminal, give --password-file FILE or "
                                "--no-password, or set DROVIK_PASSWORD");
        return false;
    }
    if (!password->bytes().isEmpty())
        return true;
    *error = emptyRefused.arg(source);
    return false;
}

} // namespace

bool readPassword(const PasswordOptions &options, const QString &prompt, Secret *password,
                  QString *error)
{
    if (!readCurrent(options, prompt, password, error))
        return false;
    password->setGiven();
    return true;
}

bool confirmPassword(const Secret &password, QString *error)
{
    if (!password.isTyped())
        return true;
    Secret again;
    if (readTerminal(QStringLiteral("Again: "), &again) && password.equals(again))
        return true;
    *error = QStringLiteral("the two passwords differ; nothing was changed");
    return false;
}

bool readNewPassword(const QString &file, const QString &prompt, Secret *password, QString *error)
{
    QString source;
    if (!file.isEmpty()) {
        if (!readFile(file, password, error))
            return false;
        source = QStringLiteral("the new password file %1").arg(file);
    } else if (const Source environment = fromEnvironment(1, password, error);
               environment != Source::Absent) {
        if (environment == Source::Failed)
            return false;
        source = QStringLiteral("DROVIK_NEW_PASSWORD");
    } else if (onTerminal()) {
        if (!readTerminal(prompt, password))
            return false;
        source = QStringLiteral("the new password typed");
        if (!password->bytes().isEmpty() && !confirmPassword(*password, error))
            return false;
    } else {
        *error = QStringLiteral("no new password: run on a terminal, give --new-password-file "
                                "FILE or set DROVIK_NEW_PASSWORD");
        return false;
    }
    if (!password->bytes().isEmpty())
        return true;
    // Removing protection is unprotect's work; a new password is never empty.
    *error = QStringLiteral("%1 is empty; nothing was changed").arg(source);
    return false;
}
