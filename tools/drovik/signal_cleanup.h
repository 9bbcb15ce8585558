#ifndef DROVIK_TOOL_SIGNAL_CLEANUP_H
#define DROVIK_TOOL_SIGNAL_CLEANUP_H

class QByteArray;
struct termios;

// What must not outlive the process when a signal ends it: a terminal left
// without echo, and a decrypted copy of the configuration. The handlers only
// make async-signal-safe calls, then die by the same signal.
void installCleanupHandlers();

// While a password is typed: the terminal state to restore if a signal ends
// or stops the process, and the one without echo to take again when it
// continues. Both null when the prompt is over.
void setTerminalToRestore(const termios *original, const termios *prompting);

// A private directory to remove, with all it holds (an editor's swap files
// too), if a signal comes, until dropped when it is gone. False when it
// cannot be watched: the caller gives up rather than leave a copy behind.
bool addScratchToRemove(const QByteArray &directory);
void dropScratchToRemove(const QByteArray &directory);

#endif // DROVIK_TOOL_SIGNAL_CLEANUP_H
