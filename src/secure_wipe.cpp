#include "secure_wipe.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <string.h>

namespace drovik {

void secureWipe(void *data, std::size_t size)
{
    // explicit_bzero() is a memset the compiler may not drop; a byte loop
    // through a volatile pointer would cost 4 KiB of single-byte stores for
    // every cipher object, a tenth of its key schedule.
    explicit_bzero(data, size);
}

void secureWipe(QByteArray &bytes)
{
    // A shared buffer is still read by another owner: wiping it would corrupt
    // that owner, and data() would only detach and wipe a fresh copy.
    if (!bytes.isEmpty() && bytes.isDetached())
        secureWipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
    bytes.clear();
}

void secureWipe(QString &text)
{
    if (!text.isEmpty() && text.isDetached())
        secureWipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

} // namespace drovik
