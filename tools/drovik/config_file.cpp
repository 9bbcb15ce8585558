#include "config_file.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLockFile>
#include <QtCore/QSettings>

#include <unistd.h>

namespace {

// access() rather than permission bits: it also answers for read-only mounts,
// ACLs and the superuser.
bool allowed(const QString &path, int mode)
{
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

ConfigFile::ConfigFile(const QString &path) : m_path(path) { }

ConfigFile::~ConfigFile() = default;

bool ConfigFile::check(Access access, QString *error) const
{
    const QFileInfo file(m_path);
    const QFileInfo directory(file.absolutePath());
    if (!file.exists()) {
        if (access != Access::Create)
            *error = QStringLiteral("%1: no such file").arg(m_path);
        else if (!directory.isDir())
            *error = QStringLiteral("%1: the directory %2 does not exist")
                             .arg(m_path, directory.filePath());
        else if (!allowed(directory.filePath(), W_OK | X_OK))
            *error = QStringLiteral("%1: cannot create the file: the directory is not writable")
                             .arg(m_path);
        return error->isEmpty();
    }
    if (!file.isFile())
        *error = QStringLiteral("%1: not a regular file").arg(m_path);
    else if (!allowed(m_path, R_OK))
        *error = QStringLiteral("%1: permission denied (cannot read)").arg(m_path);
    else if (access != Access::Read && !allowed(m_path, W_OK))
        *error = QStringLiteral("%1: permission denied (cannot write)").arg(m_path);
    else if (access != Access::Read && !allowed(directory.filePath(), W_OK | X_OK))
        // QSettings replaces the file through a new one beside it, and the lock lives there too.
        *error = QStringLiteral("%1: cannot change the file: its directory is not writable")
                         .arg(m_path);
    return error->isEmpty();
}

bool ConfigFile::lock(QString *error)
{
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".drovik-lock"));
    // No age limit: a slow run is no stale lock. A lock left by a process
    // that died is still taken over (QLockFile checks the process id).
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(lockTimeoutMs))
        return true;
    if (m_lock->error() != QLockFile::LockFailedError) {
        *error = QStringLiteral("%1: cannot create the lock file %1.drovik-lock").arg(m_path);
        return false;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    const QString holder = m_lock->getLockInfo(&pid, &host, &application)
            ? QStringLiteral(" (pid %1)").arg(pid)
            : QString();
    *error = QStringLiteral("%1: in use by another process%2; try again later").arg(m_path, holder);
    return false;
}

bool ConfigFile::open(Access access, QString *error)
{
    if (!check(access, error))
        return false;
    if (access != Access::Read && !lock(error))
        return false;
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Text is read as UTF-8, as Qt 6 programs (and Qt 5 ones with that codec)
    // write it, but written with non-ASCII characters escaped, which every Qt
    // version reads alike; a rewrite then never garbles another program's text.
    // QSettings parses a file's sections on first use, so they are parsed now,
    // before the codec is dropped again for writing.
    m_settings->setIniCodec("UTF-8");
    static_cast<void>(m_settings->allKeys());
    m_settings->setIniCodec(static_cast<QTextCodec *>(nullptr));
#endif
    switch (m_settings->status()) {
    case QSettings::NoError:
        return true;
    case QSettings::AccessError:
        *error = QStringLiteral("%1: cannot read the file").arg(m_path);
        return false;
    case QSettings::FormatError:
        *error = QStringLiteral("%1: not an INI file").arg(m_path);
        return false;
    }
    return false;
}

void ConfigFile::close()
{
    m_settings.reset();
    m_lock.reset();
}

bool ConfigFile::commit(QString *error)
{
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError)
        return true;
    *error = QStringLiteral("%1: could not be written").arg(m_path);
    return false;
}
