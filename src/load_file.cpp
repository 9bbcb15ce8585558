#include "stored_file.h"

#include "config_tree.h"
#include "decode_file.h"
#include "decode_params.h"
#include "decode_section.h"
#include "key_path.h"
#include "section_builder.h"
#include "stored_names.h"

#include <QtCore/QSettings>

namespace drovik {

bool loadFile(const QSettings *settings, const QByteArray &password, QMap<QString, QVariant> *tree,
              bool *needsSaving)
{
    const bool marked = settings->value(stored::fileEnabled(), false).toBool();
    if (!marked)
        return loadPlainFile(settings, password, tree, needsSaving);

    bool found = false;
    if (!decodeProtectedFile(settings, password, tree, &found))
        return false;
    // Marked by hand but still plain: load the plain sections, save encrypts them.
    if (!found && !loadPlainFile(settings, password, tree, needsSaving))
        return false;

    QStringList order = takeList(*tree, tree::sectionsOrder());
    order.removeAll(stored::fileGroup());
    tree->insert(tree::sectionsOrder(), order);
    tree->insert(tree::encryptedFile(), true);
    if (!found)
        markNeedsSaving(needsSaving);
    return true;
}

bool loadPlainFile(const QSettings *settings, const QByteArray &password,
                   QMap<QString, QVariant> *tree, bool *needsSaving)
{
    QStringList order;
    QMap<QString, QVariant> raw = rawSections(settings, order);

    // Every name in order has a node in raw and raw has no other, so each node
    // is completed where it lies instead of being moved into a new map.
    bool ok = true;
    for (const QString &name : qAsConst(order)) {
        // After the first failure the remaining sections stay raw.
        if (!ok)
            break;
        const auto slot = raw.find(name);
        if (slot == raw.end())
            continue;
        // Taken out of its slot first, so that completing it does not copy it.
        QMap<QString, QVariant> node = slot.value().toMap();
        slot.value() = QVariant();
        ok = loadSection(password, name, &node, needsSaving);
        slot.value() = node;
    }
    tree->insert(tree::sections(), raw);
    tree->insert(tree::sectionsOrder(), order);
    return ok;
}

QMap<QString, QVariant> rawSections(const QSettings *settings, QStringList &order)
{
    SectionBuilder builder(order);
    const QStringList keys = settings->allKeys();
    for (const QString &key : keys) {
        // Keys outside every group have no section and never reach the tree.
        const int split = keyPathSplit(key);
        if (split >= 0)
            builder.setValue(key, split, settings->value(key));
    }
    order = builder.sectionOrder();
    return builder.takeSections();
}

} // namespace drovik
