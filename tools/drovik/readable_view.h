#ifndef DROVIK_TOOL_READABLE_VIEW_H
#define DROVIK_TOOL_READABLE_VIEW_H

#include "config_view.h"

// What FILE shows to someone without its password, read from the stored keys
// alone: nothing is decrypted, nothing written, nobody asked. Plain and marked
// parts come with their values. A protected section comes with its name and
// no parameters, a protected parameter with its name and no value (an
// invalid QVariant); a protected file hides every section.
ConfigView readableView(const QSettings &stored);

// Whether the named sections (all of them when sections is empty) hold
// anything that only the password opens.
bool needsPassword(const ConfigView &readable, const QStringList &sections);

#endif // DROVIK_TOOL_READABLE_VIEW_H
