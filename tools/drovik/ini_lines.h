#ifndef DROVIK_TOOL_INI_LINES_H
#define DROVIK_TOOL_INI_LINES_H

#include <QtCore/QByteArray>
#include <QtCore/QStringList>

// The lines of INI text that QSettings cannot read and leaves out of the
// file on its next write, each as "line N: TEXT" (TEXT shortened, control
// bytes escaped): lines that are no section header, no key=value, no comment
// and no continuation of the line before. Comments (';' or '#' first) are
// not among them: QSettings drops them too, but they carry no data.
QStringList unreadableLines(const QByteArray &text);

#endif // DROVIK_TOOL_INI_LINES_H
