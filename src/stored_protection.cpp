#include "stored_protection.h"

#include "key_path.h"
#include "stored_names.h"

#include <QtCore/QSet>
#include <QtCore/QSettings>

// Reads the same switches, in the same way, as the loader: a switch that reads
// true with its public key and first data key beside it is protected data, a
// switch alone only marks plain content for protection.

namespace drovik {

namespace {

using Answer = QMap<QString, Drovik::Protection>;

Drovik::Protection protection(bool dataStored)
{
    return dataStored ? Drovik::Protected : Drovik::Marked;
}

// One stored section: its own switch, its parameters' switches, and which of
// its keys are not content.
void classifySection(const QSettings *settings, const QString &section, const QStringList &params,
                     Answer *answer, QStringList *layout)
{
    const QString prefix = section + QLatin1Char('/');
    const QSet<QString> names(params.cbegin(), params.cend());
    const bool sectionSwitch = settings->value(prefix + stored::sectionEnabled()).toBool();
    if (sectionSwitch) {
        const bool data = names.contains(stored::sectionPublic())
                && names.contains(stored::sectionChunk(0));
        answer->insert(section, protection(data));
        if (data) {
            // Only the payload is read back; a key beside it is lost at the next save.
            for (const QString &param : params)
                layout->append(prefix + param);
            return;
        }
    }
    const QString paramSwitch = QString(stored::paramEnabledPrefix()) + QLatin1Char('/');
    for (const QString &param : params) {
        const bool reserved = param.startsWith(stored::paramPrefix())
                || (param.startsWith(stored::sectionPrefix())
                    && (sectionSwitch || param == stored::sectionMagic()));
        if (reserved)
            layout->append(prefix + param);
        if (!param.startsWith(paramSwitch) || !settings->value(prefix + param).toBool())
            continue;
        const QString name = param.mid(paramSwitch.size());
        const bool data = names.contains(stored::paramPublic(name))
                && names.contains(stored::paramData(name));
        answer->insert(prefix + name, protection(data));
    }
}

} // namespace

QMap<QString, Drovik::Protection> storedProtection(const QSettings *settings,
                                                   QStringList *layoutKeys)
{
    Answer answer;
    QStringList layout;
    const QStringList keys = settings->allKeys();
    const bool fileSwitch = settings->value(stored::fileEnabled()).toBool();
    const bool fileData = fileSwitch && settings->contains(stored::filePublic())
            && settings->contains(stored::fileChunk(0));
    if (fileSwitch)
        answer.insert(QString(), protection(fileData));

    // Parameters grouped by section, in the order QSettings lists them.
    QStringList sectionOrder;
    QHash<QString, QStringList> params;
    for (const QString &key : keys) {
        const int split = keyPathSplit(key);
        if (split < 0)
            continue; // outside any section: neither content of the tree nor layout
        const QString section = key.left(split);
        // Under file protection only the payload is read back; a marked file's
        // group "packed-file" holds its switch and nothing of the content.
        if (fileData || (fileSwitch && section == stored::fileGroup())) {
            layout.append(key);
            continue;
        }
        auto it = params.find(section);
        if (it == params.end()) {
            sectionOrder.append(section);
            it = params.insert(section, QStringList());
        }
        it->append(key.mid(split + 1));
    }
    for (const QString &section : qAsConst(sectionOrder)) {
        const QStringList &names = params[section];
        if (section == stored::fileGroup() && names.contains(stored::fileMagicParam()))
            layout.append(section + QLatin1Char('/') + stored::fileMagicParam());
        classifySection(settings, section, names, &answer, &layout);
    }
    if (layoutKeys)
        *layoutKeys = layout;
    return answer;
}

} // namespace drovik
