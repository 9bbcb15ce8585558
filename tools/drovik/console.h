#ifndef DROVIK_TOOL_CONSOLE_H
#define DROVIK_TOOL_CONSOLE_H

#include <QtCore/QString>

// Exit statuses: scripts tell "not there" from "could not run" without
// parsing messages.
namespace Exit {
enum : int {
    Ok = 0,
    NotFound = 1,      // key, section or parameter absent
    WrongPassword = 1, // the password does not open the file; nothing changed
    Usage = 2,         // bad arguments
    IoError = 2,       // missing, unreadable or unwritable file, editor failure
};
}

// Text on stdout, UTF-8, as given (callers add the newline).
void printOut(const QString &text);
void printOut(const QByteArray &bytes);

// "drovik: message" on stderr; returns code so callers can `return fail(...)`.
int fail(int code, const QString &message);
// "drovik: message" on stderr for something worth knowing that is no error;
// nothing under --quiet.
void note(const QString &message);
void setQuiet(bool quiet);

#endif // DROVIK_TOOL_CONSOLE_H
