#include "signal_cleanup.h"

#include <QtCore/QByteArray>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Filled before the handlers may need them, so the handlers never allocate.
volatile sig_atomic_t haveTerminal = 0;
termios savedTerminal;
termios promptTerminal;
// Every private directory alive at once: the working copy of a change and
// the decrypted copy of an edit.
struct Scratch
{
    char path[PATH_MAX];
    volatile sig_atomic_t fd = -1;
};
Scratch scratches[4];

const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Removes everything below the directory open as fd. readdir may allocate,
// so the entries come from the system call itself; nesting is bounded, as
// an editor's swap files are at most a level or two deep.
void emptyDirectory(int fd, int depth)
{
    alignas(dirent64) char buffer[2048];
    bool removedSome = true;
    // Entries removed while listing may shift the rest: list again until a
    // pass removes nothing.
    while (removedSome) {
        removedSome = false;
        lseek(fd, 0, SEEK_SET);
        long count;
        while ((count = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0) {
            for (long at = 0; at < count;) {
                const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
                at += entry->d_reclen;
                const char *name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                    continue;
                if (unlinkat(fd, name, 0) == 0) {
                    removedSome = true;
                    continue;
                }
                if (depth >= 4)
                    continue;
                const int inner = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner < 0)
                    continue;
                emptyDirectory(inner, depth + 1);
                close(inner);
                if (unlinkat(fd, name, AT_REMOVEDIR) == 0)
                    removedSome = true;
            }
        }
    }
}

void cleanUpAndDie(int signal)
{
    if (haveTerminal)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (Scratch &scratch : scratches) {
        if (scratch.fd >= 0) {
            emptyDirectory(scratch.fd, 0);
            rmdir(scratch.path);
        }
    }
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// Ctrl-Z at the prompt: echo back on while stopped, off again on return.
void stopWithTerminalRestored(int)
{
    const int savedErrno = errno;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP); // pending until unblocked just below: the process stops there
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    std::signal(SIGTSTP, stopWithTerminalRestored);
    if (haveTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &promptTerminal);
    errno = savedErrno;
}

// Changes what the handlers read with the signals held off, so a handler
// never sees a half-copied path.
class SignalsHeld
{
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &m_previous);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &m_previous, nullptr); }

private:
    sigset_t m_previous;
};

} // namespace

void installCleanupHandlers()
{
    for (const int signal : handledSignals) {
        // A signal the caller ignores (a background job's SIGINT) stays ignored.
        struct sigaction previous = {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = cleanUpAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

void setTerminalToRestore(const termios *original, const termios *prompting)
{
    static struct sigaction previousStop = {};
    SignalsHeld held;
    if (original && prompting) {
        savedTerminal = *original;
        promptTerminal = *prompting;
        struct sigaction action = {};
        action.sa_handler = stopWithTerminalRestored;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTSTP, &action, &previousStop);
        haveTerminal = 1;
    } else if (haveTerminal) {
        haveTerminal = 0;
        sigaction(SIGTSTP, &previousStop, nullptr);
    }
}

bool addScratchToRemove(const QByteArray &directory)
{
    SignalsHeld held;
    if (directory.isEmpty() || std::size_t(directory.size()) >= sizeof scratches[0].path)
        return false;
    for (Scratch &scratch : scratches) {
        if (scratch.fd >= 0)
            continue;
        std::memcpy(scratch.path, directory.constData(), std::size_t(directory.size()));
        scratch.path[directory.size()] = '\0';
        scratch.fd = open(scratch.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return scratch.fd >= 0;
    }
    return false;
}

void dropScratchToRemove(const QByteArray &directory)
{
    SignalsHeld held;
    for (Scratch &scratch : scratches) {
        if (scratch.fd >= 0 && directory == scratch.path) {
            close(scratch.fd);
            scratch.fd = -1;
            scratch.path[0] = '\0';
        }
    }
}
