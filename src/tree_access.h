#ifndef DROVIK_TREE_ACCESS_H
#define DROVIK_TREE_ACCESS_H

#include "stored_names.h"

#include <QtCore/QMap>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

// Small helpers for reading and editing the nested maps of the configuration
// tree.
//
// Nodes are values held in QVariants. Copying a nested map out and changing it
// while the tree still holds it would deep-copy the map on every change (the
// data is shared); taking it out of its parent first leaves the copy as the
// only owner, so a change costs what a change of a plain map costs.
namespace drovik {

using VariantMap = QMap<QString, QVariant>;

inline VariantMap takeMap(VariantMap &node, const QString &entry)
{
    return node.take(entry).toMap();
}

inline QStringList takeList(VariantMap &node, const QString &entry)
{
    return node.take(entry).toStringList();
}

// Protection flags exist only as true; a missing entry reads false.
inline bool readFlag(const VariantMap &node, const QString &entry)
{
    return node.value(entry).toBool();
}

inline VariantMap sectionNode(const VariantMap &tree, const QString &section)
{
    return tree.value(tree::sections()).toMap().value(section).toMap();
}

// The node of one parameter; empty when any level on the way is missing.
inline VariantMap paramNode(const VariantMap &tree, const QString &section, const QString &param)
{
    return sectionNode(tree, section).value(tree::params()).toMap().value(param).toMap();
}

// Appends name to the order list `entry` of node unless the list holds it.
inline void appendOnce(VariantMap &node, const QString &entry, const QString &name)
{
    QStringList order = takeList(node, entry);
    if (!order.contains(name))
        order.append(name);
    node.insert(entry, order);
}

// Changes one section node in place, creating it when missing.
template<typename Change>
void changeSectionNode(VariantMap &tree, const QString &section, Change change)
{
    VariantMap sections = takeMap(tree, tree::sections());
    VariantMap node = takeMap(sections, section);
    change(node);
    sections.insert(section, node);
    tree.insert(tree::sections(), sections);
}

// Changes one param node in place, creating missing levels. With listNames the
// section and parameter are also appended to the order lists when absent.
template<typename Change>
void changeParamNode(VariantMap &tree, const QString &section, const QString &param, bool listNames,
                     Change change)
{
    changeSectionNode(tree, section, [&](VariantMap &node) {
        VariantMap params = takeMap(node, tree::params());
        VariantMap target = takeMap(params, param);
        change(target);
        params.insert(param, target);
        node.insert(tree::params(), params);
        if (listNames)
            appendOnce(node, tree::paramsOrder(), param);
    });
    if (listNames)
        appendOnce(tree, tree::sectionsOrder(), section);
}

// An order list with a constant-time membership test: names are appended at
// the end only when absent, and large sections must not pay a linear search
// per name.
class OrderList
{
public:
    OrderList() = default;
    explicit OrderList(const QStringList &names) : m_names(names)
    {
        m_seen.reserve(names.size());
        for (const QString &name : names)
            m_seen.insert(name);
    }

    void append(const QString &name)
    {
        if (m_seen.contains(name))
            return;
        m_seen.insert(name);
        m_names.append(name);
    }

    const QStringList &names() const { return m_names; }

private:
    QStringList m_names;
    QSet<QString> m_seen;
};

} // namespace drovik

#endif // DROVIK_TREE_ACCESS_H
