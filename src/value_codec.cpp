#include "value_codec.h"

#include <QtCore/QVarLengthArray>

// The typed text of a payload map: entries "<hex key><tag><value>" joined by
// 'N'. Keys and texts are hex-encoded UTF-8, so no separator or tag letter can
// ever occur inside them. Tags: I integer, R double, L boolean, T text list,
// S text (and every other type, through QVariant::toString).

namespace {

const QChar entrySeparator = QLatin1Char('N');
const QChar itemSeparator = QLatin1Char(',');

// Hex digits are written straight into out: a payload holds one hex text per
// key and per value, and going through QByteArray::toHex() would allocate
// each of them once more.
void appendHex(QString &out, const QString &text)
{
    static const char digits[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    const int start = out.size();
    out.resize(start + 2 * utf8.size());
    QChar *dst = out.data() + start;
    for (const char c : utf8) {
        *dst++ = QLatin1Char(digits[uchar(c) >> 4]);
        *dst++ = QLatin1Char(digits[uchar(c) & 0xf]);
    }
}

// Value of a hex digit, -1 for any other character.
int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    const ushort lower = u | 0x20; // 'A'-'F' to 'a'-'f'
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

// The common case of textOfHex(): whole pairs of hex digits that spell ASCII,
// written straight into the text without a UTF-8 decoder. False, with text
// untouched, when anything else turns up.
bool asciiOfHex(QStringView hex, QString *text)
{
    if (hex.size() % 2 != 0)
        return false;
    QString out(hex.size() / 2, Qt::Uninitialized);
    QChar *const begin = out.data();
    QChar *dst = begin;
    QChar *cut = nullptr; // the first zero byte; every digit after it is still checked
    const QChar *src = hex.data();
    for (const QChar *const end = src + hex.size(); src != end; src += 2) {
        const int high = hexValue(src[0]);
        const int low = hexValue(src[1]);
        if (high < 0 || low < 0 || high > 7)
            return false;
        const int byte = (high << 4) | low;
        if (byte == 0 && !cut)
            cut = dst;
        *dst++ = QLatin1Char(char(byte));
    }
    out.truncate(int((cut ? cut : dst) - begin));
    *text = out;
    return true;
}

// Text of hex-encoded UTF-8, cut at the first zero byte as a C string would
// be. Decodes as QByteArray::fromHex() does, from the end, skipping every
// character that is not a hex digit, but without its two temporary arrays.
QString textOfHex(QStringView hex)
{
    QString ascii;
    if (asciiOfHex(hex, &ascii))
        return ascii;

    QVarLengthArray<char, 256> bytes((hex.size() + 1) / 2);
    char *const end = bytes.data() + bytes.size();
    char *begin = end;
    bool low = true;
    for (const QChar *c = hex.data() + hex.size(); c != hex.data();) {
        const int digit = hexValue(*--c);
        if (digit < 0)
            continue;
        if (low)
            *--begin = char(digit);
        else
            *begin = char(uchar(*begin) | (digit << 4));
        low = !low;
    }
    const int size = int(end - begin);
    return QString::fromUtf8(begin, int(qstrnlen(begin, uint(size))));
}

bool isHexDigit(QChar c)
{
    return hexValue(c) >= 0;
}

void appendEntry(QString &out, const QString &key, const QVariant &value)
{
    appendHex(out, key);
    // The metatype id, not the Qt 5 only QVariant::type(): the same numbers
    // for every type named here, so both Qt versions pick the same tag.
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        out += QLatin1Char('I');
        out += QString::number(value.toLongLong());
        break;
    case QMetaType::ULongLong:
        out += QLatin1Char('I');
        out += QString::number(value.toULongLong());
        break;
    case QMetaType::Double:
        // Fixed point with six decimals, as QString::arg(value, 0, 'f', -1) gives.
        out += QLatin1Char('R');
        out += QString::number(value.toDouble(), 'f', 6);
        break;
    case QMetaType::Bool:
        out += QLatin1Char('L');
        out += value.toBool() ? QLatin1Char('1') : QLatin1Char('0');
        break;
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        out += QLatin1Char('T');
        const QStringList items = value.toStringList();
        for (int i = 0; i < items.size(); ++i) {
            if (i > 0)
                out += itemSeparator;
            appendHex(out, items.at(i));
        }
        break;
    }
    default:
        out += QLatin1Char('S');
        appendHex(out, value.toString());
        break;
    }
}

QVariant decodeValue(QChar tag, QStringView text, bool *known)
{
    *known = true;
    switch (tag.unicode()) {
    case 'I':
        return QVariant(text.toLongLong(nullptr, 10));
    case 'R':
        return QVariant(text.toDouble());
    case 'L':
        return QVariant(text != QLatin1String("0"));
    case 'S':
        return QVariant(textOfHex(text));
    case 'T': {
        QStringList items;
        for (QStringView item : text.split(itemSeparator, Qt::KeepEmptyParts))
            items.append(textOfHex(item));
        return QVariant(items);
    }
    default:
        *known = false;
        return QVariant();
    }
}

} // namespace

namespace drovik {

QString toTypedText(const QMap<QString, QVariant> &map)
{
    QString text;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it != map.cbegin())
            text += entrySeparator;
        appendEntry(text, it.key(), it.value());
    }
    return text;
}

QMap<QString, QVariant> fromTypedText(const QString &text)
{
    QMap<QString, QVariant> map;
    // Every part between separators is read on its own; a part that cannot be
    // read is skipped and never spoils its neighbours.
    for (QStringView part : QStringView(text).split(entrySeparator, Qt::KeepEmptyParts)) {
        int keyEnd = 0;
        while (keyEnd < part.size() && isHexDigit(part.at(keyEnd)))
            ++keyEnd;
        if (keyEnd == 0 || keyEnd == part.size())
            continue;
        bool known = false;
        const QVariant value = decodeValue(part.at(keyEnd), part.mid(keyEnd + 1), &known);
        if (!known)
            continue;
        // Payload text is written in key order, so the end is usually the
        // right place; a wrong hint only costs the search insert() makes anyway.
        map.insert(map.constEnd(), textOfHex(part.left(keyEnd)), value);
    }
    return map;
}

} // namespace drovik
