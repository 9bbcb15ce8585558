// Decrypts arbitrary cipher text under either algorithm, and encrypts then
// decrypts arbitrary text. Properties: decryption never fails and its result
// holds no U+0000 (it stops at the first zero byte); for a text without U+0000
// the round trip gives the text back, and the cipher text has the documented
// length (Blowfish pads to whole 8-byte blocks, the keystream keeps the length;
// base64 then takes 4 characters per 3 bytes).
#include <drovik/drovik.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "payload cipher property broken: %s\n", what);
        abort();
    }
}

QString utf8(const std::string &bytes)
{
    return QString::fromUtf8(bytes.data(), int(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // 2 is Blowfish; the others all select the keystream algorithm.
    static const int algorithms[] = {2, 0, 1, -1, 3, 0x7fffffff};
    const int algorithm = input.PickValueInArray(algorithms);
    const QString publicKey = utf8(input.ConsumeRandomLengthString(16));
    const std::string passwordBytes = input.ConsumeRandomLengthString(64);
    const QByteArray password(passwordBytes.data(), int(passwordBytes.size()));
    const QString text = utf8(input.ConsumeRemainingBytesAsString());

    const QString opened = Drovik::decryptEncrypt(true, text, publicKey, password, algorithm);
    check(!opened.contains(QChar(0)), "decrypted text holds U+0000");

    QString plain = text;
    plain.remove(QChar(0));
    const QString cipher = Drovik::decryptEncrypt(false, plain, publicKey, password, algorithm);
    const int n = plain.toUtf8().size();
    const int bytes = algorithm == 2 ? (n + 7) / 8 * 8 : n;
    check(cipher.size() == (bytes + 2) / 3 * 4, "cipher text length");
    check(QByteArray::fromBase64(cipher.toLatin1()).toBase64() == cipher.toLatin1(),
          "cipher text is not canonical base64");
    check(Drovik::decryptEncrypt(true, cipher, publicKey, password, algorithm) == plain,
          "round trip changed the text");
    return 0;
}
