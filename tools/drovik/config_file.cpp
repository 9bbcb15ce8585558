#include "config_file.h"

#include "console.h"
#include "file_lock.h"
#include "file_replace.h"
#include "ini_lines.h"
#include "signal_cleanup.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

// access() rather than permission bits: it also answers for read-only mounts,
// ACLs and the superuser.
bool allowed(const QString &path, int mode)
{
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}

// The one name of the file, whatever link or spelling led to it; for a file
// yet to be created, its resolved directory and its name.
QString resolvedPath(const QString &path)
{
    const QFileInfo file(path);
    if (file.exists())
        return file.canonicalFilePath();
    return QFileInfo(file.absolutePath()).canonicalFilePath() + QLatin1Char('/') + file.fileName();
}

bool readAll(const QString &path, QByteArray *content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return file.error() == QFile::NoError;
}

// A few of them are enough to find the spot; a binary file has hundreds.
QString firstLines(const QStringList &lines)
{
    const int shown = 3;
    QString text = lines.mid(0, shown).join(QStringLiteral(", "));
    if (lines.size() > shown)
        text += QStringLiteral(" (and %1 more lines)").arg(lines.size() - shown);
    return text;
}

} // namespace

ConfigFile::ConfigFile(const QString &path) : m_path(path) { }

ConfigFile::~ConfigFile() = default;

bool ConfigFile::check(Access access, QString *error) const
{
    const QFileInfo file(m_path);
    const QFileInfo directory(file.absolutePath());
    if (!file.exists()) {
        // Writing through a link to nowhere would either put a regular file
        // in the link's place or create a file the user may not expect.
        if (file.isSymLink())
            *error = QStringLiteral("%1: a symbolic link to %2, which does not exist; nothing was "
                                    "changed")
                             .arg(m_path, file.symLinkTarget());
        else if (access != Access::Create)
            *error = QStringLiteral("%1: no such file").arg(m_path);
        else if (!directory.isDir())
            *error = QStringLiteral("%1: the directory %2 does not exist")
                             .arg(m_path, directory.filePath());
        else if (!allowed(directory.filePath(), W_OK | X_OK))
            *error = QStringLiteral("%1: cannot create the file: the directory is not writable")
                             .arg(m_path);
        return error->isEmpty();
    }
    const QFileInfo target(file.canonicalFilePath());
    if (!file.isFile())
        *error = QStringLiteral("%1: not a regular file").arg(m_path);
    else if (!allowed(m_path, R_OK))
        *error = QStringLiteral("%1: permission denied (cannot read)").arg(m_path);
    else if (access != Access::Read && !allowed(m_path, W_OK))
        *error = QStringLiteral("%1: permission denied (cannot write)").arg(m_path);
    else if (access != Access::Read && !allowed(target.absolutePath(), W_OK | X_OK))
        // The new content arrives as a new file beside the old one, and the lock lives there too.
        *error = QStringLiteral("%1: cannot change the file: its directory is not writable")
                         .arg(m_path);
    return error->isEmpty();
}

bool ConfigFile::open(Access access, QString *error)
{
    close();
    if (!check(access, error))
        return false;
    m_target = resolvedPath(m_path);
    if (access == Access::ChangeLater)
        access = Access::Read;
    if (access != Access::Read) {
        m_lock = std::make_unique<FileLock>(m_target + QStringLiteral(".drovik-lock"));
        if (!m_lock->acquire(lockTimeoutMs(), error)) {
            *error = QStringLiteral("%1: %2").arg(m_path, *error);
            return false;
        }
    }
    m_existed = QFileInfo::exists(m_target);
    if (m_existed && !readAll(m_target, &m_original)) {
        *error = QStringLiteral("%1: cannot read the file").arg(m_path);
        return false;
    }
    const QStringList unreadable = unreadableLines(m_original);
    if (!unreadable.isEmpty() && access != Access::Read) {
        *error = QStringLiteral("%1: %2 is no INI text, and the file would lose it on writing; "
                                "nothing was changed. Make it a comment (';' first) or remove it")
                         .arg(m_path, firstLines(unreadable));
        return false;
    }
    for (const QString &line : unreadable)
        note(QStringLiteral("%1: %2 is no INI text; ignored").arg(m_path, line));
    if (access == Access::Read)
        m_settings = std::make_unique<QSettings>(m_target, QSettings::IniFormat);
    else if (!openCopy(error))
        return false;
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
    // A format error only says that some line did not parse: those lines are
    // judged above, and comments are no error.
    if (m_settings->status() == QSettings::AccessError) {
        *error = QStringLiteral("%1: cannot read the file").arg(m_path);
        return false;
    }
    const QStringList keys = m_settings->childKeys();
    for (const QString &key : keys)
        m_ungrouped.append({key, m_settings->value(key)});
    return true;
}

bool ConfigFile::openCopy(QString *error)
{
    m_copyDirectory
            = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/drovik-XXXXXX"));
    // Removed on SIGINT, SIGTERM and SIGHUP too: it may hold unprotected values.
    if (m_copyDirectory->isValid()
        && !addScratchToRemove(QFile::encodeName(m_copyDirectory->path()))) {
        *error = QStringLiteral("%1: cannot watch the private working copy in %2")
                         .arg(m_path, QDir::tempPath());
        return false;
    }
    const QString copy = m_copyDirectory->filePath(QStringLiteral("copy.ini"));
    const QByteArray name = QFile::encodeName(copy);
    const int fd = m_copyDirectory->isValid()
            ? ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
            : -1;
    QFile file;
    const bool written = fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFile::AutoCloseHandle)
            && file.write(m_original) == m_original.size() && file.flush();
    if (fd >= 0 && !file.isOpen())
        ::close(fd);
    file.close();
    if (!written) {
        *error = QStringLiteral("%1: cannot make a private working copy in %2")
                         .arg(m_path, QDir::tempPath());
        return false;
    }
    m_settings = std::make_unique<QSettings>(copy, QSettings::IniFormat);
    return true;
}

QStringList ConfigFile::ungroupedKeys() const
{
    QStringList keys;
    for (const auto &entry : m_ungrouped)
        keys.append(entry.first);
    return keys;
}

void ConfigFile::setUngrouped(const QString &name, const QVariant &value)
{
    for (int i = 0; i < m_ungrouped.size(); ++i) {
        if (m_ungrouped.at(i).first == name) {
            if (value.isValid())
                m_ungrouped[i].second = value;
            else
                m_ungrouped.removeAt(i);
            return;
        }
    }
    if (value.isValid())
        m_ungrouped.append({name, value});
}

void ConfigFile::close()
{
    m_settings.reset();
    const QByteArray copyDirectory
            = m_copyDirectory ? QFile::encodeName(m_copyDirectory->path()) : QByteArray();
    m_copyDirectory.reset();
    dropScratchToRemove(copyDirectory);
    m_lock.reset();
    m_ungrouped.clear();
    m_original.clear();
}

bool ConfigFile::commit(QString *error)
{
    for (const auto &entry : qAsConst(m_ungrouped))
        m_settings->setValue(entry.first, entry.second);
    m_settings->sync();
    QByteArray content;
    if (m_settings->status() == QSettings::AccessError
        || !readAll(m_settings->fileName(), &content)) {
        *error = QStringLiteral("%1: cannot write the private working copy; nothing was changed")
                         .arg(m_path);
        return false;
    }
    if (m_existed && content == m_original)
        return true;
    // Another program (not this tool: it waits for the lock) may have written
    // the file since it was read; replacing it would lose that change.
    QByteArray now;
    if (QFileInfo::exists(m_target) != m_existed || (m_existed && !readAll(m_target, &now))
        || now != m_original) {
        *error = QStringLiteral("%1: changed by another program meanwhile; nothing was changed")
                         .arg(m_path);
        return false;
    }
    return replaceFile(m_target, content, error);
}
