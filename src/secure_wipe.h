#ifndef DROVIK_SECURE_WIPE_H
#define DROVIK_SECURE_WIPE_H

#include <cstddef>

class QByteArray;
class QString;

namespace drovik {

// Overwrites memory with zeros in a way the compiler cannot drop as dead
// stores, even when the buffer is freed right after.
void secureWipe(void *data, std::size_t size);

// Wipes the bytes a QByteArray or QString holds. Only meaningful when the
// object is the sole owner of its data: a shared buffer would first detach,
// and the wipe would then hit a fresh copy.
void secureWipe(QByteArray &bytes);
void secureWipe(QString &text);

} // namespace drovik

#endif // DROVIK_SECURE_WIPE_H
