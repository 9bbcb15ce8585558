#ifndef DROVIK_STORED_PROTECTION_H
#define DROVIK_STORED_PROTECTION_H

#include <drovik/drovik.h>

namespace drovik {

// See Drovik::storedProtection().
QMap<QString, Drovik::Protection> storedProtection(const QSettings *settings,
                                                   QStringList *layoutKeys);

} // namespace drovik

#endif // DROVIK_STORED_PROTECTION_H
