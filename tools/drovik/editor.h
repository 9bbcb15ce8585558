#ifndef DROVIK_TOOL_EDITOR_H
#define DROVIK_TOOL_EDITOR_H

#include <QtCore/QString>

// The user's editor: $VISUAL, else $EDITOR, else vi. It is a shell command,
// so it may carry arguments ("code --wait").
QString editorCommand();

// Runs the editor on path and waits for it. False with *error when it cannot
// start or does not exit with status 0.
bool runEditor(const QString &path, QString *error);

#endif // DROVIK_TOOL_EDITOR_H
