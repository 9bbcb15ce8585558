#ifndef DROVIK_TOOL_FILE_REPLACE_H
#define DROVIK_TOOL_FILE_REPLACE_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Puts content at target in one step: a new file beside it (created 0600,
// then given the owner, group and mode of the file it replaces), flushed to
// disk, renamed over target, and the directory flushed. target must be the
// resolved path, so that a symbolic link keeps pointing at the new content.
// Either the rename happened (true) or target is untouched (false with
// *error).
bool replaceFile(const QString &target, const QByteArray &content, QString *error);

#endif // DROVIK_TOOL_FILE_REPLACE_H
