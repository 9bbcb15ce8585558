#include "secure_wipe.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace drovik {

void secureWipe(void *data, std::size_t size)
{
    volatile unsigned char *bytes = static_cast<volatile unsigned char *>(data);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = 0;
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
