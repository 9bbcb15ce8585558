#ifndef DROVIK_SECTION_BUILDER_H
#define DROVIK_SECTION_BUILDER_H

#include "config_tree.h"

#include <QtCore/QHash>

#include <vector>

namespace drovik {

// Builds a "sections" map value by value, in first-seen order, as the loaders
// do when they turn a flat list of key paths into the tree. Sections live in
// plain containers until the end, so a section of many keys is never copied
// per key and an order list is never searched per key.
class SectionBuilder
{
public:
    explicit SectionBuilder(const QStringList &sectionOrder = QStringList())
        : m_sectionOrder(sectionOrder)
    { }

    // Sets the "value" of the param node named by a key path split at `split`
    // (see keyPathSplit()), keeping the node's other entries.
    void setValue(const QString &key, int split, const QVariant &value);

    // Every section as a node with "params" and "params-order".
    QMap<QString, QVariant> takeSections();
    QStringList sectionOrder() const { return m_sectionOrder.names(); }

private:
    struct Section
    {
        QString name;
        QStringList paramsOrder;
        QMap<QString, QVariant> params;
    };
    Section &section(QStringView name);
    static void setParam(Section &target, const QString &param, const QVariant &value);

    std::vector<Section> m_sections;
    QHash<QString, std::size_t> m_indexOf;
    std::size_t m_last = 0; // index of the section used last
    OrderList m_sectionOrder;
};

} // namespace drovik

#endif // DROVIK_SECTION_BUILDER_H
