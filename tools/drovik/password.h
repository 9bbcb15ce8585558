#ifndef DROVIK_TOOL_PASSWORD_H
#define DROVIK_TOOL_PASSWORD_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// A password held in one buffer that is never shared and is wiped when the
// object goes, so no copy of it outlives the command.
class Secret
{
public:
    Secret();
    ~Secret();
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;

    const QByteArray &bytes() const { return m_bytes; }
    // Whether a source gave the password (which may be empty), so a command
    // that loads twice asks once.
    bool isGiven() const { return m_given; }
    void setGiven() { m_given = true; }
    // Whether it was typed on the terminal, where a typo goes unseen, and
    // not yet typed a second time to match.
    bool isTyped() const { return m_typed; }
    void setTyped(bool typed = true) { m_typed = typed; }
    bool equals(const Secret &other) const;
    // False when the password would grow beyond the limit.
    bool append(const char *data, int size);
    // A password file may end in one line break, as editors write it; the
    // break is not part of the password.
    void dropFinalLineBreak();
    void wipe();

    static constexpr int maxSize = 4096;

private:
    QByteArray m_bytes;
    bool m_given = false;
    bool m_typed = false;
};

// Where a password comes from, first to last: --no-password (the current
// password only), a file ('-' for standard input), a command whose first
// line of output is the password, the environment variable, the variable
// naming a command, the terminal.
struct PasswordOptions
{
    bool none = false;
    QString file;
    QString command;
};

// Moves DROVIK_PASSWORD, DROVIK_NEW_PASSWORD and the variables naming their
// commands out of the environment, once at start, so that nothing started
// later can inherit them.
void takePasswordsFromEnvironment();

// Whether a source other than the terminal gives the current password.
bool passwordGiven(const PasswordOptions &options);

// False with *error when no source gives a password, a source fails, or the
// password is empty without --no-password.
bool readPassword(const PasswordOptions &options, const QString &prompt, Secret *password,
                  QString *error);

// A typed password that nothing can check yet (the file holds nothing
// protected) is asked again; false with *error when the two differ.
bool confirmPassword(Secret *password, QString *error);

// The new password of `drovik passwd`, from its own options and variables,
// typed twice on the terminal. Never empty.
bool readNewPassword(const PasswordOptions &options, const QString &prompt, Secret *password,
                     QString *error);

#endif // DROVIK_TOOL_PASSWORD_H
