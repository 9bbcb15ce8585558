#include "config_view.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

namespace {

// Tree entries and the stored keys that tell cipher data from a bare switch.
const QString sectionsEntry = QStringLiteral("sections");
const QString sectionsOrderEntry = QStringLiteral("sections-order");
const QString paramsEntry = QStringLiteral("params");
const QString paramsOrderEntry = QStringLiteral("params-order");

QString sectionKey(const QString &section, const char *name)
{
    return section + QLatin1Char('/') + QLatin1String(name);
}

QString paramKey(const QString &section, const char *part, const QString &param)
{
    return section + QStringLiteral("/packed-param-") + QLatin1String(part) + QLatin1Char('/')
            + param;
}

// A part whose flag the loader set is protected when its public key and first
// cipher data are stored, and only marked by hand otherwise.
Protection protectionOf(const QVariantMap &node, const char *flag, const QSettings &stored,
                        const QString &publicKey, const QString &firstData)
{
    if (!node.value(QLatin1String(flag)).toBool())
        return Protection::Plain;
    return stored.contains(publicKey) && stored.contains(firstData) ? Protection::Protected
                                                                    : Protection::Marked;
}

// Names in the order the saver writes them: an empty order list stands for
// every key of the map.
QStringList namesInOrder(const QVariantMap &node, const QString &orderEntry, const QVariantMap &map)
{
    const QStringList order = node.value(orderEntry).toStringList();
    return order.isEmpty() ? QStringList(map.keys()) : order;
}

} // namespace

QString protectionName(Protection protection)
{
    switch (protection) {
    case Protection::Plain:
        return QStringLiteral("plain");
    case Protection::Marked:
        return QStringLiteral("marked");
    case Protection::Protected:
        return QStringLiteral("protected");
    }
    return QString();
}

const ParamView *SectionView::param(const QString &name) const
{
    for (const ParamView &param : params) {
        if (param.name == name)
            return &param;
    }
    return nullptr;
}

const SectionView *ConfigView::section(const QString &name) const
{
    for (const SectionView &section : sections) {
        if (section.name == name)
            return &section;
    }
    return nullptr;
}

const ParamView *ConfigView::param(const QString &keyPath) const
{
    QString sectionName;
    QString paramName;
    if (!Drovik::parseSectionParamByKey(keyPath, sectionName, paramName))
        return nullptr;
    const SectionView *found = section(sectionName);
    return found ? found->param(paramName) : nullptr;
}

QStringList ConfigView::keyPaths() const
{
    QStringList paths;
    for (const ParamView &param : ungrouped)
        paths.append(param.name);
    for (const SectionView &section : sections) {
        for (const ParamView &param : section.params)
            paths.append(section.name + QLatin1Char('/') + param.name);
    }
    return paths;
}

bool loadView(const QSettings &stored, const QByteArray &password, ConfigView *view)
{
    QVariantMap tree;
    if (!Drovik::getFileData(&stored, password, &tree))
        return false;
    view->protection
            = protectionOf(tree, "encrypted-file", stored, QStringLiteral("packed-file/public"),
                           QStringLiteral("packed-file/data000"));
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view->ungrouped.append({name, stored.value(name), Protection::Plain});
    const QVariantMap sections = tree.value(sectionsEntry).toMap();
    for (const QString &sectionName : namesInOrder(tree, sectionsOrderEntry, sections)) {
        const QVariantMap node = sections.value(sectionName).toMap();
        SectionView section;
        section.name = sectionName;
        section.protection = protectionOf(node, "encrypted-section", stored,
                                          sectionKey(sectionName, "packed-section-public"),
                                          sectionKey(sectionName, "packed-section-data000"));
        const QVariantMap params = node.value(paramsEntry).toMap();
        for (const QString &paramName : namesInOrder(node, paramsOrderEntry, params)) {
            // Order lists also name the stored parts of protected parameters,
            // which have no node; the saver skips them, and so does the view.
            const QVariantMap paramNode = params.value(paramName).toMap();
            const QVariant value = paramNode.value(QStringLiteral("value"));
            if (!value.isValid())
                continue;
            section.params.append({paramName, value,
                                   protectionOf(paramNode, "encrypted-param", stored,
                                                paramKey(sectionName, "public", paramName),
                                                paramKey(sectionName, "data", paramName))});
        }
        // A section without parameters is not written by the next save.
        if (!section.params.isEmpty())
            view->sections.append(section);
    }
    return true;
}

bool holdsProtection(const QSettings &stored)
{
    const QStringList keys = stored.allKeys();
    for (const QString &key : keys) {
        QString section;
        QString param;
        if (!Drovik::parseSectionParamByKey(key, section, param))
            continue;
        const bool isSwitch
                = (section == QLatin1String("packed-file") && param == QLatin1String("enabled"))
                || param == QLatin1String("packed-section-enabled")
                || param.startsWith(QLatin1String("packed-param-enabled/"));
        if (isSwitch && stored.value(key).toBool())
            return true;
    }
    return false;
}
