#include "section_builder.h"

#include "stored_names.h"

namespace drovik {

void SectionBuilder::setValue(const QString &key, int split, const QVariant &value)
{
    // The section name is only copied when it differs from the last key's.
    setParam(section(QStringView(key).left(split)), key.mid(split + 1), value);
}

SectionBuilder::Section &SectionBuilder::section(QStringView name)
{
    // Keys come grouped by section (QSettings lists them sorted, payload maps
    // are sorted), so most keys hit the section of the key before them.
    if (m_last < m_sections.size() && m_sections[m_last].name == name)
        return m_sections[m_last];

    const QString owned = name.toString();
    auto known = m_indexOf.constFind(owned);
    if (known == m_indexOf.constEnd()) {
        m_sectionOrder.append(owned);
        m_last = m_sections.size();
        m_indexOf.insert(owned, m_last);
        m_sections.push_back(Section {owned, QStringList(), QMap<QString, QVariant>()});
    } else {
        m_last = known.value();
    }
    return m_sections[m_last];
}

void SectionBuilder::setParam(Section &target, const QString &param, const QVariant &value)
{
    QMap<QString, QVariant> &params = target.params;
    // The params map doubles as the order list's membership test. Sorted input
    // puts every new name after the last one: the hinted insert then appends
    // without searching the map.
    if (params.isEmpty() || params.lastKey() < param) {
        QMap<QString, QVariant> node;
        node.insert(tree::value(), value);
        target.paramsOrder.append(param);
        params.insert(params.constEnd(), param, node);
        return;
    }
    auto it = params.find(param);
    if (it == params.end()) {
        QMap<QString, QVariant> node;
        node.insert(tree::value(), value);
        target.paramsOrder.append(param);
        params.insert(param, node);
        return;
    }
    // Take the node out first, so that changing it does not copy it.
    QMap<QString, QVariant> node = it.value().toMap();
    it.value() = QVariant();
    node.insert(tree::value(), value);
    it.value() = node;
}

QMap<QString, QVariant> SectionBuilder::takeSections()
{
    QMap<QString, QVariant> sections;
    for (Section &section : m_sections) {
        QMap<QString, QVariant> node;
        node.insert(tree::params(), section.params);
        node.insert(tree::paramsOrder(), section.paramsOrder);
        // Sections are usually met in ascending order; a wrong hint only costs
        // the search that insert() makes anyway.
        sections.insert(sections.constEnd(), section.name, node);
    }
    m_sections.clear();
    m_indexOf.clear();
    return sections;
}

} // namespace drovik
