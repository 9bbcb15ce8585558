#include "readable_view.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

namespace {

bool switchedOn(const QSettings &stored, const QString &key)
{
    return stored.value(key).toBool();
}

// A part counts as stored protected only with its switch, public key and
// first cipher data all present; a switch alone marks plain content.
Protection protectionAt(const QSettings &stored, const QString &enabled, const QString &publicKey,
                        const QString &firstData)
{
    if (!switchedOn(stored, enabled))
        return Protection::Plain;
    return stored.contains(publicKey) && stored.contains(firstData) ? Protection::Protected
                                                                    : Protection::Marked;
}

const QLatin1String paramPrefix("packed-param-");
const QLatin1String paramSwitchPrefix("packed-param-enabled/");
const QLatin1String sectionPrefix("packed-section-");

SectionView readSection(const QSettings &stored, const QString &name, const QStringList &keys)
{
    SectionView section;
    section.name = name;
    const QString group = name + QLatin1Char('/');
    section.protection = protectionAt(stored, group + QStringLiteral("packed-section-enabled"),
                                      group + QStringLiteral("packed-section-public"),
                                      group + QStringLiteral("packed-section-data000"));
    if (section.protection == Protection::Protected)
        return section;
    // A marked section keeps its own switch keys out of its content; a plain
    // one only drops a stale magic key, as the loader does.
    const bool marked = section.protection == Protection::Marked;
    for (const QString &param : keys) {
        if (param.startsWith(paramSwitchPrefix)) {
            const QString target = param.mid(paramSwitchPrefix.size());
            const Protection own = protectionAt(
                    stored, group + param, group + QStringLiteral("packed-param-public/") + target,
                    group + QStringLiteral("packed-param-data/") + target);
            if (own == Protection::Protected)
                section.params.append({target, QVariant(), own});
            continue;
        }
        if (param.startsWith(paramPrefix)
            || (param.startsWith(sectionPrefix)
                && (marked || param == QLatin1String("packed-section-magic"))))
            continue;
        const QString switchKey = group + paramSwitchPrefix + param;
        section.params.append(
                {param, stored.value(group + param),
                 switchedOn(stored, switchKey) ? Protection::Marked : Protection::Plain});
    }
    return section;
}

} // namespace

ConfigView readableView(const QSettings &stored)
{
    ConfigView view;
    const QStringList ungrouped = stored.childKeys();
    for (const QString &name : ungrouped)
        view.ungrouped.append({name, stored.value(name), Protection::Plain});
    view.protection = protectionAt(stored, QStringLiteral("packed-file/enabled"),
                                   QStringLiteral("packed-file/public"),
                                   QStringLiteral("packed-file/data000"));
    if (view.protection == Protection::Protected)
        return view;
    // Keys gathered per section in QSettings' order, split where the library splits them.
    QStringList order;
    QMap<QString, QStringList> keysOf;
    const QStringList keys = stored.allKeys();
    for (const QString &key : keys) {
        QString section;
        QString param;
        if (!Drovik::parseSectionParamByKey(key, section, param))
            continue;
        if (!keysOf.contains(section))
            order.append(section);
        keysOf[section].append(param);
    }
    for (const QString &name : qAsConst(order)) {
        if (name == QLatin1String("packed-file") && view.protection == Protection::Marked)
            continue;
        const SectionView section = readSection(stored, name, keysOf.value(name));
        if (!section.params.isEmpty() || section.protection == Protection::Protected)
            view.sections.append(section);
    }
    return view;
}

bool needsPassword(const ConfigView &readable, const QStringList &sections)
{
    if (readable.protection == Protection::Protected)
        return true;
    for (const SectionView &section : readable.sections) {
        if (!sections.isEmpty() && !sections.contains(section.name))
            continue;
        if (section.protection == Protection::Protected)
            return true;
        for (const ParamView &param : section.params) {
            if (param.protection == Protection::Protected)
                return true;
        }
    }
    return false;
}
