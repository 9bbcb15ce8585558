#ifndef DROVIK_TOOL_CONFIG_FILE_H
#define DROVIK_TOOL_CONFIG_FILE_H

#include <QtCore/QString>

#include <memory>

class QLockFile;
class QSettings;

// How a command uses its FILE.
enum class Access {
    Read,   // must exist; never written, never locked
    Change, // must exist and be writable; locked from load to save
    Create, // as Change, but a missing file is created (its directory must exist)
};

// One configuration file opened for one command. Every check that can fail
// runs before anything is read, so a command never stops half-way. Commands
// that write hold a lock beside the file (FILE.drovik-lock; QSettings itself
// takes FILE.lock while it writes) from before the load until after the save,
// so two concurrent runs never lose each other's change.
class ConfigFile
{
public:
    explicit ConfigFile(const QString &path);
    ~ConfigFile();

    // False with *error (a sentence naming the file) when the command cannot go on.
    bool open(Access access, QString *error);
    // The checks of open() alone, for a command that reads now and writes later.
    bool check(Access access, QString *error) const;
    // Writes what the library changed and reports a write that failed.
    bool commit(QString *error);
    // Drops the settings (writing what they still hold), then the lock.
    void close();

    const QString &path() const { return m_path; }
    QSettings *settings() const { return m_settings.get(); }

    static constexpr int lockTimeoutMs = 30000;

private:
    bool lock(QString *error);

    QString m_path;
    // Declared before the settings: destroyed after them, so any write the
    // settings still do on destruction happens under the lock.
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QSettings> m_settings;
};

#endif // DROVIK_TOOL_CONFIG_FILE_H
