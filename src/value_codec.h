#ifndef DROVIK_VALUE_CODEC_H
#define DROVIK_VALUE_CODEC_H

#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QVariant>

namespace drovik {

// The typed text form of a payload map and back: integers, doubles, booleans,
// texts and text lists keep their kind. Unreadable entries are skipped.
QString toTypedText(const QMap<QString, QVariant> &map);
QMap<QString, QVariant> fromTypedText(const QString &text);

} // namespace drovik

#endif // DROVIK_VALUE_CODEC_H
