#include "config_tree.h"
#include "key_path.h"

#include "operations.h"
#include "stored_file.h"

#include <QtCore/QSettings>

namespace drovik {

namespace {

// The value a loaded tree holds at section/param, or the default. A node
// whose "value" is an invalid variant still answers with that variant.
QVariant lookUp(const VariantMap &tree, const QString &section, const QString &param,
                const QVariant &defaultValue)
{
    const VariantMap node = paramNode(tree, section, param);
    const auto it = node.constFind(tree::value());
    return it == node.cend() ? defaultValue : it.value();
}

// Loads for a query; a failed load is not reported, the answer then comes
// from whatever the loader put into the tree.
VariantMap loadForQuery(QSettings *settings, const QByteArray &password)
{
    VariantMap tree;
    loadWithSaving(settings, password, &tree);
    return tree;
}

} // namespace

QVariant value(const QSettings *settings, const QString &key, const QVariant &defaultValue,
               const QByteArray &password)
{
    QString section;
    QString param;
    if (!splitKeyPath(key, section, param))
        return defaultValue;
    VariantMap tree;
    loadFile(settings, password, &tree, nullptr);
    return lookUp(tree, section, param, defaultValue);
}

QVariant value(QSettings *settings, const QString &key, const QVariant &defaultValue,
               const QByteArray &password)
{
    QString section;
    QString param;
    if (!splitKeyPath(key, section, param))
        return defaultValue;
    return lookUp(loadForQuery(settings, password), section, param, defaultValue);
}

bool isEncryptedFile(QSettings *settings, const QByteArray &password)
{
    return readFlag(loadForQuery(settings, password), tree::encryptedFile());
}

bool isEncryptedSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return readFlag(sectionNode(loadForQuery(settings, password), section),
                    tree::encryptedSection());
}

bool isEncryptedParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    QString section;
    QString param;
    if (!splitKeyPath(key, section, param))
        return false;
    return readFlag(paramNode(loadForQuery(settings, password), section, param),
                    tree::encryptedParam());
}

QStringList sections(QSettings *settings, const QByteArray &password)
{
    return loadForQuery(settings, password).value(tree::sectionsOrder()).toStringList();
}

QStringList parametersOfSection(QSettings *settings, const QString &section,
                                const QByteArray &password)
{
    return sectionNode(loadForQuery(settings, password), section)
            .value(tree::paramsOrder())
            .toStringList();
}

QStringList parametersOfFile(QSettings *settings, const QByteArray &password)
{
    const VariantMap tree = loadForQuery(settings, password);
    const VariantMap sections = tree.value(tree::sections()).toMap();
    QStringList keys;
    for (const QString &section : tree.value(tree::sectionsOrder()).toStringList()) {
        const auto node = sections.constFind(section);
        if (node == sections.cend())
            continue;
        const QString prefix = section + QLatin1Char('/');
        for (const QString &param : node.value().toMap().value(tree::paramsOrder()).toStringList())
            keys.append(prefix + param);
    }
    return keys;
}

} // namespace drovik
