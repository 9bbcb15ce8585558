#include "section_builder.h"

#include "stored_names.h"

namespace drovik {

void SectionBuilder::setValue(const QString &section, const QString &param, const QVariant &value)
{
    m_sectionOrder.append(section);
    auto known = m_indexOf.constFind(section);
    std::size_t index;
    if (known == m_indexOf.constEnd()) {
        index = m_sections.size();
        m_indexOf.insert(section, index);
        m_sections.push_back(Section {section, OrderList(), QMap<QString, QVariant>()});
    } else {
        index = known.value();
    }
    Section &target = m_sections[index];
    target.paramsOrder.append(param);
    QMap<QString, QVariant> node = takeMap(target.params, param);
    node.insert(tree::value(), value);
    target.params.insert(param, node);
}

QMap<QString, QVariant> SectionBuilder::takeSections()
{
    QMap<QString, QVariant> sections;
    for (Section &section : m_sections) {
        QMap<QString, QVariant> node;
        node.insert(tree::params(), section.params);
        node.insert(tree::paramsOrder(), section.paramsOrder.names());
        sections.insert(section.name, node);
    }
    m_sections.clear();
    m_indexOf.clear();
    return sections;
}

} // namespace drovik
