#ifndef DROVIK_STORED_CHUNKS_H
#define DROVIK_STORED_CHUNKS_H

#include <QtCore/QString>
#include <QtCore/QStringList>

namespace drovik {

// True when one of the names (already known to start with chunkPrefix) is the
// chunk key of an index beyond the first missing one. Joining stops at a gap,
// and under ECB the part before the gap still decrypts: a payload whose check
// text sorts before the cut would load with its last values truncated, and the
// next save would store them so. Such damage is refused like a wrong password.
bool chunkBeyondGap(const QStringList &chunkNames, const QString &chunkPrefix, int gap);

} // namespace drovik

#endif // DROVIK_STORED_CHUNKS_H
