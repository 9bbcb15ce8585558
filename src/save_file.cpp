#include "secure_wipe.h"
#include "stored_names.h"
#include "tree_access.h"

#include <drovik/drovik.h>

#include <QtCore/QSettings>

using namespace drovik;

namespace {

// The saver writes what the order lists name; an empty list stands for every
// key of its map in ascending order. Names without a node are skipped.
template<typename Visit> void forEachSection(const QMap<QString, QVariant> &tree, Visit visit)
{
    const QMap<QString, QVariant> sections = tree.value(tree::sections()).toMap();
    QStringList order = tree.value(tree::sectionsOrder()).toStringList();
    if (order.isEmpty())
        order = sections.keys();
    for (const QString &name : qAsConst(order)) {
        const QMap<QString, QVariant> node = sections.value(name).toMap();
        if (!node.isEmpty())
            visit(name, node);
    }
}

template<typename Visit> void forEachParam(const QMap<QString, QVariant> &sectionNode, Visit visit)
{
    const QMap<QString, QVariant> params = sectionNode.value(tree::params()).toMap();
    if (params.isEmpty())
        return;
    QStringList order = sectionNode.value(tree::paramsOrder()).toStringList();
    if (order.isEmpty())
        order = params.keys();
    for (const QString &name : qAsConst(order))
        visit(name, params.value(name).toMap());
}

// Encrypts one payload under a fresh public key. The typed text holds every
// protected value in plain, so it is wiped as soon as it is encrypted.
QString encryptPayload(const QMap<QString, QVariant> &payload, const QByteArray &password,
                       QString *publicKey)
{
    QString text = Drovik::tinyStrictToText(payload);
    *publicKey = Drovik::genPublicKey();
    const QString cipher
            = Drovik::decryptEncrypt(false, text, *publicKey, password, stored::writtenAlgorithm);
    secureWipe(text);
    return cipher;
}

// Long cipher text goes into numbered chunks: `length` characters each while
// more than `threshold` remain, then the rest. Pieces are cut by offset, so
// the remainder is never copied.
template<typename ChunkKey>
void writeChunks(QSettings *settings, const QString &cipher, int threshold, int length,
                 ChunkKey chunkKey)
{
    int offset = 0;
    int index = 0;
    while (cipher.size() - offset > threshold) {
        settings->setValue(chunkKey(index++), cipher.mid(offset, length));
        offset += length;
    }
    if (offset < cipher.size())
        settings->setValue(chunkKey(index), cipher.mid(offset));
}

void saveProtectedFile(QSettings *settings, const QByteArray &password,
                       const QMap<QString, QVariant> &tree)
{
    // Inner protection flags are not stored: every value goes into the one payload.
    QMap<QString, QVariant> payload;
    forEachSection(tree, [&](const QString &section, const QMap<QString, QVariant> &node) {
        const QString prefix = section + QLatin1Char('/');
        forEachParam(node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
            const QVariant value = paramNode.value(tree::value());
            if (value.isValid())
                payload.insert(prefix + param, value);
        });
    });
    payload.insert(stored::fileMagicKey(), stored::fileMagicText(stored::writtenAlgorithm));

    QString publicKey;
    const QString cipher = encryptPayload(payload, password, &publicKey);
    settings->setValue(stored::fileEnabled(), true);
    settings->setValue(stored::filePublic(), publicKey);
    settings->setValue(stored::fileAlgorithm(), stored::writtenAlgorithm);
    writeChunks(settings, cipher, stored::fileChunkThreshold, stored::fileChunkLength,
                [](int index) { return stored::fileChunk(index); });
}

void saveProtectedSection(QSettings *settings, const QByteArray &password, const QString &section,
                          const QMap<QString, QVariant> &node)
{
    const QString prefix = section + QLatin1Char('/');
    QMap<QString, QVariant> payload;
    forEachParam(node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
        const QVariant value = paramNode.value(tree::value());
        if (value.isValid())
            payload.insert(prefix + param, value);
    });
    // A section with nothing to write leaves nothing, not even its switch, as a
    // plain one does: deleting the last parameter of a protected section removes
    // the section instead of keeping an empty shell that still lists it.
    if (payload.isEmpty())
        return;
    payload.insert(prefix + stored::sectionMagic(),
                   stored::sectionMagicText(stored::writtenAlgorithm));

    QString publicKey;
    const QString cipher = encryptPayload(payload, password, &publicKey);
    settings->setValue(prefix + stored::sectionEnabled(), true);
    settings->setValue(prefix + stored::sectionPublic(), publicKey);
    settings->setValue(prefix + stored::sectionAlgorithm(), stored::writtenAlgorithm);
    writeChunks(settings, cipher, stored::sectionChunkThreshold, stored::sectionChunkLength,
                [&prefix](int index) { return prefix + stored::sectionChunk(index); });
}

void saveProtectedParam(QSettings *settings, const QByteArray &password, const QString &prefix,
                        const QString &param, const QVariant &value)
{
    QMap<QString, QVariant> payload;
    payload.insert(prefix + stored::paramDataParam(param), value);
    payload.insert(prefix + stored::paramMagic(param),
                   stored::paramMagicText(stored::writtenAlgorithm));

    QString publicKey;
    const QString cipher = encryptPayload(payload, password, &publicKey);
    settings->setValue(prefix + stored::paramEnabled(param), true);
    settings->setValue(prefix + stored::paramPublic(param), publicKey);
    settings->setValue(prefix + stored::paramAlgorithm(param), stored::writtenAlgorithm);
    settings->setValue(prefix + stored::paramData(param), cipher);
}

void savePlainSection(QSettings *settings, const QByteArray &password, const QString &section,
                      const QMap<QString, QVariant> &node)
{
    const QString prefix = section + QLatin1Char('/');
    forEachParam(node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
        if (paramNode.isEmpty())
            return;
        const QVariant value = paramNode.value(tree::value());
        if (readFlag(paramNode, tree::encryptedParam())) {
            saveProtectedParam(settings, password, prefix, param, value);
            return;
        }
        // Names of the parameter layout are never plain content.
        if (param.startsWith(stored::paramPrefix()) || !value.isValid())
            return;
        settings->setValue(prefix + param, value);
    });
}

} // namespace

void Drovik::saveFile(QSettings *settings, const QByteArray &password,
                      const QMap<QString, QVariant> *tree)
{
    settings->clear();
    if (readFlag(*tree, tree::encryptedFile())) {
        saveProtectedFile(settings, password, *tree);
        return;
    }
    forEachSection(*tree, [&](const QString &section, const QMap<QString, QVariant> &node) {
        if (readFlag(node, tree::encryptedSection()))
            saveProtectedSection(settings, password, section, node);
        else
            savePlainSection(settings, password, section, node);
    });
}

bool Drovik::getFileDataWithSaving(QSettings *settings, const QByteArray &password,
                                   QMap<QString, QVariant> *tree)
{
    bool needsSaving = false;
    const bool ok = parseFile(settings, password, tree, &needsSaving);
    if (ok && needsSaving)
        saveFile(settings, password, tree);
    return ok;
}
