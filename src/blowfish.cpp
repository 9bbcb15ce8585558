#include <drovik/blowfish.h>

#include "secure_wipe.h"

#include <cstring>

// The class is nothing but its state, so that the destructor's wipe covers
// every byte an instance owns.
static_assert(sizeof(QBlowfish) == 1042 * 4, "QBlowfish must hold exactly its 1042-word state");

namespace {

constexpr int PArrayWords = 18;
constexpr int SBoxWords = 256;
constexpr int MaxKeyWords = PArrayWords; // key words past this never reach the P-array
constexpr int BlockBytes = 8;

// The helpers below take the state as a plain array rather than going through
// the public members, so that the compiler can inline a whole block into the
// ECB loops.

inline quint32 feistel(const quint32 *state, quint32 x)
{
    const quint32 *s0 = state + PArrayWords;
    const quint32 *s1 = s0 + SBoxWords;
    const quint32 *s2 = s1 + SBoxWords;
    const quint32 *s3 = s2 + SBoxWords;
    return ((s0[x >> 24] + s1[(x >> 16) & 0xff]) ^ s2[(x >> 8) & 0xff]) + s3[x & 0xff];
}

// Two rounds per step: renaming the halves instead of swapping them leaves the
// pair in the state the final "undo the last swap" expects.
inline void encryptBlock(const quint32 *state, quint32 &xl, quint32 &xr)
{
    quint32 l = xl;
    quint32 r = xr;
    for (int i = 0; i < 16; i += 2) {
        l ^= state[i];
        r ^= feistel(state, l);
        r ^= state[i + 1];
        l ^= feistel(state, r);
    }
    xl = r ^ state[17];
    xr = l ^ state[16];
}

inline void decryptBlock(const quint32 *state, quint32 &xl, quint32 &xr)
{
    quint32 l = xl;
    quint32 r = xr;
    for (int i = 17; i > 1; i -= 2) {
        l ^= state[i];
        r ^= feistel(state, l);
        r ^= state[i - 1];
        l ^= feistel(state, r);
    }
    xl = r ^ state[0];
    xr = l ^ state[1];
}

inline quint32 loadBigEndian(const char *p)
{
    return (quint32(uchar(p[0])) << 24) | (quint32(uchar(p[1])) << 16) | (quint32(uchar(p[2])) << 8)
            | quint32(uchar(p[3]));
}

inline void storeBigEndian(char *p, quint32 w)
{
    p[0] = char(uchar(w >> 24));
    p[1] = char(uchar(w >> 16));
    p[2] = char(uchar(w >> 8));
    p[3] = char(uchar(w));
}

template<typename BlockFunction>
QByteArray processEcb(const quint32 *state, const QByteArray &data, BlockFunction block)
{
    const int size = data.size();
    if (size == 0)
        return QByteArray();
    // Cannot overflow: Qt keeps a QByteArray's size well below INT_MAX - 7.
    const int padded = (size + BlockBytes - 1) / BlockBytes * BlockBytes;
    QByteArray out(padded, Qt::Uninitialized);

    const char *in = data.constData();
    char *dst = out.data();
    const int whole = size - size % BlockBytes;
    for (int i = 0; i < whole; i += BlockBytes) {
        quint32 xl = loadBigEndian(in + i);
        quint32 xr = loadBigEndian(in + i + 4);
        block(state, xl, xr);
        storeBigEndian(dst + i, xl);
        storeBigEndian(dst + i + 4, xr);
    }

    if (whole < size) {
        char last[BlockBytes] = {};
        std::memcpy(last, in + whole, std::size_t(size - whole));
        quint32 xl = loadBigEndian(last);
        quint32 xr = loadBigEndian(last + 4);
        block(state, xl, xr);
        storeBigEndian(dst + whole, xl);
        storeBigEndian(dst + whole + 4, xr);
        // Holds the caller's plaintext when encrypting.
        drovik::secureWipe(last, sizeof(last));
    }
    return out;
}

} // namespace

QBlowfish::QBlowfish()
{
    // Not a usable key, but a defined state for anyone who encrypts anyway.
    initBoxes();
}

QBlowfish::QBlowfish(const QString &key)
{
    initBoxes();
    calcSubKey(key);
}

QBlowfish::~QBlowfish()
{
    drovik::secureWipe(m_state, sizeof(m_state));
}

void QBlowfish::calcSubKey(const QString &key)
{
    const int length = key.size();
    if (length < 4)
        return;

    initBoxes();

    // Only as many characters as fill the 18 words the P-array can take.
    const int used = qMin(length, MaxKeyWords * 4);
    const int wordCount = (used + 3) / 4;
    quint32 keyWords[MaxKeyWords] = {};
    const QChar *chars = key.constData();
    for (int i = 0; i < used; ++i) {
        const quint32 byte = chars[i].unicode() & 0xffu;
        keyWords[i / 4] |= byte << (24 - 8 * (i % 4));
    }

    for (int i = 0; i < PArrayWords; ++i)
        m_state[i] ^= keyWords[i % wordCount];
    drovik::secureWipe(keyWords, sizeof(keyWords));

    // P-array and S-boxes are contiguous, so one pass replaces them all in the
    // order the schedule prescribes.
    quint32 xl = 0;
    quint32 xr = 0;
    for (int i = 0; i < StateWords; i += 2) {
        encryptBlock(m_state, xl, xr);
        m_state[i] = xl;
        m_state[i + 1] = xr;
    }
}

QByteArray QBlowfish::encrypt(const QByteArray &data)
{
    return processEcb(m_state, data, [](const quint32 *state, quint32 &xl, quint32 &xr) {
        encryptBlock(state, xl, xr);
    });
}

QByteArray QBlowfish::decrypt(const QByteArray &data)
{
    return processEcb(m_state, data, [](const quint32 *state, quint32 &xl, quint32 &xr) {
        decryptBlock(state, xl, xr);
    });
}

void QBlowfish::initBoxes()
{
    std::memcpy(m_state, hexPi, sizeof(m_state));
}

unsigned int QBlowfish::f(unsigned int x)
{
    return feistel(m_state, x);
}

void QBlowfish::_encrypt(unsigned int &xl, unsigned int &xr)
{
    encryptBlock(m_state, xl, xr);
}

void QBlowfish::_decrypt(unsigned int &xl, unsigned int &xr)
{
    decryptBlock(m_state, xl, xr);
}

unsigned int QBlowfish::get32Batch(const QByteArray &data, unsigned int pos)
{
    // 64-bit indices: pos near the top of the range must read zeros, not wrap
    // around to the start of the data.
    const quint64 size = quint64(data.size());
    unsigned int word = 0;
    for (quint64 k = pos; k < quint64(pos) + 4; ++k)
        word = (word << 8) | (k < size ? uchar(data.at(int(k))) : 0u);
    return word;
}

QByteArray QBlowfish::convertToChar(unsigned int xl, unsigned int xr)
{
    QByteArray out(BlockBytes, Qt::Uninitialized);
    storeBigEndian(out.data(), xl);
    storeBigEndian(out.data() + 4, xr);
    return out;
}
