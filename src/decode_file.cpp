#include "decode_file.h"

#include "key_path.h"
#include "section_builder.h"
#include "stored_chunks.h"
#include "stored_names.h"
#include "stored_payload.h"

#include <QtCore/QSettings>

namespace drovik {

bool decodeProtectedFile(const QSettings *settings, const QByteArray &password,
                         QMap<QString, QVariant> *tree, bool *found)
{
    // Without a public key and a first chunk the file is only marked.
    if (!settings->contains(stored::filePublic()) || !settings->contains(stored::fileChunk(0))) {
        *found = false;
        return true;
    }
    *found = true;

    const QString publicKey = settings->value(stored::filePublic()).toString();
    const int algorithm
            = settings->value(stored::fileAlgorithm(), stored::writtenAlgorithm).toInt();
    QString cipherText;
    int gap = 0;
    for (;; ++gap) {
        const QString chunkKey = stored::fileChunk(gap);
        if (!settings->contains(chunkKey))
            break; // the first gap ends the cipher text
        cipherText += settings->value(chunkKey).toString();
    }
    const QString chunkPrefix = stored::fileChunkPrefix();
    QStringList chunkNames;
    for (const QString &key : settings->allKeys()) {
        if (key.startsWith(chunkPrefix))
            chunkNames.append(key);
    }
    if (chunkBeyondGap(chunkNames, chunkPrefix, gap))
        return false;

    QMap<QString, QVariant> payload = decryptPayload(cipherText, publicKey, password, algorithm);
    if (payload.value(stored::fileMagicKey()).toString() != stored::fileMagicText(algorithm))
        return false;
    payload.remove(stored::fileMagicKey());

    SectionBuilder builder;
    for (auto it = payload.cbegin(); it != payload.cend(); ++it) {
        const int split = keyPathSplit(it.key());
        if (split >= 0)
            builder.setValue(it.key(), split, it.value());
    }
    tree->insert(tree::sectionsOrder(), builder.sectionOrder());
    tree->insert(tree::sections(), builder.takeSections());
    return true;
}

} // namespace drovik
