#include "config_view.h"

#include <drovik/drovik.h>

#include "stored_names.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QSettings>

namespace {

using namespace drovik;

// A part whose flag the loader set is protected when its public key and first
// cipher data are stored, and only marked by hand otherwise.
Protection protectionOf(bool flagged, const QSettings &stored, const QString &publicKey,
                        const QString &firstData)
{
    if (!flagged)
        return Protection::Plain;
    return stored.contains(publicKey) && stored.contains(firstData) ? Protection::Protected
                                                                    : Protection::Marked;
}

Protection fileProtection(const QSettings &stored)
{
    return protectionOf(stored.value(stored::fileEnabled()).toBool(), stored, stored::filePublic(),
                        stored::fileChunk(0));
}

QString sectionKey(const QString &section, const QString &name)
{
    return section + QLatin1Char('/') + name;
}

Protection sectionProtection(const QSettings &stored, const QString &section, bool flagged)
{
    return protectionOf(flagged, stored, sectionKey(section, stored::sectionPublic()),
                        sectionKey(section, stored::sectionChunk(0)));
}

Protection paramProtection(const QSettings &stored, const QString &section, const QString &param,
                           bool flagged)
{
    return protectionOf(flagged, stored, sectionKey(section, stored::paramPublic(param)),
                        sectionKey(section, stored::paramData(param)));
}

// Names in the order the saver writes them: an empty order list stands for
// every key of the map.
QStringList namesInOrder(const QVariantMap &node, const QString &orderEntry, const QVariantMap &map)
{
    const QStringList order = node.value(orderEntry).toStringList();
    return order.isEmpty() ? QStringList(map.keys()) : order;
}

// The stored keys of a hidden part, as the first 8 bytes of a SHA-256 over
// their names and values: equal data, equal digest.
Hidden hiddenPart(const QSettings &stored, const QStringList &keys)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &key : keys) {
        hash.addData(key.toUtf8() + '=' + stored.value(key).toString().toUtf8() + '\n');
    }
    return {true, QString::fromLatin1(hash.result().left(8).toHex())};
}

QStringList keysWithPrefix(const QStringList &keys, const QString &prefix)
{
    QStringList found;
    for (const QString &key : keys) {
        if (key.startsWith(prefix))
            found.append(key);
    }
    return found;
}

SectionView sectionLayout(const QSettings &stored, const QStringList &allKeys, const QString &name)
{
    const QString group = name + QLatin1Char('/');
    const QStringList keys = keysWithPrefix(allKeys, group);
    SectionView section;
    section.name = name;
    section.protection = sectionProtection(stored, name,
                                           stored.value(group + stored::sectionEnabled()).toBool());
    if (section.protection == Protection::Protected) {
        section.paramsHidden
                = hiddenPart(stored, keysWithPrefix(keys, group + stored::sectionPrefix()));
        return section;
    }
    const QString enabledPrefix = group + stored::paramEnabledPrefix() + QLatin1Char('/');
    QStringList flagged;
    for (const QString &key : keysWithPrefix(keys, enabledPrefix)) {
        if (stored.value(key).toBool())
            flagged.append(key.mid(enabledPrefix.size()));
    }
    for (const QString &key : keys) {
        const QString param = key.mid(group.size());
        if (param.startsWith(stored::sectionPrefix()) || param.startsWith(stored::paramPrefix()))
            continue;
        section.params.append({param, stored.value(key),
                               paramProtection(stored, name, param, flagged.contains(param)),
                               Hidden()});
    }
    for (const QString &param : flagged) {
        ParamView view {param, QVariant(), paramProtection(stored, name, param, true), Hidden()};
        if (view.protection != Protection::Protected)
            continue;
        view.valueHidden = hiddenPart(
                stored, {group + stored::paramPublic(param), group + stored::paramData(param)});
        section.params.append(view);
    }
    return section;
}

bool anyPart(const ConfigView &view, Protection least)
{
    const auto reaches = [least](Protection protection) {
        return protection != Protection::Plain
                && (least == Protection::Marked || protection == Protection::Protected);
    };
    if (reaches(view.protection))
        return true;
    for (const SectionView &section : view.sections) {
        if (reaches(section.protection))
            return true;
        for (const ParamView &param : section.params) {
            if (reaches(param.protection))
                return true;
        }
    }
    return false;
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

bool ConfigView::holdsProtection() const
{
    return anyPart(*this, Protection::Marked);
}

bool ConfigView::holdsProtectedPart() const
{
    return anyPart(*this, Protection::Protected);
}

bool loadView(const QSettings &stored, const QByteArray &password, ConfigView *view)
{
    QVariantMap tree;
    if (!Drovik::getFileData(&stored, password, &tree))
        return false;
    view->protection = protectionOf(tree.value(tree::encryptedFile()).toBool(), stored,
                                    stored::filePublic(), stored::fileChunk(0));
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view->ungrouped.append({name, stored.value(name), Protection::Plain, Hidden()});
    const QVariantMap sections = tree.value(tree::sections()).toMap();
    for (const QString &sectionName : namesInOrder(tree, tree::sectionsOrder(), sections)) {
        const QVariantMap node = sections.value(sectionName).toMap();
        SectionView section;
        section.name = sectionName;
        section.protection = sectionProtection(stored, sectionName,
                                               node.value(tree::encryptedSection()).toBool());
        const QVariantMap params = node.value(tree::params()).toMap();
        for (const QString &paramName : namesInOrder(node, tree::paramsOrder(), params)) {
            // Order lists also name the stored parts of protected parameters,
            // which have no node; the saver skips them, and so does the view.
            const QVariantMap paramNode = params.value(paramName).toMap();
            const QVariant value = paramNode.value(tree::value());
            if (!value.isValid())
                continue;
            section.params.append(
                    {paramName, value,
                     paramProtection(stored, sectionName, paramName,
                                     paramNode.value(tree::encryptedParam()).toBool()),
                     Hidden()});
        }
        // A section without parameters is not written by the next save.
        if (!section.params.isEmpty())
            view->sections.append(section);
    }
    return true;
}

ConfigView layoutView(const QSettings &stored)
{
    ConfigView view;
    view.protection = fileProtection(stored);
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view.ungrouped.append({name, stored.value(name), Protection::Plain, Hidden()});
    if (view.protection == Protection::Protected) {
        view.sectionsHidden = hiddenPart(
                stored, keysWithPrefix(stored.allKeys(), stored::fileGroup() + QLatin1Char('/')));
        return view;
    }
    const QStringList groups = stored.childGroups();
    const QStringList allKeys = stored.allKeys();
    for (const QString &group : groups) {
        if (group == stored::fileGroup())
            continue;
        const SectionView section = sectionLayout(stored, allKeys, group);
        if (!section.params.isEmpty() || section.paramsHidden.hidden)
            view.sections.append(section);
    }
    return view;
}
