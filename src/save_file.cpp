#include "stored_file.h"

#include "config_tree.h"
#include "stored_names.h"
#include "stored_payload.h"

#include <QtCore/QSettings>

#include <algorithm>
#include <iterator>

namespace drovik {

namespace {

// prefix + name in one allocation of the exact size; operator+ would copy
// prefix and then grow the copy, once for every key the saver writes.
QString joined(const QString &prefix, const QString &name)
{
    QString key(prefix.size() + name.size(), Qt::Uninitialized);
    QChar *out = std::copy(prefix.cbegin(), prefix.cend(), key.data());
    std::copy(name.cbegin(), name.cend(), out);
    return key;
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
    forEachListedSection(tree, [&](const QString &section, const QMap<QString, QVariant> &node) {
        const QString prefix = section + QLatin1Char('/');
        forEachListedParam(node,
                           [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
                               const QVariant value = paramNode.value(tree::value());
                               if (value.isValid())
                                   payload.insert(joined(prefix, param), value);
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

void savePlainSection(QSettings *settings, const QByteArray &password, const QString &section,
                      const QMap<QString, QVariant> &node);

// The typed payload text ends a name at U+0000 and holds it as UTF-8, which
// turns an unpaired surrogate into '?'. A section so named could never be
// opened again (its check text is looked up under the full name), and a
// parameter so named would come back under another name, possibly onto another
// parameter. Such content stays readable in plain rather than locked away or renamed.
bool canHoldProtection(const QString &name)
{
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isNull())
            return false;
        if (!c.isSurrogate())
            continue;
        if (!c.isHighSurrogate() || i + 1 == name.size() || !name.at(i + 1).isLowSurrogate())
            return false;
        ++i; // a whole pair
    }
    return true;
}

void saveProtectedSection(QSettings *settings, const QByteArray &password, const QString &section,
                          const QMap<QString, QVariant> &node)
{
    if (!canHoldProtection(section)) {
        savePlainSection(settings, password, section, node);
        return;
    }
    const QString prefix = section + QLatin1Char('/');
    QMap<QString, QVariant> payload;
    forEachListedParam(node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
        // Reserved names in a protected section are the layout's, never content;
        // the loader keeps them out of the order list, but an empty list stands
        // for every entry, and the previous cipher data would be packed into the
        // new payload at every save.
        if (param.startsWith(stored::sectionPrefix()))
            return;
        const QVariant value = paramNode.value(tree::value());
        if (value.isValid())
            payload.insert(joined(prefix, param), value);
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

// QSettings drops the leading slashes of a name inside a group.
QStringView storedName(const QString &param)
{
    int start = 0;
    while (start < param.size() && param.at(start) == QLatin1Char('/'))
        ++start;
    return QStringView(param).mid(start);
}

// The name under which QSettings will store a parameter's protection keys and
// the loader will find it again: QSettings drops leading and trailing slashes
// of a key and merges repeated ones. Payload keys built from any other spelling would never match.
QString storableParamName(const QString &name)
{
    QString result;
    result.reserve(name.size());
    for (const QChar c : name) {
        if (c == QLatin1Char('/') && (result.isEmpty() || result.endsWith(QLatin1Char('/'))))
            continue;
        result += c;
    }
    if (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

void saveProtectedParam(QSettings *settings, const QByteArray &password, const QString &prefix,
                        const QString &name, const QVariant &value)
{
    const QString param = storableParamName(name);
    if (param.isEmpty())
        return; // no key can hold it, as for a plain parameter without a name
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
    const bool protectable = canHoldProtection(section);
    forEachListedParam(node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
        if (paramNode.isEmpty())
            return;
        const QVariant value = paramNode.value(tree::value());
        // A node whose one entry is a valid "value" carries no flag: the
        // common plain node is not searched a second time.
        const bool onlyValue = paramNode.size() == 1 && value.isValid();
        if (!onlyValue && protectable && readFlag(paramNode, tree::encryptedParam())
            && canHoldProtection(param)) {
            saveProtectedParam(settings, password, prefix, param, value);
            return;
        }
        // Names of the parameter layout are never plain content, also when they
        // only become one as QSettings drops the name's leading slashes.
        if (!value.isValid() || storedName(param).startsWith(stored::paramPrefix()))
            return;
        settings->setValue(joined(prefix, param), value);
    });
}

} // namespace

bool canSaveFaithfully(const QMap<QString, QVariant> &tree)
{
    // Only names that go into a section's or the file's payload are at risk; a
    // protected parameter or a section whose own name holds U+0000 falls back
    // to plain above. Storing the rest in plain would expose it, so the caller
    // refuses instead.
    const bool wholeFile = readFlag(tree, tree::encryptedFile());
    bool faithful = true;
    forEachListedSection(tree, [&](const QString &section, const QMap<QString, QVariant> &node) {
        const bool sectionNameFits = canHoldProtection(section);
        if (!wholeFile && !(sectionNameFits && readFlag(node, tree::encryptedSection())))
            return;
        forEachListedParam(
                node, [&](const QString &param, const QMap<QString, QVariant> &paramNode) {
                    const bool packed = wholeFile || !param.startsWith(stored::sectionPrefix());
                    if (packed && paramNode.value(tree::value()).isValid()
                        && !(sectionNameFits && canHoldProtection(param)))
                        faithful = false;
                });
    });
    return faithful;
}

bool saveFaithfully(QSettings *settings, const QByteArray &password,
                    const QMap<QString, QVariant> &tree)
{
    if (!canSaveFaithfully(tree))
        return false;
    saveFile(settings, password, tree);
    return true;
}

void saveFile(QSettings *settings, const QByteArray &password, const QMap<QString, QVariant> &tree)
{
    settings->clear();
    if (readFlag(tree, tree::encryptedFile())) {
        saveProtectedFile(settings, password, tree);
        return;
    }
    forEachListedSection(tree, [&](const QString &section, const QMap<QString, QVariant> &node) {
        if (readFlag(node, tree::encryptedSection()))
            saveProtectedSection(settings, password, section, node);
        else
            savePlainSection(settings, password, section, node);
    });
}

} // namespace drovik
