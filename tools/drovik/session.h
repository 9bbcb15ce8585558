#ifndef DROVIK_TOOL_SESSION_H
#define DROVIK_TOOL_SESSION_H

#include "config_file.h"
#include "config_view.h"
#include "password.h"

enum class PasswordNeed {
    WhenProtected, // only when the file holds something protected or marked
    Always,        // the command adds protection
    IfGiven,       // never asked for: without one, protected parts stay hidden
    IfInteractive, // asked for only when the terminal is both input and output
};

// What every command on FILE does first: open it, get its password when
// needed, and load it without writing, so that a wrong password stops the
// command before anything changed.
class Session
{
public:
    Session(const QString &path, const PasswordOptions &options)
        : file(path), m_options(options) { }

    // Exit::Ok to go on, or the status to end with (already reported). May
    // be called again (to lock after an edit): the password is not asked twice.
    int open(Access access, PasswordNeed need = PasswordNeed::WhenProtected);

    QSettings *settings() const { return file.settings(); }
    const QByteArray &secret() const { return password.bytes(); }
    const QString &path() const { return file.path(); }
    // Whether the view shows only the layout: no password was given for a
    // file that holds protected parts, whose contents stay hidden.
    bool hidden() const { return m_hidden; }

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

private:
    PasswordOptions m_options;
    bool m_hidden = false;
};

// Whether key names a parameter: SECTION/PARAMETER (or with a backslash).
bool isKeyPath(const QString &key);
QString sectionOfKey(const QString &key);

#endif // DROVIK_TOOL_SESSION_H
