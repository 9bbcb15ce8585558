#ifndef DROVIK_TESTS_BLOWFISH_REFERENCE_H
#define DROVIK_TESTS_BLOWFISH_REFERENCE_H

#include <QtCore/QByteArray>

#include <vector>

// OpenSSL's Blowfish serves only as an independent reference; OpenSSL 3 marks
// the low-level calls deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

namespace testutil {

inline QByteArray zeroPadded(QByteArray data, int multiple = 8)
{
    while (data.size() % multiple != 0)
        data.append('\0');
    return data;
}

// ECB with OpenSSL's key schedule over the raw key bytes, the last block
// zero-filled. OpenSSL cycles key bytes where QBlowfish cycles whole words, so
// the two agree only for keys whose length is a multiple of 4.
inline QByteArray referenceEcb(const QByteArray &key, const QByteArray &data,
                               int direction = BF_ENCRYPT)
{
    BF_KEY schedule;
    const std::vector<unsigned char> keyBytes(key.cbegin(), key.cend());
    BF_set_key(&schedule, int(keyBytes.size()), keyBytes.data());
    QByteArray out = zeroPadded(data);
    auto *bytes = reinterpret_cast<unsigned char *>(out.data());
    for (int i = 0; i < out.size(); i += 8)
        BF_ecb_encrypt(bytes + i, bytes + i, &schedule, direction);
    return out;
}

} // namespace testutil

#endif // DROVIK_TESTS_BLOWFISH_REFERENCE_H
