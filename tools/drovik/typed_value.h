#ifndef DROVIK_TOOL_TYPED_VALUE_H
#define DROVIK_TOOL_TYPED_VALUE_H

#include <QtCore/QStringList>
#include <QtCore/QVariant>

// The kinds `drovik set --type` takes, as named on the command line.
QStringList valueTypeNames();

// The VALUE arguments of `drovik set` as a value of the named kind: int
// (64-bit), double, bool (true/false, yes/no, on/off, 1/0), string, or list
// (each argument one item). False with *error for a bad type or value.
bool parseTypedValue(const QString &type, const QStringList &arguments, QVariant *value,
                     QString *error);

// A value as edited text came back (a text or a text list), turned into the
// kind the old value had when the text still reads as one: an edited number
// stays a number where it is stored protected.
QVariant withKindOf(const QVariant &old, const QVariant &edited);

// The kind of a value by the names of valueTypeNames(): what `show --json`
// prints beside it, so that `apply` gives it back the same kind (JSON alone
// writes a whole double as an integer).
QString valueTypeName(const QVariant &value);

// The lines `drovik get` prints: one per list item.
QStringList valueLines(const QVariant &value);

#endif // DROVIK_TOOL_TYPED_VALUE_H
