#include "typed_value.h"

#include <cmath>

namespace {

bool readBool(const QString &text, bool *result)
{
    static const QStringList yes {QStringLiteral("true"), QStringLiteral("yes"),
                                  QStringLiteral("on"), QStringLiteral("1")};
    static const QStringList no {QStringLiteral("false"), QStringLiteral("no"),
                                 QStringLiteral("off"), QStringLiteral("0")};
    const QString word = text.trimmed().toLower();
    *result = yes.contains(word);
    return *result || no.contains(word);
}

// A value of the kind whose meta type is given, read from text; invalid when
// the text does not read as one.
QVariant readAs(int type, const QString &text)
{
    bool ok = false;
    switch (type) {
    case QMetaType::LongLong: {
        const qlonglong number = text.trimmed().toLongLong(&ok);
        return ok ? QVariant(number) : QVariant();
    }
    case QMetaType::Double: {
        const double number = text.trimmed().toDouble(&ok);
        return ok && std::isfinite(number) ? QVariant(number) : QVariant();
    }
    case QMetaType::Bool: {
        bool flag = false;
        return readBool(text, &flag) ? QVariant(flag) : QVariant();
    }
    default:
        return text;
    }
}

} // namespace

QStringList valueTypeNames()
{
    return {QStringLiteral("string"), QStringLiteral("int"), QStringLiteral("double"),
            QStringLiteral("bool"), QStringLiteral("list")};
}

bool parseTypedValue(const QString &type, const QStringList &arguments, QVariant *value,
                     QString *error)
{
    if (type == QLatin1String("list")) {
        *value = arguments;
        return true;
    }
    static const QMap<QString, int> types {{QStringLiteral("string"), QMetaType::QString},
                                           {QStringLiteral("int"), QMetaType::LongLong},
                                           {QStringLiteral("double"), QMetaType::Double},
                                           {QStringLiteral("bool"), QMetaType::Bool}};
    if (!types.contains(type)) {
        *error = QStringLiteral("unknown type '%1' (use one of: %2)")
                         .arg(type, valueTypeNames().join(QStringLiteral(", ")));
        return false;
    }
    if (arguments.size() != 1) {
        *error = QStringLiteral("expected one VALUE (only --type list takes several)");
        return false;
    }
    *value = readAs(types.value(type), arguments.constFirst());
    if (!value->isValid())
        *error = QStringLiteral("'%1' is not a valid %2").arg(arguments.constFirst(), type);
    return value->isValid();
}

QVariant withKindOf(const QVariant &old, const QVariant &edited)
{
    // A one-item list reads back from INI text as its item alone.
    if (old.userType() == QMetaType::QStringList && edited.userType() == QMetaType::QString)
        return QStringList(edited.toString());
    const int type = old.userType() == QMetaType::Int ? int(QMetaType::LongLong) : old.userType();
    if (edited.userType() != QMetaType::QString
        || (type != QMetaType::LongLong && type != QMetaType::Double && type != QMetaType::Bool))
        return edited;
    const QVariant typed = readAs(type, edited.toString());
    return typed.isValid() ? typed : edited;
}

QString valueTypeName(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Bool:
        return QStringLiteral("bool");
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QStringLiteral("int");
    case QMetaType::Double:
        return QStringLiteral("double");
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return QStringLiteral("list");
    default:
        return QStringLiteral("string");
    }
}

QStringList valueLines(const QVariant &value)
{
    if (value.userType() == QMetaType::QStringList || value.userType() == QMetaType::QVariantList)
        return value.toStringList();
    return {value.toString()};
}
