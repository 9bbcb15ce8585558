#include <drovik/drovik.h>

// The typed text of a payload map: entries "<hex key><tag><value>" joined by
// 'N'. Keys and texts are hex-encoded UTF-8, so no separator or tag letter can
// ever occur inside them. Tags: I integer, R double, L boolean, T text list,
// S text (and every other type, through QVariant::toString).

namespace {

const QChar entrySeparator = QLatin1Char('N');
const QChar itemSeparator = QLatin1Char(',');

void appendHex(QString &out, const QString &text)
{
    out += QLatin1String(text.toUtf8().toHex());
}

// Text of decoded bytes, cut at the first zero byte as a C string would be.
QString textOfBytes(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(),
                             int(qstrnlen(bytes.constData(), uint(bytes.size()))));
}

QString textOfHex(const QStringRef &hex)
{
    return textOfBytes(QByteArray::fromHex(hex.toUtf8()));
}

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

void appendEntry(QString &out, const QString &key, const QVariant &value)
{
    appendHex(out, key);
    switch (value.type()) {
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
        out += QLatin1Char('I');
        out += QString::number(value.toLongLong());
        break;
    case QVariant::ULongLong:
        out += QLatin1Char('I');
        out += QString::number(value.toULongLong());
        break;
    case QVariant::Double:
        // Fixed point with six decimals, as QString::arg(value, 0, 'f', -1) gives.
        out += QLatin1Char('R');
        out += QString::number(value.toDouble(), 'f', 6);
        break;
    case QVariant::Bool:
        out += QLatin1Char('L');
        out += value.toBool() ? QLatin1Char('1') : QLatin1Char('0');
        break;
    case QVariant::List:
    case QVariant::StringList: {
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

QVariant decodeValue(QChar tag, const QStringRef &text, bool *known)
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
        for (const QStringRef &item : text.split(itemSeparator, Qt::KeepEmptyParts))
            items.append(textOfHex(item));
        return QVariant(items);
    }
    default:
        *known = false;
        return QVariant();
    }
}

} // namespace

QString Drovik::tinyStrictToText(const QMap<QString, QVariant> &map)
{
    QString text;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it != map.cbegin())
            text += entrySeparator;
        appendEntry(text, it.key(), it.value());
    }
    return text;
}

QMap<QString, QVariant> Drovik::textToTinyStruct(const QString &text)
{
    QMap<QString, QVariant> map;
    // Every part between separators is read on its own; a part that cannot be
    // read is skipped and never spoils its neighbours.
    for (const QStringRef &part : text.splitRef(entrySeparator, Qt::KeepEmptyParts)) {
        int keyEnd = 0;
        while (keyEnd < part.size() && isHexDigit(part.at(keyEnd)))
            ++keyEnd;
        if (keyEnd == 0 || keyEnd == part.size())
            continue;
        bool known = false;
        const QVariant value = decodeValue(part.at(keyEnd), part.mid(keyEnd + 1), &known);
        if (!known)
            continue;
        map.insert(textOfHex(part.left(keyEnd)), value);
    }
    return map;
}
