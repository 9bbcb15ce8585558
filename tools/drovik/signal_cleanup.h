#ifndef DROVIK_TOOL_SIGNAL_CLEANUP_H
#define DROVIK_TOOL_SIGNAL_CLEANUP_H

class QByteArray;
struct termios;

// What must not outlive the process when a signal ends it: a terminal left
// without echo, and a decrypted copy of the configuration. The handlers only
// make async-signal-safe calls, then die by the same signal.
void installCleanupHandlers();

// The terminal state to restore if a signal comes while a password is typed;
// null when the prompt is over.
void setTerminalToRestore(const termios *state);

// The decrypted copy and its private directory to remove if a signal comes;
// empty arrays when they are gone.
void setScratchToRemove(const QByteArray &directory, const QByteArray &file);

#endif // DROVIK_TOOL_SIGNAL_CLEANUP_H
