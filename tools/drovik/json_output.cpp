#include "json_output.h"

#include "config_view.h"
#include "typed_value.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonValue>

QJsonValue valueToJson(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return QJsonArray::fromStringList(value.toStringList());
    default:
        return value.toString();
    }
}

namespace {

QJsonArray paramsToJson(const QList<ParamView> &params, bool withValues)
{
    QJsonArray array;
    for (const ParamView &param : params) {
        QJsonObject entry {{QStringLiteral("name"), param.name},
                           {QStringLiteral("protection"), protectionName(param.protection)}};
        if (param.valueHidden.hidden) {
            entry.insert(QStringLiteral("hidden"), true);
        } else if (withValues) {
            entry.insert(QStringLiteral("value"), valueToJson(param.value));
            entry.insert(QStringLiteral("type"), valueTypeName(param.value));
        }
        array.append(entry);
    }
    return array;
}

} // namespace

QJsonObject viewToJson(const ConfigView &view, bool withValues)
{
    QJsonArray sections;
    for (const SectionView &section : view.sections) {
        QJsonObject entry {
                {QStringLiteral("name"), section.name},
                {QStringLiteral("protection"), protectionName(section.protection)},
                {QStringLiteral("parameters"), paramsToJson(section.params, withValues)}};
        if (section.paramsHidden.hidden)
            entry.insert(QStringLiteral("hidden"), true);
        sections.append(entry);
    }
    QJsonObject object {{QStringLiteral("protection"), protectionName(view.protection)},
                        {QStringLiteral("ungrouped"), paramsToJson(view.ungrouped, withValues)},
                        {QStringLiteral("sections"), sections}};
    if (view.sectionsHidden.hidden)
        object.insert(QStringLiteral("hidden"), true);
    return object;
}

QByteArray jsonText(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}
