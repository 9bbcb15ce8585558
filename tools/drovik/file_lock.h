#ifndef DROVIK_TOOL_FILE_LOCK_H
#define DROVIK_TOOL_FILE_LOCK_H

#include <QtCore/QLockFile>
#include <QtCore/QString>

// Keeps other runs of the tool away from one file while it is changed. A lock
// nobody holds any more is taken over: one whose process is gone, an empty or
// unreadable one (a run that died between creating and filling it), and one
// written on another host that is older than foreignStaleMs, since that
// holder cannot be asked whether it still runs.
class FileLock
{
public:
    explicit FileLock(const QString &lockPath);

    // Waits up to timeoutMs, saying once whom it waits for. False with *error
    // (naming the lock file) when the lock could not be had.
    bool acquire(int timeoutMs, QString *error);

    // A run holds its lock for a few seconds; ten minutes is far beyond any
    // run on another host that still lives.
    static constexpr qint64 foreignStaleMs = 10 * 60 * 1000;
    // An unreadable lock younger than this may still be being written.
    static constexpr qint64 unreadableStaleMs = 2000;

private:
    QString holder();
    bool isStale();

    QString m_path;
    QLockFile m_lock;
};

// How long a writing run waits for another one: DROVIK_LOCK_TIMEOUT seconds
// when set (scripts that would rather fail fast), else 30 s.
int lockTimeoutMs();

#endif // DROVIK_TOOL_FILE_LOCK_H
