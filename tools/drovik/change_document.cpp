#include "change_document.h"

#include "stored_names.h"
#include "typed_value.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>

#include <cmath>

namespace {

// Reading stops at the first fault, which is kept with its path.
class Reader
{
public:
    QString error;

    bool fault(const QString &path, const QString &message)
    {
        error = path + QStringLiteral(": ") + message;
        return false;
    }

    // Only the members named: a misspelt one would otherwise be skipped unseen.
    bool onlyMembers(const QJsonObject &object, const QString &path, const QStringList &allowed)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!allowed.contains(it.key()))
                return fault(path,
                             QStringLiteral("unknown member \"%1\" (expected %2)")
                                     .arg(it.key(), allowed.join(QStringLiteral(", "))));
        }
        return true;
    }

    bool object(const QJsonValue &value, const QString &path, QJsonObject *result)
    {
        if (!value.isObject())
            return fault(path, QStringLiteral("expected an object"));
        *result = value.toObject();
        return true;
    }

    bool array(const QJsonObject &parent, const QString &member, const QString &path,
               QJsonArray *result)
    {
        const QJsonValue value = parent.value(member);
        if (value.isUndefined())
            return true;
        if (!value.isArray())
            return fault(path, QStringLiteral("expected an array"));
        *result = value.toArray();
        return true;
    }

    bool text(const QJsonObject &parent, const QString &member, const QString &path,
              QString *result)
    {
        const QJsonValue value = parent.value(member);
        if (!value.isString())
            return fault(path, QStringLiteral("expected a text"));
        *result = value.toString();
        return true;
    }

    bool protection(const QJsonObject &parent, const QString &path, bool *protect, bool *given)
    {
        const QJsonValue value = parent.value(QStringLiteral("protection"));
        if (value.isUndefined())
            return true;
        static const QStringList names {QStringLiteral("plain"), QStringLiteral("marked"),
                                        QStringLiteral("protected")};
        if (!names.contains(value.toString()))
            return fault(path, QStringLiteral("expected plain, marked or protected"));
        *protect = value.toString() != QLatin1String("plain");
        *given = true;
        return true;
    }

    bool value(const QJsonObject &entry, const QString &path, QVariant *result);
    bool param(const QJsonValue &json, const QString &path, bool inSection, ParamChange *change);
    bool section(const QJsonValue &json, const QString &path, SectionChange *change);
};

// Names the stored layout keeps for itself: they would be dropped or taken
// for protection switches.
bool isReserved(const QString &param)
{
    return param.startsWith(drovik::stored::paramPrefix())
            || param.startsWith(drovik::stored::sectionPrefix());
}

bool Reader::value(const QJsonObject &entry, const QString &path, QVariant *result)
{
    const QJsonValue json = entry.value(QStringLiteral("value"));
    const QString valuePath = path + QStringLiteral(".value");
    if (json.isUndefined())
        return fault(path, QStringLiteral("\"value\" is missing (null deletes)"));
    if (json.isNull()) {
        *result = QVariant();
        return true;
    }
    QString type;
    if (entry.contains(QStringLiteral("type"))
        && !text(entry, QStringLiteral("type"), path + QStringLiteral(".type"), &type))
        return false;
    if (!type.isEmpty() && !valueTypeNames().contains(type))
        return fault(path + QStringLiteral(".type"),
                     QStringLiteral("expected one of %1")
                             .arg(valueTypeNames().join(QStringLiteral(", "))));
    if (json.isArray()) {
        QStringList items;
        const QJsonArray array = json.toArray();
        for (int i = 0; i < array.size(); ++i) {
            if (!array.at(i).isString())
                return fault(QStringLiteral("%1[%2]").arg(valuePath).arg(i),
                             QStringLiteral("expected a text (list items are texts)"));
            items.append(array.at(i).toString());
        }
        if (!type.isEmpty() && type != QLatin1String("list"))
            return fault(valuePath, QStringLiteral("a list where %1 was given as type").arg(type));
        *result = items;
        return true;
    }
    if (json.isObject())
        return fault(valuePath, QStringLiteral("expected a text, number, boolean, list or null"));
    if (type == QLatin1String("list"))
        return fault(valuePath, QStringLiteral("expected a list (an array of texts)"));
    if (json.isBool() && (type.isEmpty() || type == QLatin1String("bool"))) {
        *result = json.toBool();
        return true;
    }
    if (json.isDouble() && type != QLatin1String("string") && type != QLatin1String("bool")) {
        const double number = json.toDouble();
        // JSON writes a whole double without its fraction: only "type" keeps it a double.
        const bool whole = std::trunc(number) == number && std::fabs(number) < 9007199254740992.0;
        if (type == QLatin1String("int") && !whole)
            return fault(valuePath, QStringLiteral("expected a whole number"));
        *result = whole && type != QLatin1String("double") ? QVariant(qlonglong(number))
                                                           : QVariant(number);
        return true;
    }
    if (json.isString()) {
        QString message;
        if (!parseTypedValue(type.isEmpty() ? QStringLiteral("string") : type, {json.toString()},
                             result, &message))
            return fault(valuePath, message);
        return true;
    }
    return fault(valuePath, QStringLiteral("does not fit type %1").arg(type));
}

bool Reader::param(const QJsonValue &json, const QString &path, bool inSection, ParamChange *change)
{
    QJsonObject entry;
    if (!object(json, path, &entry)
        || !onlyMembers(entry, path,
                        {QStringLiteral("name"), QStringLiteral("protection"),
                         QStringLiteral("value"), QStringLiteral("type")})
        || !text(entry, QStringLiteral("name"), path + QStringLiteral(".name"), &change->name)
        || !protection(entry, path + QStringLiteral(".protection"), &change->protect,
                       &change->protectionGiven)
        || !value(entry, path, &change->value))
        return false;
    const QString namePath = path + QStringLiteral(".name");
    if (change->name.isEmpty())
        return fault(namePath, QStringLiteral("a name may not be empty"));
    if (inSection && isReserved(change->name))
        return fault(namePath,
                     QStringLiteral("names beginning with %1 or %2 are kept for the stored layout")
                             .arg(drovik::stored::paramPrefix(), drovik::stored::sectionPrefix()));
    if (!inSection && change->name.contains(QLatin1Char('/')))
        return fault(namePath, QStringLiteral("a key outside any section has no '/'"));
    if (!inSection && change->name.contains(QLatin1Char('\\')))
        return fault(namePath, QStringLiteral("a key outside any section has no '\\'"));
    if (!inSection && change->protect)
        return fault(path + QStringLiteral(".protection"),
                     QStringLiteral("keys outside any section are stored in plain only"));
    return true;
}

bool sectionNameFault(const QString &name, QString *message)
{
    if (name.isEmpty())
        *message = QStringLiteral("a section name may not be empty");
    else if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        *message = QStringLiteral("a section name has no '/' or '\\'");
    else if (name == drovik::stored::fileGroup())
        *message = QStringLiteral("%1 is kept for the stored layout").arg(name);
    return !message->isEmpty();
}

bool Reader::section(const QJsonValue &json, const QString &path, SectionChange *change)
{
    QJsonObject entry;
    QJsonArray params;
    QString message;
    if (!object(json, path, &entry)
        || !onlyMembers(entry, path,
                        {QStringLiteral("name"), QStringLiteral("protection"),
                         QStringLiteral("parameters")})
        || !text(entry, QStringLiteral("name"), path + QStringLiteral(".name"), &change->name)
        || !protection(entry, path + QStringLiteral(".protection"), &change->protect,
                       &change->protectionGiven)
        || !array(entry, QStringLiteral("parameters"), path + QStringLiteral(".parameters"),
                  &params))
        return false;
    if (sectionNameFault(change->name, &message))
        return fault(path + QStringLiteral(".name"), message);
    for (int i = 0; i < params.size(); ++i) {
        ParamChange param;
        if (!this->param(params.at(i), QStringLiteral("%1.parameters[%2]").arg(path).arg(i), true,
                         &param))
            return false;
        change->params.append(param);
    }
    return true;
}

// Line and column of a byte offset, for a parse error a person can find.
QString position(const QByteArray &json, int offset)
{
    const QByteArray before = json.left(offset);
    const int line = before.count('\n') + 1;
    const int column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

} // namespace

bool ChangeDocument::asksForProtection() const
{
    if (protectFile)
        return true;
    for (const SectionChange &section : sections) {
        if (section.protect)
            return true;
        for (const ParamChange &param : section.params) {
            if (param.protect)
                return true;
        }
    }
    return false;
}

bool readChangeDocument(const QByteArray &json, ChangeDocument *document, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("$: no JSON at %1: %2")
                         .arg(position(json, parseError.offset), parseError.errorString());
        return false;
    }
    Reader reader;
    const QString root = QStringLiteral("$");
    QJsonObject top;
    QJsonArray ungrouped;
    QJsonArray sections;
    QJsonArray deleted;
    const bool read = reader.object(parsed.isObject() ? QJsonValue(parsed.object()) : QJsonValue(),
                                    root, &top)
            && reader.onlyMembers(top, root,
                                  {QStringLiteral("file"), QStringLiteral("protection"),
                                   QStringLiteral("ungrouped"), QStringLiteral("sections"),
                                   QStringLiteral("delete")})
            && reader.protection(top, QStringLiteral("$.protection"), &document->protectFile,
                                 &document->fileProtectionGiven)
            && reader.array(top, QStringLiteral("ungrouped"), QStringLiteral("$.ungrouped"),
                            &ungrouped)
            && reader.array(top, QStringLiteral("sections"), QStringLiteral("$.sections"),
                            &sections)
            && reader.array(top, QStringLiteral("delete"), QStringLiteral("$.delete"), &deleted);
    if (!read) {
        *error = reader.error;
        return false;
    }
    for (int i = 0; i < ungrouped.size(); ++i) {
        ParamChange param;
        if (!reader.param(ungrouped.at(i), QStringLiteral("$.ungrouped[%1]").arg(i), false,
                          &param)) {
            *error = reader.error;
            return false;
        }
        document->ungrouped.append(param);
    }
    for (int i = 0; i < sections.size(); ++i) {
        SectionChange section;
        if (!reader.section(sections.at(i), QStringLiteral("$.sections[%1]").arg(i), &section)) {
            *error = reader.error;
            return false;
        }
        document->sections.append(section);
    }
    for (int i = 0; i < deleted.size(); ++i) {
        const QString path = QStringLiteral("$.delete[%1]").arg(i);
        const QString name = deleted.at(i).toString();
        QString message;
        const int separator = name.indexOf(QRegularExpression(QStringLiteral("[/\\\\]")));
        if (!deleted.at(i).isString())
            message = QStringLiteral("expected a text: SECTION or SECTION/PARAMETER");
        else if (separator < 0)
            sectionNameFault(name, &message);
        else if (separator == 0 || separator == name.size() - 1)
            message = QStringLiteral("expected SECTION/PARAMETER");
        if (!message.isEmpty()) {
            *error = path + QStringLiteral(": ") + message;
            return false;
        }
        (separator < 0 ? document->deletedSections : document->deletedKeys).append(name);
    }
    return true;
}
