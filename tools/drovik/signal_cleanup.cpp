#include "signal_cleanup.h"

#include <QtCore/QByteArray>

#include <climits>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

// Filled before the handlers may need them, so the handlers never allocate.
volatile sig_atomic_t haveTerminal = 0;
termios savedTerminal;
char scratchDirectory[PATH_MAX];
char scratchFile[PATH_MAX];

const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void cleanUpAndDie(int signal)
{
    if (haveTerminal)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    if (scratchFile[0] != '\0')
        unlink(scratchFile);
    if (scratchDirectory[0] != '\0')
        rmdir(scratchDirectory);
    std::signal(signal, SIG_DFL);
    raise(signal);
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

void copyPath(char (&target)[PATH_MAX], const QByteArray &path)
{
    const std::size_t size
            = std::size_t(path.size()) < sizeof target ? std::size_t(path.size()) : 0;
    std::memcpy(target, path.constData(), size);
    target[size] = '\0';
}

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

void setTerminalToRestore(const termios *state)
{
    SignalsHeld held;
    if (state)
        savedTerminal = *state;
    haveTerminal = state ? 1 : 0;
}

void setScratchToRemove(const QByteArray &directory, const QByteArray &file)
{
    SignalsHeld held;
    copyPath(scratchDirectory, directory);
    copyPath(scratchFile, file);
}
