#include "decode_params.h"

#include "config_tree.h"
#include "stored_names.h"
#include "stored_payload.h"

#include <QtCore/QSet>

namespace drovik {

namespace {

QVariant storedValue(const QMap<QString, QVariant> &params, const QString &name)
{
    return params.value(name).toMap().value(tree::value());
}

// Names of the parameters whose switch reads true, in ascending switch order.
QStringList markedParams(const QMap<QString, QVariant> &params)
{
    // The map is sorted, so every switch sits in one run starting at the prefix.
    const QString prefix = stored::paramEnabledPrefix();
    // The switch name and the one separator character after it are dropped.
    const int nameStart = prefix.size() + 1;
    QStringList names;
    for (auto it = params.lowerBound(prefix); it != params.cend() && it.key().startsWith(prefix);
         ++it) {
        if (it.value().toMap().value(tree::value()).toBool())
            names.append(it.key().mid(nameStart));
    }
    return names;
}

} // namespace

bool decodeProtectedParams(const QByteArray &password, const QString &section,
                           QMap<QString, QVariant> *params, QStringList *order, bool *needsSaving)
{
    const QStringList marked = markedParams(*params);
    if (marked.isEmpty())
        return true;

    QSet<QString> listed(order->cbegin(), order->cend());
    for (const QString &name : marked) {
        const QString enabledName = stored::paramEnabled(name);
        const QString publicName = stored::paramPublic(name);
        const QString algorithmName = stored::paramAlgorithm(name);
        const QString dataName = stored::paramData(name);

        QMap<QString, QVariant> node;
        if (!params->contains(publicName) || !params->contains(dataName)) {
            // Marked by hand, still plain: keep the plain value, the next save encrypts it.
            node = params->value(name).toMap();
            node.insert(tree::encryptedParam(), true);
            markNeedsSaving(needsSaving);
        } else {
            const QMap<QString, QVariant> algorithmNode = params->value(algorithmName).toMap();
            const int algorithm = algorithmNode.contains(tree::value())
                    ? algorithmNode.value(tree::value()).toInt()
                    : stored::writtenAlgorithm;
            const QMap<QString, QVariant> payload = decryptPayload(
                    storedValue(*params, dataName).toString(),
                    storedValue(*params, publicName).toString(), password, algorithm);
            const QString prefix = section + QLatin1Char('/');
            if (payload.value(prefix + stored::paramMagic(name)).toString()
                != stored::paramMagicText(algorithm))
                return false;
            node.insert(tree::encryptedParam(), true);
            node.insert(tree::value(), payload.value(prefix + stored::paramDataParam(name)));
        }
        params->remove(enabledName);
        params->remove(publicName);
        params->remove(algorithmName);
        params->remove(dataName);
        params->insert(name, node);
        if (!listed.contains(name)) {
            listed.insert(name);
            order->append(name);
        }
    }
    return true;
}

} // namespace drovik
