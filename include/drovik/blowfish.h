#ifndef DROVIK_BLOWFISH_H
#define DROVIK_BLOWFISH_H

#include <drovik/drovik_export.h>

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Blowfish block cipher (64-bit blocks, 16 rounds) with a text key, used in
// electronic-codebook mode. The whole state is 1042 words: the 18-word P-array
// followed by the four 256-word S-boxes. The destructor wipes it.
//
// Key schedule: each key character gives the low byte of its UTF-16 unit; the
// bytes are packed into big-endian words, the last word zero-filled, and the
// words are cycled over the P-array. Keys shorter than 4 characters are ignored,
// characters past the 72nd have no effect. For keys whose length is a multiple
// of 4 (characters below U+0100) this is the standard Blowfish schedule.
class DROVIK_EXPORT QBlowfish
{
public:
    // Leaves the state unkeyed; call calcSubKey() before encrypting.
    QBlowfish();
    // Keyed with key at once, as calcSubKey(key) would.
    explicit QBlowfish(const QString &key);
    // Wipes the key-dependent state.
    ~QBlowfish();

    // Starts again from the initial table and mixes in the key. A key of fewer
    // than 4 characters changes nothing.
    void calcSubKey(const QString &key);

    // ECB over whole blocks; a last partial block is zero-filled, so the result
    // is the input length rounded up to a multiple of 8. Padding is never removed.
    QByteArray encrypt(const QByteArray &data);
    QByteArray decrypt(const QByteArray &data);

    // The algorithm's steps, public so that each can be checked on its own.
    void initBoxes();
    unsigned int f(unsigned int x);
    void _encrypt(unsigned int &xl, unsigned int &xr);
    void _decrypt(unsigned int &xl, unsigned int &xr);
    // Big-endian word from 4 bytes at pos; bytes past the end read as zero.
    unsigned int get32Batch(const QByteArray &data, unsigned int pos);
    // The two halves as 8 bytes, each big-endian, xl first.
    QByteArray convertToChar(unsigned int xl, unsigned int xr);

    // Initial P-array and S-boxes: the hexadecimal digits of pi's fraction.
    static const unsigned int hexPi[1042];

private:
    enum { PArrayWords = 18, SBoxWords = 256, StateWords = PArrayWords + 4 * SBoxWords };
    unsigned int m_state[StateWords];
};

#endif // DROVIK_BLOWFISH_H
