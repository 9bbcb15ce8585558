#ifndef DROVIK_TOOL_CONFIG_FILE_H
#define DROVIK_TOOL_CONFIG_FILE_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QString>
#include <QtCore/QVariant>

#include <memory>

class FileLock;
class QSettings;
class QTemporaryDir;

// How a command uses its FILE.
enum class Access {
    Read,        // must exist; never written, never locked
    Change,      // must exist and be writable; locked from load to save
    Create,      // as Change, but a missing file is created (its directory must exist)
    ChangeLater, // checked as Change, loaded as Read: the command locks later
};

// One configuration file opened for one command. Every check that can fail
// runs before anything is read, so a command never stops half-way.
//
// A writing command never lets QSettings write the file itself: the library
// works on a private copy (a 0600 file in a 0700 directory), and commit()
// puts the result in place with one rename that keeps owner, group and mode.
// So the file is either the old one or the new one, never half of each, and
// a symbolic link still points at it. The command holds a lock on the
// resolved path (RESOLVED.drovik-lock) from before the load until after the
// rename, so two runs never lose each other's change, whatever path each was
// given.
class ConfigFile
{
public:
    explicit ConfigFile(const QString &path);
    ~ConfigFile();

    // False with *error (a sentence naming the file) when the command cannot go on.
    bool open(Access access, QString *error);
    // The checks of open() alone, for a command that reads now and writes later.
    bool check(Access access, QString *error) const;
    // Puts back the keys outside any section (the library's saves drop them),
    // then replaces the file with the copy if anything changed.
    bool commit(QString *error);
    // Drops the copy and the lock; the file stays as commit() left it.
    void close();

    const QString &path() const { return m_path; }
    QSettings *settings() const { return m_settings.get(); }
    // Keys outside any section, as QSettings names them, in its order.
    QStringList ungroupedKeys() const;
    // Sets a key outside any section for commit() to write; an invalid value removes it.
    void setUngrouped(const QString &name, const QVariant &value);

private:
    bool openCopy(QString *error);

    QString m_path;
    QString m_target; // the resolved path: what is locked and replaced
    bool m_existed = false;
    QByteArray m_original;
    QList<QPair<QString, QVariant>> m_ungrouped;
    // Declared first, destroyed last: the copy goes while the lock is held.
    std::unique_ptr<FileLock> m_lock;
    std::unique_ptr<QTemporaryDir> m_copyDirectory;
    std::unique_ptr<QSettings> m_settings;
};

#endif // DROVIK_TOOL_CONFIG_FILE_H
