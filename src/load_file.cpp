#include "key_path.h"
#include "loading.h"
#include "section_builder.h"
#include "stored_names.h"
#include "tree_access.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

using namespace drovik;

bool Drovik::getFileData(const QSettings *settings, const QByteArray &password,
                         QMap<QString, QVariant> *tree)
{
    return parseFile(settings, password, tree, nullptr);
}

bool Drovik::parseFile(const QSettings *settings, const QByteArray &password,
                       QMap<QString, QVariant> *tree, bool *needsSaving)
{
    const bool marked = settings->value(stored::fileEnabled(), false).toBool();
    if (!marked)
        return parseFileUnencrypted(settings, password, tree, needsSaving);

    bool found = false;
    if (!parseFileEncrypted(settings, password, tree, &found))
        return false;
    // Marked by hand but still plain: load the plain sections, save encrypts them.
    if (!found && !parseFileUnencrypted(settings, password, tree, needsSaving))
        return false;

    QStringList order = takeList(*tree, tree::sectionsOrder());
    order.removeAll(stored::fileGroup());
    tree->insert(tree::sectionsOrder(), order);
    tree->insert(tree::encryptedFile(), true);
    if (!found)
        raise(needsSaving);
    return true;
}

bool Drovik::parseFileUnencrypted(const QSettings *settings, const QByteArray &password,
                                  QMap<QString, QVariant> *tree, bool *needsSaving)
{
    QStringList order;
    QMap<QString, QVariant> raw = parseFileUnencryptedGetSections(settings, order);

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
        ok = parseSection(password, name, &node, needsSaving);
        slot.value() = node;
    }
    tree->insert(tree::sections(), raw);
    tree->insert(tree::sectionsOrder(), order);
    return ok;
}

QMap<QString, QVariant> Drovik::parseFileUnencryptedGetSections(const QSettings *settings,
                                                                QStringList &order)
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

bool Drovik::parseSection(const QByteArray &password, const QString &section,
                          QMap<QString, QVariant> *sectionNode, bool *needsSaving)
{
    QMap<QString, QVariant> params = takeMap(*sectionNode, tree::params());
    const bool marked
            = params.value(stored::sectionEnabled()).toMap().value(tree::value()).toBool();
    if (!marked)
        return parseSectionUnencrypted(password, section, sectionNode, &params, needsSaving);

    bool found = false;
    bool result = parseSectionEncrypted(password, section, sectionNode, &params, &found);
    if (!found) {
        // Marked by hand but still plain: load it plain, the next save encrypts it.
        if (!parseSectionUnencrypted(password, section, sectionNode, &params, needsSaving))
            return false;
        result = true;
    } else if (!result) {
        sectionNode->insert(tree::params(), params); // the decoder left the raw params alone
    }

    // The protection keys stay in "params" but are never listed or written as content.
    QStringList order = takeList(*sectionNode, tree::paramsOrder());
    QStringList cleaned;
    cleaned.reserve(order.size());
    for (const QString &name : qAsConst(order)) {
        if (!name.startsWith(stored::sectionPrefix()))
            cleaned.append(name);
    }
    sectionNode->insert(tree::paramsOrder(), cleaned);
    sectionNode->insert(tree::encryptedSection(), true);
    if (!found)
        raise(needsSaving);
    return result;
}

bool Drovik::parseSectionUnencrypted(const QByteArray &password, const QString &section,
                                     QMap<QString, QVariant> *sectionNode,
                                     QMap<QString, QVariant> *params, bool *needsSaving)
{
    // A magic text belongs inside a payload only; one left in plain is stale.
    if (section == stored::fileGroup() && params->remove(stored::fileMagicParam()) > 0)
        raise(needsSaving);
    if (params->remove(stored::sectionMagic()) > 0)
        raise(needsSaving);

    QStringList order = takeList(*sectionNode, tree::paramsOrder());
    const bool ok = decodeProtectedParams(password, section, params, &order, needsSaving);
    sectionNode->insert(tree::paramsOrder(), order);
    sectionNode->insert(tree::params(), *params);
    return ok;
}
