// QBlowfish and the payload cipher beside OpenSSL's Blowfish, in the same run.

#include "fixtures.h"

#include <drovik/blowfish.h>
#include <drovik/drovik.h>

#include <benchmark/benchmark.h>

// OpenSSL 3 deprecates its low-level Blowfish and MD5 calls; they are exactly
// the floor wanted here, so the deprecation markers are switched off for this
// file only.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <algorithm>
#include <vector>

using bench::password;

namespace {

// The payload cipher keys Blowfish with 24 characters (base64 of an MD5 digest).
const QString key24 = QStringLiteral("q2Vx0Lk9mPzR7wYt1bN4cA==");
constexpr int ecbBytes = 1 << 20;

QByteArray testBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7) % 26);
    return bytes;
}

void keyScheduleQBlowfish(benchmark::State &state)
{
    QBlowfish cipher;
    for (auto _ : state) {
        cipher.calcSubKey(key24);
        benchmark::ClobberMemory();
    }
}

void keyScheduleOpenSsl(benchmark::State &state)
{
    const QByteArray raw = key24.toLatin1();
    BF_KEY key;
    for (auto _ : state) {
        BF_set_key(&key, raw.size(), reinterpret_cast<const unsigned char *>(raw.constData()));
        benchmark::ClobberMemory();
    }
}

void ecbQBlowfish(benchmark::State &state, bool decrypt)
{
    const QByteArray data = testBytes(ecbBytes);
    QBlowfish cipher(key24);
    for (auto _ : state) {
        QByteArray out = decrypt ? cipher.decrypt(data) : cipher.encrypt(data);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * ecbBytes);
}

void ecbOpenSsl(benchmark::State &state, bool decrypt)
{
    const QByteArray data = testBytes(ecbBytes);
    const QByteArray raw = key24.toLatin1();
    BF_KEY key;
    BF_set_key(&key, raw.size(), reinterpret_cast<const unsigned char *>(raw.constData()));
    const auto *in = reinterpret_cast<const unsigned char *>(data.constData());
    std::vector<unsigned char> out(ecbBytes);
    const int mode = decrypt ? BF_DECRYPT : BF_ENCRYPT;
    for (auto _ : state) {
        for (int i = 0; i < ecbBytes; i += 8)
            BF_ecb_encrypt(in + i, out.data() + i, &key, mode);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * ecbBytes);
}

// ---- Payload cipher -------------------------------------------------------------

const QString publicKey = QStringLiteral("3fa9c1");

QString payloadText(int size)
{
    return QString::fromLatin1(testBytes(size));
}

void payloadDrovik(benchmark::State &state, bool decrypt)
{
    const int size = int(state.range(0));
    const QString plain = payloadText(size);
    const QString cipher = Drovik::decryptEncrypt(false, plain, publicKey, password(), 2);
    const QString &input = decrypt ? cipher : plain;
    for (auto _ : state) {
        QString out = Drovik::decryptEncrypt(decrypt, input, publicKey, password(), 2);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// The same steps with OpenSSL's primitives: digest of public key and password,
// its base64 as the Blowfish key, ECB over the zero-padded text, base64.
void opensslKey(BF_KEY *key, const QByteArray &publicBytes, const QByteArray &passwordBytes)
{
    const QByteArray material = publicBytes + passwordBytes;
    unsigned char digest[MD5_DIGEST_LENGTH];
    MD5(reinterpret_cast<const unsigned char *>(material.constData()), size_t(material.size()),
        digest);
    unsigned char keyText[25];
    const int keyLength = EVP_EncodeBlock(keyText, digest, MD5_DIGEST_LENGTH);
    BF_set_key(key, keyLength, keyText);
}

void payloadOpenSsl(benchmark::State &state, bool decrypt)
{
    const int size = int(state.range(0));
    const QByteArray publicBytes = publicKey.toLatin1();
    const QByteArray plain = testBytes(size);
    const QByteArray cipherText
            = Drovik::decryptEncrypt(false, payloadText(size), publicKey, password(), 2).toLatin1();
    const int padded = (size + 7) / 8 * 8;
    std::vector<unsigned char> blocks(size_t(padded) + 8);
    std::vector<unsigned char> text(size_t(padded) * 4 / 3 + 8);
    BF_KEY key;
    for (auto _ : state) {
        opensslKey(&key, publicBytes, password());
        if (decrypt) {
            const int length = EVP_DecodeBlock(
                    blocks.data(), reinterpret_cast<const unsigned char *>(cipherText.constData()),
                    cipherText.size());
            for (int i = 0; i + 8 <= length; i += 8)
                BF_ecb_encrypt(blocks.data() + i, text.data() + i, &key, BF_DECRYPT);
            benchmark::DoNotOptimize(
                    qstrnlen(reinterpret_cast<const char *>(text.data()), uint(length)));
        } else {
            std::fill(blocks.begin() + size, blocks.begin() + padded, 0);
            std::copy(plain.cbegin(), plain.cend(), blocks.begin());
            for (int i = 0; i < padded; i += 8)
                BF_ecb_encrypt(blocks.data() + i, blocks.data() + i, &key, BF_ENCRYPT);
            benchmark::DoNotOptimize(EVP_EncodeBlock(text.data(), blocks.data(), padded));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * size);
}

} // namespace

void registerCipherBenchmarks()
{
    benchmark::RegisterBenchmark("blowfish/key-schedule/qblowfish", keyScheduleQBlowfish)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("blowfish/key-schedule/openssl", keyScheduleOpenSsl)
            ->Unit(benchmark::kMicrosecond);
    for (bool decrypt : {false, true}) {
        const char *const mode = decrypt ? "decrypt" : "encrypt";
        const QByteArray group = QByteArrayLiteral("blowfish/ecb-") + mode + "-1MiB/";
        benchmark::RegisterBenchmark((group + "qblowfish").constData(), ecbQBlowfish, decrypt)
                ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((group + "openssl").constData(), ecbOpenSsl, decrypt)
                ->Unit(benchmark::kMillisecond);
    }
    for (bool decrypt : {false, true}) {
        const char *const mode = decrypt ? "decrypt" : "encrypt";
        const QByteArray group = QByteArrayLiteral("payload/") + mode + "/";
        benchmark::RegisterBenchmark((group + "drovik").constData(), payloadDrovik, decrypt)
                ->Arg(64)
                ->Arg(1024)
                ->Arg(64 * 1024)
                ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((group + "openssl").constData(), payloadOpenSsl, decrypt)
                ->Arg(64)
                ->Arg(1024)
                ->Arg(64 * 1024)
                ->Unit(benchmark::kMicrosecond);
    }
}
