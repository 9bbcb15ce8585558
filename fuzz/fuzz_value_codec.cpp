// Reads arbitrary text as a payload map, writes the map back and reads that.
//
// Writing cannot keep everything reading accepts, so the first read-write-read
// round normalises: with m1 = read(x) and m2 = read(write(m1)),
//  - m2 holds exactly the keys of m1 except the empty key (an empty key part is
//    written, but a part without key digits is skipped when read);
//  - every value keeps its type; texts, text lists, integers and booleans are
//    equal; a double comes back as m1's value rounded to six decimals, i.e.
//    within 5e-7 plus half a unit in the last place, and NaN/inf stay NaN/inf;
//  - m2 is a fixed point: read(write(m2)) == m2, with NaN equal to NaN.
// Keys and texts of m1 hold no U+0000 (decoding stops at a zero byte), which
// is why no further loss applies.
#include <drovik/drovik.h>

#include <QtCore/QtNumeric>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

bool sameValue(const QVariant &a, const QVariant &b, bool rounded)
{
    if (a.userType() != b.userType())
        return false;
    if (a.userType() != QMetaType::Double)
        return a == b;
    const double x = a.toDouble();
    const double y = b.toDouble();
    if (qIsNaN(x) || qIsNaN(y))
        return qIsNaN(x) && qIsNaN(y);
    if (qIsInf(x) || qIsInf(y))
        return x == y;
    if (!rounded)
        return x == y;
    return std::fabs(x - y) <= 5e-7 + std::fabs(x) * 2.3e-16;
}

void check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "value codec property broken: %s\n", what);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QMap<QString, QVariant> m1 = Drovik::textToTinyStruct(text);
    const QMap<QString, QVariant> m2 = Drovik::textToTinyStruct(Drovik::tinyStrictToText(m1));
    const QMap<QString, QVariant> m3 = Drovik::textToTinyStruct(Drovik::tinyStrictToText(m2));

    check(m2.size() == m1.size() - (m1.contains(QString()) ? 1 : 0), "keys lost or added");
    for (auto it = m2.cbegin(); it != m2.cend(); ++it) {
        check(!it.key().isEmpty() && m1.contains(it.key()), "unexpected key");
        check(sameValue(m1.value(it.key()), it.value(), true), "value changed in first round");
        check(m3.contains(it.key()) && sameValue(it.value(), m3.value(it.key()), false),
              "not a fixed point after one round");
    }
    check(m3.size() == m2.size(), "keys changed in second round");
    return 0;
}
