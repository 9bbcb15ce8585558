#include "config_tree.h"
#include "key_path.h"

#include "operations.h"
#include "stored_file.h"

#include <QtCore/QSettings>

#include <algorithm>

namespace drovik {

namespace {

// The stored key "<section>/<name><param>" of a key path split at `split`, in
// one allocation of the exact size: the shortcut makes two of them for each
// write and would otherwise spend as much on building keys as on reading them.
// Joined, not formatted, so that a "%1" inside a name is never substituted.
QString switchKey(const QString &key, int split, const QString &name, bool withParam)
{
    const int paramSize = withParam ? key.size() - split - 1 : 0;
    QString out(split + 1 + name.size() + paramSize, Qt::Uninitialized);
    QChar *at = std::copy(key.cbegin(), key.cbegin() + split, out.data());
    *at++ = QLatin1Char('/');
    at = std::copy(name.cbegin(), name.cend(), at);
    std::copy(key.cend() - paramSize, key.cend(), at);
    return out;
}

} // namespace

bool setValue(QSettings *settings, const QString &key, const QVariant &value,
              const QByteArray &password)
{
    const int split = keyPathSplit(key);
    if (split < 0)
        return false;

    // A switch reads true both where content is stored protected and where it
    // is only marked, so these three reads say whether anything around the
    // key is protected.
    const bool fileFlag = settings->value(stored::fileEnabled(), QVariant()).toBool();
    const bool sectionFlag
            = settings->value(switchKey(key, split, stored::sectionEnabled(), false), QVariant())
                      .toBool();
    const bool paramFlag
            = settings->value(switchKey(key, split, stored::paramEnabledHead(), true), QVariant())
                      .toBool();
    if (!fileFlag && !sectionFlag && !paramFlag) {
        settings->setValue(key, value);
        return true;
    }

    QString section;
    QString param;
    splitKeyPath(key, section, param);
    VariantMap tree;
    if (!loadFile(settings, password, &tree, nullptr))
        return false;
    changeParamNode(tree, section, param, true,
                    [&value](VariantMap &node) { node.insert(tree::value(), value); });
    return saveFaithfully(settings, password, tree);
}

bool delParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return delParams(settings, QStringList {key}, password);
}

bool delParams(QSettings *settings, const QStringList &keys, const QByteArray &password)
{
    VariantMap tree;
    if (!loadFile(settings, password, &tree, nullptr))
        return false;
    QString section;
    QString param;
    for (const QString &key : keys) {
        if (!splitKeyPath(key, section, param))
            continue;
        // The name may stay in "params-order": the saver skips names without a node.
        changeSectionNode(tree, section, [&param](VariantMap &node) {
            VariantMap params = takeMap(node, tree::params());
            params.remove(param);
            node.insert(tree::params(), params);
        });
    }
    return saveFaithfully(settings, password, tree);
}

bool delSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return delSections(settings, QStringList {section}, password);
}

bool delSections(QSettings *settings, const QStringList &sections, const QByteArray &password)
{
    VariantMap tree;
    if (!loadFile(settings, password, &tree, nullptr))
        return false;
    VariantMap sectionMap = takeMap(tree, tree::sections());
    for (const QString &name : sections)
        sectionMap.remove(name);
    // One pass over the order list, however many names are deleted.
    const QSet<QString> doomed(sections.cbegin(), sections.cend());
    QStringList order;
    for (const QString &name : tree.value(tree::sectionsOrder()).toStringList()) {
        if (!doomed.contains(name))
            order.append(name);
    }
    tree.insert(tree::sections(), sectionMap);
    tree.insert(tree::sectionsOrder(), order);
    return saveFaithfully(settings, password, tree);
}

} // namespace drovik
