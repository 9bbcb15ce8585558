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

// Takes the variable's text and removes it from the environment (wiping its
// bytes there), so an editor started later does not inherit it.
enum class Source { Absent, Taken, Failed };
Source fromEnvironment(const char *name, Secret *password, QString *error)
{
    char *text = std::getenv(name);
    if (!text)
        return Source::Absent;
    const std::size_t size = std::strlen(text);
    const bool fits = size <= std::size_t(Secret::maxSize) && password->append(text, int(size));
    wipeBytes(text, size);
    unsetenv(name);
    if (fits)
        return Source::Taken;
    *error = QStringLiteral("%1 is longer than %2 bytes")
                     .arg(QLatin1String(name))
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
    setTerminalToRestore(&original);
    const QByteArray text = prompt.toLocal8Bit();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    const bool ok = readFrom(STDIN_FILENO, true, password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &original);
    setTerminalToRestore(nullptr);
    std::fputc('\n', stderr);
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

namespace {

bool readCurrent(const PasswordOptions &options, const QString &prompt, Secret *password,
                 QString *error)
{
    if (options.none)
        return true;
    if (!options.file.isEmpty())
        return readFile(options.file, password, error);
    const Source environment = fromEnvironment("DROVIK_PASSWORD", password, error);
    if (environment != Source::Absent)
        return environment == Source::Taken;
    if (onTerminal() && readTerminal(prompt, password))
        return true;
    *error = QStringLiteral("no password: run on a terminal, give --password-file FILE or "
                            "--no-password, or set DROVIK_PASSWORD");
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

bool readNewPassword(const QString &file, const QString &prompt, Secret *password, QString *error)
{
    if (!file.isEmpty())
        return readFile(file, password, error);
    const Source environment = fromEnvironment("DROVIK_NEW_PASSWORD", password, error);
    if (environment != Source::Absent)
        return environment == Source::Taken;
    if (onTerminal()) {
        Secret again;
        if (readTerminal(prompt, password) && readTerminal(QStringLiteral("Again: "), &again)) {
            if (password->equals(again))
                return true;
            *error = QStringLiteral("the two new passwords differ; nothing was changed");
            return false;
        }
    }
    *error = QStringLiteral("no new password: run on a terminal, give --new-password-file FILE "
                            "or set DROVIK_NEW_PASSWORD");
    return false;
}
