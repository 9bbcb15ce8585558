#ifndef DROVIK_TOOL_INI_TEXT_H
#define DROVIK_TOOL_INI_TEXT_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

class QVariant;
struct ConfigView;

// The configuration as INI text in UTF-8, escaped so that QSettings with the
// UTF-8 codec reads back the same names and values. Every protected or marked
// part is preceded by a comment that says so; preamble comes first.
QByteArray iniText(const ConfigView &view, const QString &preamble = QString());

// The text a value has on the right of "key=": equal texts read back as equal
// values, so comparing texts tells whether an edit changed a value.
QString iniValueText(const QVariant &value);

#endif // DROVIK_TOOL_INI_TEXT_H
