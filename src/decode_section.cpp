#include "decode_section.h"

#include "config_tree.h"
#include "decode_params.h"
#include "key_path.h"
#include "stored_chunks.h"
#include "stored_names.h"
#include "stored_payload.h"

namespace drovik {

bool loadSection(const QByteArray &password, const QString &section,
                 QMap<QString, QVariant> *sectionNode, bool *needsSaving)
{
    QMap<QString, QVariant> params = takeMap(*sectionNode, tree::params());
    const bool marked
            = params.value(stored::sectionEnabled()).toMap().value(tree::value()).toBool();
    if (!marked)
        return loadPlainSection(password, section, sectionNode, &params, needsSaving);

    bool found = false;
    bool result = decodeProtectedSection(password, section, sectionNode, &params, &found);
    if (!found) {
        // Marked by hand but still plain: load it plain, the next save encrypts it.
        if (!loadPlainSection(password, section, sectionNode, &params, needsSaving))
            return false;
        result = true;
    } else if (!result) {
        sectionNode->insert(tree::params(),
                            params); // the decoder left the raw params alone
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
        markNeedsSaving(needsSaving);
    return result;
}

bool loadPlainSection(const QByteArray &password, const QString &section,
                      QMap<QString, QVariant> *sectionNode, QMap<QString, QVariant> *params,
                      bool *needsSaving)
{
    // A magic text belongs inside a payload only; one left in plain is stale.
    if (section == stored::fileGroup() && params->remove(stored::fileMagicParam()) > 0)
        markNeedsSaving(needsSaving);
    if (params->remove(stored::sectionMagic()) > 0)
        markNeedsSaving(needsSaving);

    QStringList order = takeList(*sectionNode, tree::paramsOrder());
    const bool ok = decodeProtectedParams(password, section, params, &order, needsSaving);
    sectionNode->insert(tree::paramsOrder(), order);
    sectionNode->insert(tree::params(), *params);
    return ok;
}

bool decodeProtectedSection(const QByteArray &password, const QString &section,
                            QMap<QString, QVariant> *sectionNode, QMap<QString, QVariant> *params,
                            bool *found)
{
    // Without a public key and a first chunk the section is only marked.
    if (!params->contains(stored::sectionPublic()) || !params->contains(stored::sectionChunk(0))) {
        *found = false;
        return true;
    }
    *found = true;

    auto storedValue = [params](const QString &name) {
        return params->value(name).toMap().value(tree::value());
    };
    const QString publicKey = storedValue(stored::sectionPublic()).toString();
    const QMap<QString, QVariant> algorithmNode = params->value(stored::sectionAlgorithm()).toMap();
    const int algorithm = algorithmNode.contains(tree::value())
            ? algorithmNode.value(tree::value()).toInt()
            : stored::writtenAlgorithm;

    // Chunks join from 000 upward; the first gap ends the cipher text.
    QString cipherText;
    int gap = 0;
    for (;; ++gap) {
        const auto chunk = params->constFind(stored::sectionChunk(gap));
        if (chunk == params->cend())
            break;
        cipherText += chunk.value().toMap().value(tree::value()).toString();
    }
    const QString chunkPrefix = stored::sectionChunkPrefix();
    QStringList chunkNames;
    for (auto it = params->lowerBound(chunkPrefix);
         it != params->cend() && it.key().startsWith(chunkPrefix); ++it)
        chunkNames.append(it.key());
    if (chunkBeyondGap(chunkNames, chunkPrefix, gap))
        return false;

    QMap<QString, QVariant> payload = decryptPayload(cipherText, publicKey, password, algorithm);
    // The magic key carries the section name, so a section renamed by hand fails
    // here exactly as a wrong password does.
    const QString magicKey = section + QLatin1Char('/') + stored::sectionMagic();
    if (payload.value(magicKey).toString() != stored::sectionMagicText(algorithm))
        return false;

    sectionNode->insert(tree::encryptedSection(), true);
    payload.remove(stored::fileMagicKey());
    payload.remove(magicKey);

    OrderList order;
    QString ignoredSection;
    QString param;
    for (auto it = payload.cbegin(); it != payload.cend(); ++it) {
        if (!splitKeyPath(it.key(), ignoredSection, param))
            continue;
        order.append(param);
        QMap<QString, QVariant> node = takeMap(*params, param);
        node.insert(tree::value(), it.value());
        params->insert(param, node);
    }
    sectionNode->insert(tree::paramsOrder(), order.names());
    sectionNode->insert(tree::params(), *params);
    return true;
}

} // namespace drovik
