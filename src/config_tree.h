#ifndef DROVIK_CONFIG_TREE_H
#define DROVIK_CONFIG_TREE_H

#include "stored_names.h"

#include <QtCore/QMap>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

#include <iterator>

// The rules of the configuration tree, in one place:
// - an empty order list stands for every key of its map, in ascending order;
// - an order list may name entries that have no node (a deleted parameter's
//   name may stay listed), and those are skipped;
// - protection flags are present only as true: a missing flag reads false;
// - nodes are taken out of their parent, changed and put back (see below).
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

// The names an order list stands for: the list itself, or every key of map
// when it is empty.
inline QStringList listedOrAll(const QStringList &order, const VariantMap &map)
{
    if (order.isEmpty())
        return map.keys();
    return order;
}

// Finds the nodes an order list names. The loader builds a map and its order
// list from one sorted key list, so the list mostly walks the map in key
// order: the entry after the last one found is tried before searching.
class OrderedLookup
{
public:
    explicit OrderedLookup(const VariantMap &map) : m_map(map), m_next(map.cbegin()) { }

    // The node named, or an empty one when the map has no such entry.
    VariantMap node(const QString &name)
    {
        auto it = m_next;
        if (it == m_map.cend() || it.key() != name)
            it = m_map.constFind(name);
        if (it == m_map.cend())
            return VariantMap();
        m_next = std::next(it);
        return it.value().toMap();
    }

private:
    const VariantMap &m_map;
    VariantMap::const_iterator m_next;
};

// Visits the sections the tree's order list names, in its order, skipping
// names without a node (and empty nodes, which have nothing to write).
template<typename Visit> void forEachListedSection(const VariantMap &tree, Visit visit)
{
    const VariantMap sections = tree.value(tree::sections()).toMap();
    const QStringList order
            = listedOrAll(tree.value(tree::sectionsOrder()).toStringList(), sections);
    OrderedLookup lookup(sections);
    for (const QString &name : order) {
        const VariantMap node = lookup.node(name);
        if (!node.isEmpty())
            visit(name, node);
    }
}

// Visits the parameters a section's order list names, in its order; a name
// without a node is visited with an empty node.
template<typename Visit> void forEachListedParam(const VariantMap &sectionNode, Visit visit)
{
    const VariantMap params = sectionNode.value(tree::params()).toMap();
    if (params.isEmpty())
        return;
    const QStringList order
            = listedOrAll(sectionNode.value(tree::paramsOrder()).toStringList(), params);
    OrderedLookup lookup(params);
    for (const QString &name : order)
        visit(name, lookup.node(name));
}

} // namespace drovik

#endif // DROVIK_CONFIG_TREE_H
