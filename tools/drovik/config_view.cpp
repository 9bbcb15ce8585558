#include "config_view.h"

#include "config_tree.h"

#include <drovik/drovik.h>

#include <QtCore/QCryptographicHash>
#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtCore/QSettings>

namespace {

using StoredProtection = QMap<QString, Drovik::Protection>;

// The library's answer for one item: the file (""), a section ("S") or a
// parameter ("S/P"); an item it does not name is stored plain.
Protection protectionOf(const StoredProtection &stored, const QString &item)
{
    const auto it = stored.constFind(item);
    if (it == stored.cend())
        return Protection::Plain;
    return *it == Drovik::Protected ? Protection::Protected : Protection::Marked;
}

// A part marked inside the protected data of its section or file has no
// switch of its own in storage; the loaded tree still carries its flag.
Protection protectionOf(const StoredProtection &stored, const QString &item, bool flagged)
{
    const Protection own = protectionOf(stored, item);
    return own == Protection::Plain && flagged ? Protection::Marked : own;
}

// Stored keys of a hidden part, as the first 8 bytes of a SHA-256 over their
// names and values: equal data, equal digest, so a changed part shows.
Hidden hiddenPart(const QSettings &stored, const QStringList &keys)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &key : keys)
        hash.addData(key.toUtf8() + '=' + stored.value(key).toString().toUtf8() + '\n');
    return {true, QString::fromLatin1(hash.result().left(8).toHex())};
}

bool anyProtectedPart(const ConfigView &view)
{
    if (view.protection == Protection::Protected)
        return true;
    for (const SectionView &section : view.sections) {
        if (section.protection == Protection::Protected)
            return true;
        for (const ParamView &param : section.params) {
            if (param.protection == Protection::Protected)
                return true;
        }
    }
    return false;
}

// One section as its stored keys show it: content keys are parameters, a
// protected parameter's layout keys end in its name.
SectionView sectionLayout(const QSettings &stored, const StoredProtection &protection,
                          const QString &name, const QStringList &keys, const QSet<QString> &layout)
{
    const QString group = name + QLatin1Char('/');
    SectionView section {name, protectionOf(protection, name), {}, Hidden()};
    if (section.protection == Protection::Protected) {
        section.paramsHidden = hiddenPart(stored, keys);
        return section;
    }
    for (const QString &key : keys) {
        if (!layout.contains(key))
            section.params.append({key.mid(group.size()), stored.value(key),
                                   protectionOf(protection, key), Hidden()});
    }
    for (auto it = protection.lowerBound(group);
         it != protection.cend() && it.key().startsWith(group); ++it) {
        if (*it != Drovik::Protected)
            continue;
        const QString param = it.key().mid(group.size());
        QStringList own;
        for (const QString &key : keys) {
            if (key.endsWith(QLatin1Char('/') + param) && layout.contains(key))
                own.append(key);
        }
        section.params.append({param, QVariant(), Protection::Protected, hiddenPart(stored, own)});
    }
    return section;
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

bool ConfigView::holdsProtectedPart() const
{
    return anyProtectedPart(*this);
}

bool loadView(const QSettings &stored, const QByteArray &password, ConfigView *view)
{
    QVariantMap tree;
    if (!Drovik::getFileData(&stored, password, &tree))
        return false;
    const StoredProtection protection = Drovik::storedProtection(&stored, nullptr);
    view->protection = protectionOf(protection, QString(),
                                    drovik::readFlag(tree, drovik::tree::encryptedFile()));
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view->ungrouped.append({name, stored.value(name), Protection::Plain, Hidden()});
    drovik::forEachListedSection(tree, [&](const QString &sectionName, const QVariantMap &node) {
        SectionView section {sectionName,
                             protectionOf(protection, sectionName,
                                          drovik::readFlag(node, drovik::tree::encryptedSection())),
                             {},
                             Hidden()};
        drovik::forEachListedParam(node, [&](const QString &paramName, const QVariantMap &param) {
            const QVariant value = param.value(drovik::tree::value());
            // A name listed without a node has nothing the next save writes.
            if (value.isValid())
                section.params.append(
                        {paramName, value,
                         protectionOf(protection, sectionName + QLatin1Char('/') + paramName,
                                      drovik::readFlag(param, drovik::tree::encryptedParam())),
                         Hidden()});
        });
        // A section without parameters is not written by the next save.
        if (!section.params.isEmpty())
            view->sections.append(section);
    });
    return true;
}

ConfigView layoutView(const QSettings &stored)
{
    QStringList layout;
    const StoredProtection protection = Drovik::storedProtection(&stored, &layout);
    ConfigView view;
    view.protection = protectionOf(protection, QString());
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view.ungrouped.append({name, stored.value(name), Protection::Plain, Hidden()});
    if (view.protection == Protection::Protected) {
        view.sectionsHidden = hiddenPart(stored, layout);
        return view;
    }
    // Each key once, by its section: a large file has many of both.
    QMap<QString, QStringList> keysBySection;
    QHash<QString, QSet<QString>> layoutBySection;
    const QStringList keys = stored.allKeys();
    for (const QString &key : keys) {
        const int slash = key.indexOf(QLatin1Char('/'));
        if (slash > 0)
            keysBySection[key.left(slash)].append(key);
    }
    for (const QString &key : qAsConst(layout))
        layoutBySection[key.left(key.indexOf(QLatin1Char('/')))].insert(key);
    for (auto it = keysBySection.cbegin(); it != keysBySection.cend(); ++it) {
        const SectionView section = sectionLayout(stored, protection, it.key(), it.value(),
                                                  layoutBySection.value(it.key()));
        if (!section.params.isEmpty() || section.paramsHidden.hidden)
            view.sections.append(section);
    }
    return view;
}

bool holdsProtection(const QSettings &stored)
{
    return !Drovik::storedProtection(&stored, nullptr).isEmpty();
}
