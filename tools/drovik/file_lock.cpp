#include "file_lock.h"

#include "console.h"

#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QSysInfo>
#include <QtCore/QThread>

#include <cerrno>
#include <signal.h>

FileLock::FileLock(const QString &lockPath) : m_path(lockPath), m_lock(lockPath)
{
    // No age limit for a holder on this host: a slow run is no stale lock,
    // and a dead one is recognised by its process id.
    m_lock.setStaleLockTime(0);
}

QString FileLock::holder()
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock.getLockInfo(&pid, &host, &application))
        return QStringLiteral("unreadable");
    return host.isEmpty() ? QStringLiteral("pid %1").arg(pid)
                          : QStringLiteral("pid %1 on %2").arg(pid).arg(host);
}

bool FileLock::isStale()
{
    const QDateTime modified = QFileInfo(m_path).lastModified();
    if (!modified.isValid())
        return false; // gone meanwhile: the next try takes it
    const qint64 age = qAbs(modified.msecsTo(QDateTime::currentDateTime()));
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock.getLockInfo(&pid, &host, &application))
        return age > unreadableStaleMs;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return age > foreignStaleMs;
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

bool FileLock::acquire(int timeoutMs, QString *error)
{
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    for (;;) {
        if (m_lock.tryLock(0))
            return true;
        if (m_lock.error() != QLockFile::LockFailedError) {
            *error = QStringLiteral("cannot create the lock file %1").arg(m_path);
            return false;
        }
        const QString held = holder();
        if (isStale() && m_lock.removeStaleLockFile()) {
            note(QStringLiteral("took over the stale lock file %1 (%2)").arg(m_path, held));
            continue;
        }
        if (waited.elapsed() >= timeoutMs) {
            *error = QStringLiteral("the lock file %1 is still held (%2); nothing was changed. "
                                    "Try again later, or remove the lock file if no drovik "
                                    "runs on this file")
                             .arg(m_path, held);
            return false;
        }
        if (!told)
            note(QStringLiteral("waiting for the lock file %1 (%2)").arg(m_path, held));
        told = true;
        QThread::msleep(100);
    }
}

int lockTimeoutMs()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("DROVIK_LOCK_TIMEOUT", &ok);
    return ok && seconds >= 0 ? seconds * 1000 : 30000;
}
