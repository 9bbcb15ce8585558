#ifndef DROVIK_TOOL_SESSION_H
#define DROVIK_TOOL_SESSION_H

#include "config_file.h"
#include "config_view.h"
#include "password.h"

enum class PasswordNeed {
    WhenProtected, // only when the file holds something protected or marked
    Always,        // the command adds protection
};

// What every command on FILE does first: open it, get its password when
// needed, and load it without writing, so that a wrong password stops the
// command before anything changed.
class Session
{
public:
    explicit Session(const QString &path) : file(path) { }

    // Exit::Ok to go on, or the status to end with (already reported). May
    // be called again (to lock after an edit): the password is not asked twice.
    int open(Access access, const PasswordOptions &options,
             PasswordNeed need = PasswordNeed::WhenProtected);

    QSettings *settings() const { return file.settings(); }
    const QByteArray &secret() const { return password.bytes(); }
    const QString &path() const { return file.path(); }

    // Reports a password that does not open the file; returns the status.
    int wrongPassword() const;
    // Stores protected whatever is marked (the library's one-key shortcut
    // leaves it plain), then writes what the command changed and reports a
    // failed write. passwd passes the new password.
    int commit();
    int commit(const QByteArray &currentPassword);

    ConfigFile file;
    Secret password;
    ConfigView view;
};

// Whether key names a parameter: SECTION/PARAMETER (or with a backslash).
bool isKeyPath(const QString &key);
QString sectionOfKey(const QString &key);

#endif // DROVIK_TOOL_SESSION_H
